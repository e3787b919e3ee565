#include "mbus/data_records.h"

#include <optional>

#include "mbus/record_parts.h"
#include "mbus/value_format.h"
#include "mbus/vif_tables.h"

namespace tarnel {
namespace {

constexpr size_t kFirstDif = 19;
constexpr size_t kFirstVif = 20;

const char* const kUnrecognizedDif = "Unrecognizable DIF value - not decoded...";

// The bytes a record may read: everything before the checksum (L + 4).
size_t recordLimit(std::span<const uint8_t> telegram) {
    if (telegram.size() < 2) return 0;
    return std::min<size_t>(telegram.size(), size_t{telegram[1]} + 4);
}

// Data length of the fabrication-number record removed before the first
// record: the data field's fixed length, except for two codes that have no
// fixed length and are counted as if they had one: the variable length 0xD as
// 4 bytes (no LVAR is read) and the special function 0xF as 8.
size_t skippedDataLength(uint8_t dif) {
    const uint8_t code = dif & 0x0F;
    if (code == 0xD) return 4;
    if (code == 0xF) return 8;
    return *records::FixedDataLength(code);
}

// An integer of `size` bytes, least significant first, two's complement.
int64_t signedInteger(std::span<const uint8_t> data) {
    uint64_t value = 0;
    for (size_t i = data.size(); i-- > 0;)
        value = value << 8 | data[i];
    const unsigned bits = static_cast<unsigned>(data.size()) * 8;
    if (bits < 64 && (value >> (bits - 1) & 1)) value |= ~uint64_t{0} << bits;
    return static_cast<int64_t>(value);
}

// BCD digits, least significant byte first; nothing for a nibble above 9 or
// a number beyond the 32-bit range.
std::optional<int64_t> bcdInteger(std::span<const uint8_t> data) {
    int64_t value = 0;
    for (size_t i = data.size(); i-- > 0;) {
        const int high = data[i] >> 4, low = data[i] & 0x0F;
        if (high > 9 || low > 9) return std::nullopt;
        value = value * 100 + high * 10 + low;
    }
    if (value > 2147483647) return std::nullopt;
    return value;
}

enum class Coding { Integer, Bcd, None };

struct DataCoding {
    Coding coding;
    size_t bytes;
};

// The codings a first record may have.
DataCoding firstRecordCoding(uint8_t dif) {
    switch (dif & 0x0F) {
        case 0x1:
            return {Coding::Integer, 1};
        case 0x2:
            return {Coding::Integer, 2};
        case 0x3:
            return {Coding::Integer, 3};
        case 0x4:
            return {Coding::Integer, 4};
        case 0x9:
            return {Coding::Bcd, 1};
        case 0xA:
            return {Coding::Bcd, 2};
        case 0xB:
            return {Coding::Bcd, 3};
        case 0xC:
            return {Coding::Bcd, 4};
        case 0xE:
            return {Coding::Bcd, 5};  // the 10 lowest digits of 12
        default:
            return {Coding::None, 0};
    }
}

// The codings of a "ZPA" record: the real and 48-bit codings are read as
// their first four bytes.
DataCoding zpaRecordCoding(uint8_t dif) {
    switch (dif & 0x0F) {
        case 0x5:
        case 0x6:
            return {Coding::Integer, 4};
        default:
            return firstRecordCoding(dif);
    }
}

// Reads the data at `position` by `coding` and formats it; nothing when the
// data reach the limit or do not convert.
std::optional<std::string> decodeData(std::span<const uint8_t> telegram, size_t position,
                                      size_t limit, DataCoding coding, double multiplier,
                                      char separator) {
    if (position + coding.bytes > limit) return std::nullopt;
    const auto data = telegram.subspan(position, coding.bytes);
    const std::optional<int64_t> integer =
        coding.coding == Coding::Integer ? std::optional(signedInteger(data)) : bcdInteger(data);
    if (!integer) return std::nullopt;
    return FormatScaledValue(*integer, multiplier, separator);
}

// Where the data of a record with its VIF at position 20 start, past the VIF's
// extension bytes or user ASCII unit; nothing when they reach the limit or
// the chain is too long.
std::optional<size_t> dataStart(std::span<const uint8_t> record, size_t limit) {
    const auto vif = records::ReadVifChain(record, kFirstVif, limit);
    if (!vif.error.empty()) return std::nullopt;
    return vif.end;
}

}  // namespace

RecordText DecodeFirstRecord(std::span<const uint8_t> telegram, char separator) {
    RecordText result;
    size_t limit = recordLimit(telegram);
    if (kFirstDif >= limit) return result;
    if (telegram[kFirstDif] >= 0x10) {
        result.lines.push_back(kUnrecognizedDif);
        return result;
    }
    if (kFirstVif >= limit) return result;
    std::vector<uint8_t> record(telegram.begin(), telegram.end());
    if (record[kFirstVif] == 0x78) {
        // A fabrication number first: remove it and read the record after it,
        // by the same rules, from the working copy.
        const size_t removed = 2 + skippedDataLength(record[kFirstDif]);
        if (kFirstDif + removed > limit) {
            result.lines.push_back("Error decoding VIF=0x78...");
            return result;
        }
        record.erase(record.begin() + kFirstDif, record.begin() + kFirstDif + removed);
        limit -= removed;
        result.lines.push_back("Fabr. No. first...");
        if (kFirstDif >= limit) return result;
        if (record[kFirstDif] >= 0x10) {
            result.lines.push_back(kUnrecognizedDif);
            return result;
        }
        if (kFirstVif >= limit) return result;
    }
    const std::optional<size_t> start = dataStart(record, limit);
    if (!start) return result;
    const UnitScale unit = VifToUnit(record, kFirstVif, record[kFirstVif]);
    const DataCoding coding = firstRecordCoding(record[kFirstDif]);
    if (coding.coding == Coding::None) {
        result.lines.push_back(kUnrecognizedDif);
        return result;
    }
    const auto value = decodeData(record, *start, limit, coding, unit.multiplier, separator);
    if (!value) return result;
    result.value = *value;
    result.unit = unit.unit;
    return result;
}

RecordText DecodeRecordAt(std::span<const uint8_t> telegram, size_t dataPosition, char separator) {
    RecordText result;
    const size_t limit = recordLimit(telegram);
    if (dataPosition < 4 || dataPosition - 2 >= limit) return result;
    // Only the low four bits of the VIF count: an energy unit, codes 00 to 0F.
    const UnitScale unit = PlainVifUnit(telegram[dataPosition - 2] & 0x0F);
    const DataCoding coding = zpaRecordCoding(telegram[dataPosition - 4]);
    if (coding.coding == Coding::None) {
        result.lines.push_back("Unrecognizable DIF value - not decoded, 1...");
        return result;
    }
    const auto value =
        decodeData(telegram, dataPosition, limit, coding, unit.multiplier, separator);
    if (!value) return result;
    result.value = *value;
    result.unit = unit.unit;
    return result;
}

}  // namespace tarnel
