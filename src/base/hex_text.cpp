#include "base/hex_text.h"

#include <stdexcept>

namespace tarnel {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

int32_t HexText8ToInt(std::string_view text) {
    if (text.size() < 8)
        throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
    uint32_t value = 0;
    for (size_t i = 0; i < 8; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value);
}

std::string HexToBinText(std::string_view text) {
    std::string bits;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) continue;
        for (int bit = 3; bit >= 0; --bit)
            bits += (digit >> bit & 1) ? '1' : '0';
    }
    return bits;
}

std::string HexText(std::span<const uint8_t> bytes, std::string_view between) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * (2 + between.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += between;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::string HexBytes(std::string_view bytes) {
    if (bytes.empty()) return {};
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    return HexText(std::span(data, bytes.size()), " ") + ' ';
}

}  // namespace tarnel
