#pragma once

#include <array>
#include <string>
#include <vector>

#include "mbus/telegram_records.h"

namespace tarnel {

// A telegram's records as a table: the window's "Telegram" view, its CSV copy
// and the command line's table print the same texts.
inline constexpr std::array<const char*, 8> kRecordColumns = {
    "Storage", "Tariff", "Subunit", "Function", "Quantity", "Value", "Unit", "Bytes"};
using RecordRow = std::array<std::string, 8>;

// The quantity carries the record's note in brackets ("Energy (per hour)");
// a record without a value shows its note as the value.
RecordRow RecordRowTexts(const TelegramRecord& record);

// The header, one "name: value" text a field: ID, manufacturer, version,
// medium, access number, status (in words), signature.
std::vector<std::string> TelegramHeaderTexts(const TelegramHeader& header);

// Header and records as semicolon-separated lines (CR LF), the column names
// first, then where decoding stopped and whether more records follow.
std::string RecordsCsv(const TelegramRecords& records);

// Bytes as upper-case hex, `separator` between two bytes.
std::string RecordHex(const std::vector<uint8_t>& bytes, const char* separator);

}  // namespace tarnel
