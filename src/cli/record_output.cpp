#include "cli/record_output.h"

#include <ostream>

#include "base/csv_text.h"
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
            return jsonUtf8String(record.value);
    }
}

std::string recordJson(const TelegramRecord& record) {
    std::string json = "{\"function\":" + jsonUtf8String(RecordFunctionName(record.function)) +
                       ",\"storage\":" + std::to_string(record.storage) +
                       ",\"tariff\":" + std::to_string(record.tariff) +
                       ",\"subunit\":" + std::to_string(record.subunit) +
                       ",\"quantity\":" + jsonUtf8String(record.quantity) +
                       ",\"unit\":" + jsonUtf8String(record.unit) +
                       ",\"value\":" + jsonValue(record) +
                       ",\"bytes\":" + jsonUtf8String(RecordHex(record.bytes, ""));
    if (!record.note.empty()) json += ",\"note\":" + jsonUtf8String(record.note);
    return json + "}";
}

}  // namespace

std::string jsonStringOf(const std::string& text, bool latin1) {
    std::string json = "\"";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code == '"' || code == '\\') {
            json += '\\';
            json += c;
        } else if (code < 0x20) {
            static constexpr char kDigits[] = "0123456789abcdef";
            json += "\\u00";
            json += kDigits[code >> 4];
            json += kDigits[code & 0x0F];
        } else if (code < 0x80 || !latin1) {
            json += c;
        } else {
            json += static_cast<char>(0xC0 | code >> 6);
            json += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return json + "\"";
}

std::string jsonUtf8String(const std::string& utf8) {
    return jsonStringOf(utf8, false);
}

std::string RecordsJsonMembers(const TelegramRecords& records) {
    std::string json = ",\"records\":[";
    for (size_t i = 0; i < records.records.size(); ++i)
        json += (i > 0 ? "," : "") + recordJson(records.records[i]);
    json += "]";
    if (records.moreRecordsFollow) json += ",\"more\":true";
    if (!records.stopped.empty()) json += ",\"stopped\":" + jsonUtf8String(records.stopped);
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
