#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnel {

// Every data record of a meter's RSP_UD long frame, decoded by the rules of
// the M-Bus application layer (EN 13757-3): the variable data structure after
// the fixed header, record by record up to the checksum byte.

// The DIF's function field.
enum class RecordFunction { Instantaneous, Maximum, Minimum, Error };

// How a record's value text is to be read.
enum class ValueKind {
    Number,    // exact decimal text: the integer with the VIF's power of ten applied
    Date,      // ISO 8601 date, "2014-03-13"
    DateTime,  // ISO 8601 date and time, "2014-03-13T11:11" (seconds when coded)
    Time,      // ISO 8601 time of day, "12:34:30"
    Text,      // plain text (variable-length ASCII), in reading order
    Hex,       // bytes as upper-case hex, two digits a byte, no blanks
    None,      // no data (data field 0, selection for readout) or no valid value
};

struct TelegramRecord {
    size_t offset = 0;           // of the DIF in the telegram (0 is the 0x68 start byte)
    std::vector<uint8_t> bytes;  // DIF to the last data byte
    RecordFunction function = RecordFunction::Instantaneous;
    uint64_t storage = 0;
    uint32_t tariff = 0;
    uint32_t subunit = 0;
    // The quantity in English words ("Energy", "Volume flow", "Flow temperature",
    // "Date and time", "Fabrication number", "Manufacturer specific", ...),
    // after a comma what a VIFE makes the value instead ("Flow temperature,
    // time of end of last maximum", "Volume, number of exceeds of upper
    // limit"); an unknown code is named as such ("Unknown VIF 0x..").
    std::string quantity;
    std::string unit;  // SI unit text ("Wh", "m3/h", "°C", ...) or ""
    ValueKind kind = ValueKind::None;
    std::string value;
    // What the VIFEs add that is not the unit ("per hour", "increment per input
    // pulse", "multiplicative correction 10^-3", "error: ...") and codings that
    // carry no value ("invalid date", "not a BCD number"), joined by "; ".
    std::string note;
};

struct TelegramHeader {
    // 0x72 or 0x7A; or 0x76, mode 2: every field of more than one byte,
    // header and data, most significant byte first.
    uint8_t controlInformation = 0;
    std::string id;            // 8 digits (BCD), "" for CI 0x7A
    std::string manufacturer;  // three letters, "" for CI 0x7A
    int version = -1;          // -1 for CI 0x7A
    int medium = -1;           // the device type byte; -1 for CI 0x7A
    int accessNumber = 0;
    int status = 0;
    std::vector<std::string> statusWords;  // the status bits in words
    uint16_t signature = 0;
};

struct TelegramRecords {
    bool frameOk = false;  // start, length, checksum and stop byte all right
    TelegramHeader header;
    std::vector<TelegramRecord> records;  // in telegram order, idle fillers left out
    bool moreRecordsFollow = false;       // a DIF 0x1F was met
    // Empty when every byte up to the checksum was decoded; else where and
    // why decoding stopped ("record at byte 41: data run past the checksum").
    std::string stopped;
};

// Decodes a whole long frame: 0x68 L L 0x68 C A CI ... CS 0x16. Nothing at or
// past the checksum byte is read as a record.
TelegramRecords DecodeTelegramRecords(std::span<const uint8_t> telegram);

// The texts of the function field: "instantaneous", "maximum", "minimum", "error".
const char* RecordFunctionName(RecordFunction function);

}  // namespace tarnel
