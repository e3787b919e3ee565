#include "mbus/value_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarnel {
namespace {

std::string withSeparator(std::string text, char separator) {
    for (char& c : text)
        if (c == '.') c = separator;
    return text;
}

}  // namespace

std::string FormatValue(long double value, char decimalSeparator) {
    if (value == 0 || !std::isfinite(value)) return withSeparator("0.000", decimalSeparator);
    // Round to 8 significant digits first; "%.7Le" gives exactly that.
    char scientific[64];
    std::snprintf(scientific, sizeof scientific, "%.7Le", value);
    const long double rounded = std::strtold(scientific, nullptr);
    const int exponent = std::atoi(std::strchr(scientific, 'e') + 1);
    if (exponent < 8) {
        char fixed[64];
        std::snprintf(fixed, sizeof fixed, "%.3Lf", rounded);
        std::string text = fixed;
        if (text == "-0.000") text = "0.000";
        return withSeparator(text, decimalSeparator);
    }
    // Exponent form: the significant digits with trailing zeros dropped.
    std::string mantissa(scientific, std::strchr(scientific, 'e'));
    while (mantissa.back() == '0')
        mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
    return withSeparator(mantissa, decimalSeparator) + "E" + std::to_string(exponent);
}

std::string FormatScaledValue(int64_t integer, double multiplier, char decimalSeparator) {
    return FormatValue(static_cast<long double>(integer) * static_cast<long double>(multiplier),
                       decimalSeparator);
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
