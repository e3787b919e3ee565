// The DIF and its DIFEs, and the data field read into an exact value.
#include <bit>
#include <charconv>
#include <cmath>
#include <utility>

#include "mbus/record_parts.h"
#include "mbus/telegram_decoder.h"

namespace tarnel::records {
namespace {

// Little-endian two's complement of 1 to 8 bytes.
int64_t signedInteger(std::span<const uint8_t> data) {
    uint64_t value = 0;
    for (size_t i = data.size(); i-- > 0;)
        value = value << 8 | data[i];
    const size_t bits = data.size() * 8;
    if (bits > 0 && bits < 64 && (value >> (bits - 1) & 1)) value |= ~uint64_t{0} << bits;
    return static_cast<int64_t>(value);
}

std::vector<uint8_t> mostSignificantFirst(std::span<const uint8_t> data) {
    return {data.rbegin(), data.rend()};
}

RecordValue noValue(std::string note) {
    return {ValueKind::None, "", std::move(note)};
}

RecordValue number(bool negative, std::string digits, const VifMeaning& meaning) {
    if (meaning.style == ValueStyle::Digits)
        return {ValueKind::Number, (negative ? "-" : "") + digits, ""};
    return {ValueKind::Number, DecimalText(negative, std::move(digits), meaning.exponent), ""};
}

RecordValue integerValue(std::span<const uint8_t> data, const VifMeaning& meaning) {
    if (meaning.style == ValueStyle::Binary)
        return {ValueKind::Hex, HexText(mostSignificantFirst(data)), ""};
    if (meaning.style == ValueStyle::Manufacturer && data.size() == 2)
        return {ValueKind::Text, ManufacturerLetters(static_cast<uint16_t>(data[0] | data[1] << 8)),
                ""};
    const int64_t value = signedInteger(data);
    const uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return number(value < 0, std::to_string(magnitude), meaning);
}

// BCD digits, most significant byte last. With `signed_`, a top nibble 0xF
// makes the number negative; any other nibble above 9 makes it no number.
RecordValue bcdValue(std::span<const uint8_t> data, bool negative, bool signed_,
                     const VifMeaning& meaning) {
    // A variable-length BCD field of no bytes (LVAR 0xC0, 0xD0) holds no number.
    if (data.empty()) return noValue("no digits");
    std::string digits;
    bool top = true;
    for (size_t i = data.size(); i-- > 0;) {
        for (const int nibble : {data[i] >> 4, data[i] & 0x0F}) {
            if (std::exchange(top, false) && signed_ && nibble == 0xF) {
                negative = true;
                continue;
            }
            if (nibble > 9) return noValue("not a BCD number");
            digits += static_cast<char>('0' + nibble);
        }
    }
    return number(negative, std::move(digits), meaning);
}

// The shortest text that reads back as the same float, times the VIF's power
// of ten, in decimal.
RecordValue realValue(std::span<const uint8_t> data, const VifMeaning& meaning) {
    const float real = std::bit_cast<float>(static_cast<uint32_t>(signedInteger(data)));
    if (!std::isfinite(real)) return noValue(std::isnan(real) ? "not a number" : "infinite");
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, real, std::chars_format::scientific);
    // "-1.2345e+02": the digits without the point, the exponent after the "e".
    const std::string_view shortest(text, end.ptr);
    const size_t e = shortest.find('e');
    std::string digits;
    int fraction = 0;
    bool afterPoint = false;
    for (const char c : shortest.substr(0, e)) {
        if (c == '.') afterPoint = true;
        if (c < '0' || c > '9') continue;
        digits += c;
        fraction += afterPoint ? 1 : 0;
    }
    int exponent = 0;
    const char* first = shortest.data() + e + 1;
    if (*first == '+') ++first;
    std::from_chars(first, end.ptr, exponent);
    return {ValueKind::Number,
            DecimalText(std::signbit(real), digits, exponent - fraction + meaning.exponent), ""};
}

RecordValue variableValue(uint8_t lvar, std::span<const uint8_t> data, const VifMeaning& meaning) {
    if (lvar <= 0xBF) return {ValueKind::Text, Latin1Reversed(data), ""};
    if (lvar <= 0xC9) return bcdValue(data, false, false, meaning);
    if (lvar >= 0xD0 && lvar <= 0xD9) return bcdValue(data, true, false, meaning);
    if (lvar >= 0xE0 && lvar <= 0xF6)
        return {ValueKind::Hex, HexText(mostSignificantFirst(data)), ""};
    return noValue("reserved LVAR " + HexByte(lvar));
}

bool isInteger(uint8_t code) {
    return (code >= 0x1 && code <= 0x4) || code == 0x6 || code == 0x7;
}

}  // namespace

Chain<DataField> ReadDifChain(std::span<const uint8_t> telegram, size_t position, size_t limit) {
    Chain<DataField> chain;
    DataField& field = chain.value;
    const uint8_t dif = telegram[position];
    field.code = dif & 0x0F;
    // Bits 4-5: instantaneous, maximum, minimum, value during error state.
    field.function = static_cast<RecordFunction>(dif >> 4 & 0x03);
    field.storage = dif >> 6 & 0x01;
    bool extended = dif & 0x80;
    size_t next = position + 1;
    for (unsigned n = 0; extended; ++n) {
        if (n == kMaxExtensions) {
            chain.error = "more than 10 DIFEs";
            return chain;
        }
        if (next >= limit) {
            chain.error = "DIFEs run";
            chain.ranPast = true;
            return chain;
        }
        // Each DIFE: extension bit, one subunit bit, two tariff bits, four
        // storage bits, each above those of the DIFE before.
        const uint8_t dife = telegram[next++];
        field.storage |= uint64_t{dife & 0x0Fu} << (1 + 4 * n);
        field.tariff |= uint32_t{dife >> 4 & 0x03u} << (2 * n);
        field.subunit |= uint32_t{dife >> 6 & 0x01u} << n;
        extended = dife & 0x80;
    }
    chain.end = next;
    return chain;
}

std::optional<size_t> FixedDataLength(uint8_t code) {
    static constexpr uint8_t kLengths[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 0, 6, 0};
    if (code == 0xD) return std::nullopt;
    return kLengths[code & 0x0F];
}

std::optional<size_t> VariableDataLength(uint8_t lvar) {
    if (lvar <= 0xBF) return lvar;                         // text
    if (lvar <= 0xC9) return lvar - 0xC0;                  // positive BCD
    if (lvar >= 0xD0 && lvar <= 0xD9) return lvar - 0xD0;  // negative BCD
    if (lvar >= 0xE0 && lvar <= 0xEF) return lvar - 0xE0;  // binary
    if (lvar >= 0xF0 && lvar <= 0xF4) return 4 * (lvar - 0xEC);
    if (lvar == 0xF5) return 48;
    if (lvar == 0xF6) return 64;
    return std::nullopt;
}

RecordValue DecodeRecordValue(uint8_t code, std::span<const uint8_t> data,
                              const VifMeaning& meaning) {
    if (code == 0x0) return noValue("no data");
    if (code == 0x8) return noValue("selection for readout");
    if (meaning.style == ValueStyle::Date) {
        if (isInteger(code)) return DecodeDate(data);
        return noValue("no date coding in data field " + HexByte(code));
    }
    if (code == 0x5) return realValue(data, meaning);
    if (code == 0xD) return variableValue(data[0], data.subspan(1), meaning);
    if (isInteger(code)) return integerValue(data, meaning);
    return bcdValue(data, false, true, meaning);
}

std::string DecimalText(bool negative, std::string digits, int exponent) {
    if (exponent > 0) {
        digits.append(static_cast<size_t>(exponent), '0');
    } else if (exponent < 0) {
        const size_t fraction = static_cast<size_t>(-exponent);
        if (digits.size() <= fraction) digits.insert(0, fraction + 1 - digits.size(), '0');
        digits.insert(digits.end() - static_cast<std::ptrdiff_t>(fraction), '.');
    }
    size_t zeros = 0;
    while (zeros + 1 < digits.size() && digits[zeros] == '0' && digits[zeros + 1] != '.')
        ++zeros;
    digits.erase(0, zeros);
    if (digits.empty()) return "0";
    const bool zero = digits.find_first_of("123456789") == std::string::npos;
    return negative && !zero ? "-" + digits : digits;
}

std::string Latin1Reversed(std::span<const uint8_t> data) {
    std::string text;
    for (size_t i = data.size(); i-- > 0;) {
        const uint8_t c = data[i];
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string HexByte(uint8_t byte) {
    return "0x" + HexText(byte);
}

}  // namespace tarnel::records
