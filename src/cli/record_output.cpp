#include "cli/record_output.h"

#include <ostream>

#include "base/csv_text.h"
#include "base/hex_text.h"
#include "base/json_text.h"
#include "mbus/record_rows.h"

namespace tarnel::cli {
namespace {

// JSON numbers have no leading zeros: a fabrication number's BCD digits
// "04332211" go out as 4332211.
std::string jsonNumber(std::string text) {
    const size_t start = text.starts_with('-') ? 1 : 0;
    size_t first = start;
    while (first + 1 < text.size() && text[first] == '0' && text[first + 1] != '.')
        ++first;
    text.erase(start, first - start);
    return text;
}

// Numbers are exact decimal texts and go out as JSON numbers; dates, text
// and bytes as strings; a record without a value as null.
std::string jsonValue(const TelegramRecord& record) {
    switch (record.kind) {
        case ValueKind::Number:
            return jsonNumber(record.value);
        case ValueKind::None:
            return "null";
        default:
            return JsonString(record.value);
    }
}

std::string recordJson(const TelegramRecord& record) {
    std::string json = "{\"function\":" + JsonString(RecordFunctionName(record.function)) +
                       ",\"storage\":" + std::to_string(record.storage) +
                       ",\"tariff\":" + std::to_string(record.tariff) +
                       ",\"subunit\":" + std::to_string(record.subunit) +
                       ",\"quantity\":" + JsonString(record.quantity) +
                       ",\"unit\":" + JsonString(record.unit) + ",\"value\":" + jsonValue(record) +
                       ",\"bytes\":" + JsonString(HexText(record.bytes));
    if (!record.note.empty()) json += ",\"note\":" + JsonString(record.note);
    return json + "}";
}

}  // namespace

std::string RecordsJsonMembers(const TelegramRecords& records) {
    std::string json = ",\"records\":[";
    for (size_t i = 0; i < records.records.size(); ++i)
        json += (i > 0 ? "," : "") + recordJson(records.records[i]);
    json += "]";
    if (records.moreRecordsFollow) json += ",\"more\":true";
    if (!records.stopped.empty()) json += ",\"stopped\":" + JsonString(records.stopped);
    return json;
}

void PrintRecordsTable(const TelegramRecords& records, std::ostream& out) {
    out << csv::Row(RecordColumnNames(), "\n");
    for (const TelegramRecord& record : records.records)
        out << csv::Row(RecordRowTexts(record), "\n");
    if (records.moreRecordsFollow) out << "More records follow\n";
    if (!records.stopped.empty()) out << csv::Cell("Stopped: " + records.stopped) << '\n';
}

}  // namespace tarnel::cli
