#include "mbus/value_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace tarnel {
namespace {

// magnitude x 10^exponent, negated when `negative`.
struct Decimal {
    bool negative = false;
    uint64_t magnitude = 0;
    int exponent = 0;
};

// The largest power of ten a double holds exactly; its reciprocal is then the
// double nearest to the negative power, as the VIF table's multipliers are.
constexpr int kExactDoublePowers = 22;

int digitCount(uint64_t number) {
    int count = 1;
    for (; number >= 10; number /= 10)
        ++count;
    return count;
}

// number / 10^places, rounded half away from zero; places >= 1.
uint64_t roundOff(uint64_t number, int places) {
    // 10^20 is more than twice any 64-bit number, so everything rounds to 0.
    if (places >= 20) return 0;
    uint64_t divisor = 1;
    for (int i = 0; i < places; ++i)
        divisor *= 10;
    const uint64_t quotient = number / divisor;
    return number % divisor >= divisor / 2 ? quotient + 1 : quotient;
}

std::string zeroText(char separator) {
    return std::string("0") + separator + "000";
}

std::string formatDecimal(const Decimal& value, char separator) {
    if (value.magnitude == 0) return zeroText(separator);
    // The single rounding: at the eighth significant digit, but never finer
    // than the third decimal.
    const int leading = value.exponent + digitCount(value.magnitude) - 1;
    const int place = std::max(leading - 7, -3);
    uint64_t magnitude = value.magnitude;
    int exponent = value.exponent;
    if (place > exponent) {
        magnitude = roundOff(magnitude, place - exponent);
        exponent = place;
    }
    if (magnitude == 0) return zeroText(separator);  // no "-0.000"

    std::string digits = std::to_string(magnitude);
    const std::string sign = value.negative ? "-" : "";
    // Recounted: the rounding may have carried into a new leading digit.
    const int power = exponent + static_cast<int>(digits.size()) - 1;
    if (power >= 8) {
        // At most 8 significant digits are left here; trailing zeros carry nothing.
        while (digits.back() == '0')
            digits.pop_back();
        std::string mantissa = digits.substr(0, 1);
        if (digits.size() > 1) mantissa += separator + digits.substr(1);
        return sign + mantissa + "E" + std::to_string(power);
    }
    // Thousandths: exponent >= -3 after the rounding, and the value is below 10^8.
    digits.append(static_cast<size_t>(exponent + 3), '0');
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    const size_t point = digits.size() - 3;
    return sign + digits.substr(0, point) + separator + digits.substr(point);
}

// The k with multiplier == the double nearest to 10^k, if there is one.
std::optional<int> decimalExponent(double multiplier) {
    double power = 1;
    for (int k = 0; k <= kExactDoublePowers; ++k, power *= 10) {
        if (multiplier == power) return k;
        if (multiplier == 1 / power) return -k;
    }
    return std::nullopt;
}

}  // namespace

std::string FormatValue(long double value, char decimalSeparator) {
    if (value == 0 || !std::isfinite(value)) return zeroText(decimalSeparator);
    char scientific[64];
    std::snprintf(scientific, sizeof scientific, "%.16Le", value);
    Decimal decimal;
    const char* c = scientific;
    if (*c == '-') {
        decimal.negative = true;
        ++c;
    }
    for (; *c != 'e'; ++c)
        if (*c != '.') decimal.magnitude = decimal.magnitude * 10 + static_cast<uint64_t>(*c - '0');
    decimal.exponent = std::atoi(c + 1) - 16;
    return formatDecimal(decimal, decimalSeparator);
}

std::string FormatScaledValue(int64_t integer, double multiplier, char decimalSeparator) {
    const std::optional<int> exponent = decimalExponent(multiplier);
    if (!exponent)
        return FormatValue(static_cast<long double>(integer) * static_cast<long double>(multiplier),
                           decimalSeparator);
    // Unsigned negation, so that INT64_MIN has a magnitude too.
    const uint64_t magnitude =
        integer < 0 ? 0 - static_cast<uint64_t>(integer) : static_cast<uint64_t>(integer);
    return formatDecimal({integer < 0, magnitude, *exponent}, decimalSeparator);
}

long double ParseValueText(const std::string& text, char decimalSeparator) {
    std::string plain = text;
    for (char& c : plain)
        if (c == decimalSeparator) c = '.';
    char* end = nullptr;
    const long double value = std::strtold(plain.c_str(), &end);
    return end == plain.c_str() || *end != '\0' ? 0 : value;
}

}  // namespace tarnel
