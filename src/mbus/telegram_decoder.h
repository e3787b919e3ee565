#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnel {

// The eight texts of a meter's row: identification number, primary address,
// manufacturer, value, unit, medium, status, time of the read-out.
using LoopsRow = std::array<std::string, 8>;

// What the decoder made of a meter's reply.
struct DecodedTelegram {
    bool ok = false;
    std::vector<std::string> lines;  // log lines, "Respond: ..." first
    std::optional<LoopsRow> row;     // the row, when the telegram was decoded
};

// Header fields from the telegram's hex text (two upper-case digits a byte).
std::string MbusIdText(const std::string& hex);
std::string MbusManufacturerText(const std::string& hex);
std::string MbusMediumText(const std::string& hex);
// The medium (device type) byte as the grid names it.
std::string MbusMediumName(uint8_t code);
std::string MbusStatusText(std::span<const uint8_t> telegram);
// The three letters of an M-Bus manufacturer code (5 bits a letter, "A" = 1;
// the first letter takes the top 6 bits).
std::string ManufacturerLetters(uint16_t code);

// Decodes a meter's RSP_UD long frame into the texts of its row: checks the
// checksum, the stop byte and the length, then the header and the first
// record's value and unit (the sum of two records for "ZPA" meters).
// `timeText` fills the time column.
DecodedTelegram DecodeMbusTelegram(std::span<const uint8_t> telegram, const std::string& timeText,
                                   char decimalSeparator = '.');

}  // namespace tarnel
