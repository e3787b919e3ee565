#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnel {

// The value and unit texts of one data record (EN 13757-3), and the lines it
// logged. Both texts are empty when the record could not be decoded.
struct RecordText {
    std::string value;
    std::string unit;
    std::vector<std::string> lines;
};

// The first record of a meter's RSP_UD reply (DIF at position 19), or the
// one after it when the first is a fabrication number (VIF 0x78). The data
// start after the VIF and its extension bytes (or after a user ASCII unit).
// Nothing at or past the checksum byte (position L + 4) is read: a record
// that would need such a byte gives empty texts.
RecordText DecodeFirstRecord(std::span<const uint8_t> telegram, char decimalSeparator = '.');

// The record whose data start at `dataPosition`, with a DIFE and a VIFE
// (skipped) before them: how "ZPA" meters lay out their two energy records.
RecordText DecodeRecordAt(std::span<const uint8_t> telegram, size_t dataPosition,
                          char decimalSeparator = '.');

}  // namespace tarnel
