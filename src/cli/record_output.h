#pragma once

#include <iosfwd>
#include <string>

#include "mbus/telegram_records.h"

namespace tarnel::cli {

// `,"records":[...]` for a telegram's JSON object, one object a record in
// telegram order, then `,"more":true` when more records follow and
// `,"stopped":"..."` when decoding stopped early.
std::string RecordsJsonMembers(const TelegramRecords& records);

// The records as a table: a line of column names, then one line a record,
// every cell followed by ";".
void PrintRecordsTable(const TelegramRecords& records, std::ostream& out);

// Text as a JSON string: UTF-8 as it is, or with `latin1` each 8-bit
// character the code point of its value, written in UTF-8.
std::string jsonStringOf(const std::string& text, bool latin1);
std::string jsonUtf8String(const std::string& utf8);

}  // namespace tarnel::cli
