#pragma once

#include <iosfwd>
#include <string>

#include "mbus/telegram_records.h"

namespace tarnel::cli {

// `,"records":[...]` for a telegram's JSON object, one object a record in
// telegram order, then `,"more":true` when more records follow and
// `,"stopped":"..."` when decoding stopped early. Texts go through
// JsonString; numbers as their exact decimal text, which Qt's writer (a
// double) would round, so the command line's records come from here too.
std::string RecordsJsonMembers(const TelegramRecords& records);

// The records as a table: a line of column names, then one line a record,
// every cell followed by ";".
void PrintRecordsTable(const TelegramRecords& records, std::ostream& out);

}  // namespace tarnel::cli
