#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarnel {

// Reads exactly the first 8 characters as hexadecimal digits, most
// significant first, upper or lower case; a first digit of 8 or more gives a
// negative value. Throws std::invalid_argument for a text shorter than 8
// characters or a character that is not a hexadecimal digit. Callers pad
// shorter texts with "0" on the left.
int32_t HexText8ToInt(std::string_view text);

// Each hexadecimal digit becomes its four binary digits, most significant
// first; any other character adds nothing.
std::string HexToBinText(std::string_view text);

// Bytes as two upper-case hexadecimal digits each, `between` between two
// bytes: "01 04 02" with " ", "010402" without. Every hex text the program
// shows is made here.
std::string HexText(std::span<const uint8_t> bytes, std::string_view between = {});
inline std::string HexText(uint8_t byte) {
    return HexText(std::span(&byte, 1));
}

// Bytes as two upper-case hexadecimal digits, each followed by one blank
// ("01 04 02 "), as the log shows received frames.
std::string HexBytes(std::string_view bytes);

}  // namespace tarnel
