#include "base/json_text.h"

#include <cstdint>

namespace tarnel {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
size_t sequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong form
        if (lead == 0xED) high = 0x9F;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong form
        if (lead == 0xF4) high = 0x8F;  // at most U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string JsonString(std::string_view utf8) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string json = "\"";
    json.reserve(utf8.size() + 2);
    while (!utf8.empty()) {
        const auto code = static_cast<uint8_t>(utf8.front());
        const size_t length = sequenceLength(utf8);
        if (code == '"' || code == '\\') {
            json += '\\';
            json += static_cast<char>(code);
        } else if (code < 0x20 || code == 0x7F) {
            json += "\\u00";
            json += kDigits[code >> 4];
            json += kDigits[code & 0x0F];
        } else if (length == 0) {
            json += "\xEF\xBF\xBD";  // U+FFFD
        } else {
            json.append(utf8.substr(0, length));
        }
        utf8.remove_prefix(length == 0 ? 1 : length);
    }
    return json + "\"";
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string utf8;
    utf8.reserve(latin1.size());
    for (const char c : latin1) {
        const auto code = static_cast<uint8_t>(c);
        if (code < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | code >> 6);
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

}  // namespace tarnel
