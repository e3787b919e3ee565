#include "mbus/telegram_decoder.h"

#include <cctype>
#include <stdexcept>

#include "base/hex_text.h"
#include "mbus/data_records.h"
#include "mbus/record_parts.h"
#include "mbus/value_format.h"

namespace tarnel {
namespace {

constexpr size_t kHeaderEnd = 19;  // the fixed header fills positions 0 to 18

std::string respondLine(std::span<const uint8_t> telegram) {
    return "Respond: " + HexBytes(std::string_view(reinterpret_cast<const char*>(telegram.data()),
                                                   telegram.size()));
}

// The frame checks; each failing one adds its line.
bool frameChecksPass(std::span<const uint8_t> telegram, std::vector<std::string>& lines) {
    const size_t size = telegram.size();
    bool ok = true;
    uint8_t sum = 0;
    for (size_t i = 4; i + 2 < size; ++i)
        sum = static_cast<uint8_t>(sum + telegram[i]);
    if (sum != telegram[size - 2]) {
        lines.push_back("Wrong CRC");
        ok = false;
    }
    if (telegram[size - 1] != 0x16) {
        lines.push_back("Wrong STOP byte");
        ok = false;
    }
    if (size != size_t{telegram[1]} + 6) {
        lines.push_back("Wrong length in the header");
        ok = false;
    }
    return ok;
}

// The value and unit of a "ZPA" meter: the sum of its first two records.
RecordText zpaValue(std::span<const uint8_t> telegram, char separator) {
    const RecordText first = DecodeRecordAt(telegram, 23, separator);
    const RecordText second = DecodeRecordAt(telegram, 33, separator);
    RecordText sum;
    sum.lines = first.lines;
    sum.lines.insert(sum.lines.end(), second.lines.begin(), second.lines.end());
    sum.value = FormatValue(
        ParseValueText(first.value, separator) + ParseValueText(second.value, separator),
        separator);
    sum.unit = second.unit;
    return sum;
}

}  // namespace

std::string MbusIdText(const std::string& hex) {
    return hex.substr(20, 2) + hex.substr(18, 2) + hex.substr(16, 2) + hex.substr(14, 2);
}

std::string ManufacturerLetters(uint16_t code) {
    return {static_cast<char>(64 + (code >> 10)), static_cast<char>(64 + ((code >> 5) & 31)),
            static_cast<char>(64 + (code & 31))};
}

std::string MbusManufacturerText(const std::string& hex) {
    const int low = std::stoi(hex.substr(22, 2), nullptr, 16);
    const int high = std::stoi(hex.substr(24, 2), nullptr, 16);
    return ManufacturerLetters(static_cast<uint16_t>(high * 256 + low));
}

std::string MbusMediumText(const std::string& hex) {
    const std::string code = hex.substr(28, 2);
    const bool isHex = code.size() == 2 && std::isxdigit(static_cast<unsigned char>(code[0])) &&
                       std::isxdigit(static_cast<unsigned char>(code[1]));
    return isHex ? MbusMediumName(static_cast<uint8_t>(std::stoi(code, nullptr, 16))) : "Unknown";
}

std::string MbusMediumName(uint8_t code) {
    static const std::pair<uint8_t, const char*> kMedia[] = {
        {0x00, "Other"}, {0x01, "Oil"},   {0x02, "Electricity"}, {0x03, "Gas"},
        {0x04, "Heat"},  {0x05, "Steam"}, {0x06, "Hot water"},   {0x07, "Water"},
        {0x08, "Heat"},  {0x0B, "Cold"},  {0x16, "Cold water"},  {0x18, "Pressure"},
    };
    for (const auto& [key, text] : kMedia)
        if (code == key) return text;
    return "Unknown";
}

std::string MbusStatusText(std::span<const uint8_t> telegram) {
    return HexText(telegram.subspan(16, 1));
}

DecodedTelegram DecodeMbusTelegram(std::span<const uint8_t> telegram, const std::string& timeText,
                                   char separator) {
    DecodedTelegram decoded;
    decoded.lines.push_back(respondLine(telegram));
    if (telegram.size() < 8) return decoded;
    if (!frameChecksPass(telegram, decoded.lines)) return decoded;
    // A frame that passes its checks but has no room for the fixed header
    // before its checksum cannot be decoded.
    if (telegram.size() < kHeaderEnd + 2) return decoded;
    try {
        const std::string hex = HexText(telegram);
        LoopsRow row;
        row[0] = MbusIdText(hex);
        row[1] = std::to_string(HexText8ToInt("000000" + hex.substr(10, 2)));
        row[2] = MbusManufacturerText(hex);
        row[5] = MbusMediumText(hex);
        row[6] = MbusStatusText(telegram);
        row[7] = timeText;
        const RecordText record = row[2] == "ZPA" ? zpaValue(telegram, separator)
                                                  : DecodeFirstRecord(telegram, separator);
        decoded.lines.insert(decoded.lines.end(), record.lines.begin(), record.lines.end());
        row[3] = record.value;
        row[4] = record.unit;
        decoded.row = row;
        decoded.ok = true;
    } catch (const std::exception&) {
        decoded.lines.push_back("Unexpected error in the telegram...");
    }
    return decoded;
}

}  // namespace tarnel
