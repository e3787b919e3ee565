#include "mbus/telegram_records.h"

#include <algorithm>
#include <optional>

#include "mbus/record_parts.h"
#include "mbus/telegram_decoder.h"

namespace tarnel {
namespace {

using namespace records;

constexpr uint8_t kLongHeader = 0x72;
constexpr uint8_t kLongHeaderMode2 = 0x76;  // most significant byte first
constexpr uint8_t kShortHeader = 0x7A;
constexpr size_t kCiPosition = 6;
constexpr uint8_t kIdleFiller = 0x2F;
constexpr uint8_t kManufacturerData = 0x0F;
constexpr uint8_t kManufacturerDataMoreFollow = 0x1F;

// The bytes a record may read: those before the checksum (L + 4), or before
// the end of a telegram cut short of it.
struct Bounds {
    size_t limit = 0;
    bool cut = false;
};

std::string past(const Bounds& bounds) {
    return bounds.cut ? " past the end of the telegram" : " past the checksum";
}

// 68 L L 68, L + 6 bytes in all, the sum of C to the last data byte at L + 4
// and the stop byte 0x16 after it.
bool frameOk(std::span<const uint8_t> telegram) {
    if (telegram.size() < 6) return false;
    const size_t length = telegram[1];
    if (telegram[0] != 0x68 || telegram[2] != length || telegram[3] != 0x68 ||
        telegram.size() != length + 6)
        return false;
    uint8_t sum = 0;
    for (size_t i = 4; i < length + 4; ++i)
        sum = static_cast<uint8_t>(sum + telegram[i]);
    return sum == telegram[length + 4] && telegram[length + 5] == 0x16;
}

// Bits 0-1 the application's state, then power low, permanent and temporary
// error; bits 5-7 are the manufacturer's.
std::vector<std::string> statusWords(uint8_t status) {
    static constexpr const char* kApplication[] = {
        nullptr, "application busy", "any application error", "abnormal condition / alarm"};
    static constexpr const char* kErrors[] = {"power low", "permanent error", "temporary error"};
    std::vector<std::string> words;
    if (status & 0x03) words.emplace_back(kApplication[status & 0x03]);
    for (int bit = 2; bit < 8; ++bit) {
        if (!(status >> bit & 1)) continue;
        words.emplace_back(bit < 5 ? kErrors[bit - 2]
                                   : "manufacturer specific bit " + std::to_string(bit));
    }
    return words;
}

// The two bytes at `at` as a number, in the byte order of the mode.
uint16_t word(std::span<const uint8_t> telegram, size_t at, bool mode2) {
    return mode2 ? static_cast<uint16_t>(telegram[at] << 8 | telegram[at + 1])
                 : static_cast<uint16_t>(telegram[at] | telegram[at + 1] << 8);
}

// The header after the CI field; where the first record starts, or nothing
// with the reason in `decoded.stopped`.
std::optional<size_t> readHeader(std::span<const uint8_t> telegram, const Bounds& bounds,
                                 TelegramRecords& decoded) {
    if (bounds.limit <= kCiPosition) {
        decoded.stopped = "header runs" + past(bounds);
        return std::nullopt;
    }
    TelegramHeader& header = decoded.header;
    header.controlInformation = telegram[kCiPosition];
    const bool mode2 = header.controlInformation == kLongHeaderMode2;
    const bool longHeader = header.controlInformation == kLongHeader || mode2;
    if (!longHeader && header.controlInformation != kShortHeader) {
        decoded.stopped = "CI " + HexByte(header.controlInformation) +
                          " is not a variable data response (0x72, 0x76, 0x7A)";
        return std::nullopt;
    }
    // Long: ID (4 bytes BCD), manufacturer (2), version, device type, then
    // the short header's access number, status and signature (2).
    const size_t first = longHeader ? 19 : 11;
    if (first > bounds.limit) {
        decoded.stopped = "header runs" + past(bounds);
        return std::nullopt;
    }
    size_t at = kCiPosition + 1;
    if (longHeader) {
        const auto id = telegram.subspan(7, 4);
        header.id = mode2 ? HexText(id) : HexText(std::vector<uint8_t>(id.rbegin(), id.rend()));
        header.manufacturer = ManufacturerLetters(word(telegram, 11, mode2));
        header.version = telegram[13];
        header.medium = telegram[14];
        at = 15;
    }
    header.accessNumber = telegram[at];
    header.status = telegram[at + 1];
    header.statusWords = statusWords(telegram[at + 1]);
    header.signature = word(telegram, at + 2, mode2);
    return first;
}

std::nullopt_t stop(TelegramRecords& decoded, size_t position, const std::string& why) {
    decoded.stopped = "record at byte " + std::to_string(position) + ": " + why;
    return std::nullopt;
}

// Manufacturer data from the DIF 0x0F or 0x1F to the end of the user data.
size_t manufacturerBlock(std::span<const uint8_t> telegram, size_t position, const Bounds& bounds,
                         TelegramRecords& decoded) {
    TelegramRecord record;
    record.offset = position;
    record.bytes.assign(telegram.begin() + position, telegram.begin() + bounds.limit);
    record.quantity = "Manufacturer specific";
    record.kind = ValueKind::Hex;
    record.value = HexText(telegram.subspan(position + 1, bounds.limit - position - 1));
    decoded.records.push_back(std::move(record));
    decoded.moreRecordsFollow = telegram[position] == kManufacturerDataMoreFollow;
    return bounds.limit;
}

std::string joined(const std::vector<std::string>& notes, const std::string& last) {
    std::string text;
    for (const std::string& note : notes)
        text += (text.empty() ? "" : "; ") + note;
    if (!last.empty()) text += (text.empty() ? "" : "; ") + last;
    return text;
}

// The number of data bytes at `start` (an LVAR byte counted), or nothing with
// the reason in `decoded.stopped`.
std::optional<size_t> dataLength(std::span<const uint8_t> telegram, size_t position, size_t start,
                                 uint8_t code, const Bounds& bounds, TelegramRecords& decoded) {
    if (const auto fixed = FixedDataLength(code)) return *fixed;
    if (start >= bounds.limit) return stop(decoded, position, "LVAR runs" + past(bounds));
    const auto variable = VariableDataLength(telegram[start]);
    if (!variable) return stop(decoded, position, "reserved LVAR " + HexByte(telegram[start]));
    return 1 + *variable;
}

// The data of a record sent most significant byte first, turned round (an
// LVAR byte stays first).
std::vector<uint8_t> leastSignificantFirst(std::span<const uint8_t> data, uint8_t code) {
    std::vector<uint8_t> turned(data.begin(), data.end());
    std::reverse(turned.begin() + (code == 0xD && !turned.empty() ? 1 : 0), turned.end());
    return turned;
}

// The record whose DIF is at `position`; where the next one starts, or
// nothing with the reason in `decoded.stopped`. In mode 2 its data are sent
// most significant byte first.
std::optional<size_t> readRecord(std::span<const uint8_t> telegram, size_t position,
                                 const Bounds& bounds, bool mode2, TelegramRecords& decoded) {
    const uint8_t dif = telegram[position];
    if (dif == kIdleFiller) return position + 1;
    if (dif == kManufacturerData || dif == kManufacturerDataMoreFollow)
        return manufacturerBlock(telegram, position, bounds, decoded);
    if ((dif & 0x0F) == 0x0F)
        return stop(decoded, position,
                    (dif == 0x7F ? "global readout request " : "reserved DIF ") + HexByte(dif));
    const Chain<DataField> field = ReadDifChain(telegram, position, bounds.limit);
    if (!field.error.empty())
        return stop(decoded, position, field.error + (field.ranPast ? past(bounds) : ""));
    const Chain<VifMeaning> vif =
        ReadVifChain(telegram, field.end, bounds.limit, field.value.function);
    if (!vif.error.empty())
        return stop(decoded, position, vif.error + (vif.ranPast ? past(bounds) : ""));
    const auto length = dataLength(telegram, position, vif.end, field.value.code, bounds, decoded);
    if (!length) return std::nullopt;
    if (vif.end + *length > bounds.limit) return stop(decoded, position, "data run" + past(bounds));
    const size_t end = vif.end + *length;
    std::span<const uint8_t> data = telegram.subspan(vif.end, *length);
    std::vector<uint8_t> turned;
    if (mode2) data = turned = leastSignificantFirst(data, field.value.code);
    const RecordValue value = DecodeRecordValue(field.value.code, data, vif.value);
    TelegramRecord record;
    record.offset = position;
    record.bytes.assign(telegram.begin() + position, telegram.begin() + end);
    record.function = field.value.function;
    record.storage = field.value.storage;
    record.tariff = field.value.tariff;
    record.subunit = field.value.subunit;
    record.quantity = vif.value.quantity;
    record.unit = vif.value.unit;
    record.kind = value.kind;
    record.value = value.value;
    record.note = joined(vif.value.notes, value.note);
    decoded.records.push_back(std::move(record));
    return end;
}

}  // namespace

TelegramRecords DecodeTelegramRecords(std::span<const uint8_t> telegram) {
    TelegramRecords decoded;
    decoded.frameOk = frameOk(telegram);
    if (telegram.size() < 2 || telegram[0] != 0x68) {
        decoded.stopped = "not a long frame";
        return decoded;
    }
    const size_t checksumAt = size_t{telegram[1]} + 4;
    const Bounds bounds{std::min(telegram.size(), checksumAt), telegram.size() < checksumAt};
    std::optional<size_t> position = readHeader(telegram, bounds, decoded);
    const bool mode2 = decoded.header.controlInformation == kLongHeaderMode2;
    while (position && *position < bounds.limit)
        position = readRecord(telegram, *position, bounds, mode2, decoded);
    if (position && bounds.cut)
        decoded.stopped = "telegram ends after " + std::to_string(telegram.size()) +
                          " bytes, before its checksum at byte " + std::to_string(checksumAt);
    return decoded;
}

const char* RecordFunctionName(RecordFunction function) {
    switch (function) {
        case RecordFunction::Instantaneous:
            return "instantaneous";
        case RecordFunction::Maximum:
            return "maximum";
        case RecordFunction::Minimum:
            return "minimum";
        case RecordFunction::Error:
            return "error";
    }
    return "";
}

}  // namespace tarnel
