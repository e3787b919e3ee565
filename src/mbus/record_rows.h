#pragma once

#include <array>
#include <string>
#include <vector>

#include "mbus/telegram_records.h"

namespace tarnel {

// A telegram's records as a table: the window's "Telegram" view, its CSV copy
// and the command line's table print the same texts.
inline constexpr std::array<const char*, 9> kRecordColumns = {
    "Storage", "Tariff", "Subunit", "Function", "Quantity", "Value", "Unit", "Bytes", "Note"};
using RecordRow = std::array<std::string, kRecordColumns.size()>;

// The record's note ("per hour", "invalid date") has a column of its own; a
// record without a value has an empty value.
RecordRow RecordRowTexts(const TelegramRecord& record);
// kRecordColumns as texts.
std::vector<std::string> RecordColumnNames();

// The header, one "name: value" text a field: the byte order of a mode 2
// telegram (CI 0x76), ID, manufacturer, version, medium, access number,
// status (in words), signature.
std::vector<std::string> TelegramHeaderTexts(const TelegramHeader& header);

// Header and records as table-file lines (csv::Row, CR LF), the column names
// first, then where decoding stopped and whether more records follow.
std::string RecordsCsv(const TelegramRecords& records);

}  // namespace tarnel
