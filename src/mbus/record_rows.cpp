#include "mbus/record_rows.h"

#include <cstdio>

#include "base/csv_text.h"
#include "mbus/record_parts.h"
#include "mbus/telegram_decoder.h"

namespace tarnel {

RecordRow RecordRowTexts(const TelegramRecord& record) {
    return {std::to_string(record.storage),
            std::to_string(record.tariff),
            std::to_string(record.subunit),
            RecordFunctionName(record.function),
            record.quantity,
            record.kind != ValueKind::None ? record.value : std::string(),
            record.unit,
            HexText(record.bytes, " "),
            record.note};
}

std::vector<std::string> TelegramHeaderTexts(const TelegramHeader& header) {
    char signature[16];
    std::snprintf(signature, sizeof signature, "%04X", header.signature);
    std::string status;
    for (const std::string& word : header.statusWords)
        status += (status.empty() ? "" : ", ") + word;
    const std::string statusByte = HexText(header.status);
    std::vector<std::string> texts;
    if (header.controlInformation == 0x76)
        texts.push_back("Byte order: mode 2, most significant byte first");
    if (!header.id.empty()) {
        texts.push_back("ID: " + header.id);
        texts.push_back("Manufacturer: " + header.manufacturer);
        texts.push_back("Version: " + std::to_string(header.version));
        const auto medium = static_cast<uint8_t>(header.medium);
        texts.push_back("Medium: " + MbusMediumName(medium) + " (" + HexText(medium) + ")");
    }
    texts.push_back("Access number: " + std::to_string(header.accessNumber));
    texts.push_back("Status: " + statusByte + (status.empty() ? "" : " " + status));
    texts.push_back(std::string("Signature: ") + signature);
    return texts;
}

std::string RecordsCsv(const TelegramRecords& records) {
    std::string csv;
    for (const std::string& text : TelegramHeaderTexts(records.header))
        csv += csv::Cell(text) + "\r\n";
    csv += csv::Row(RecordColumnNames());
    for (const TelegramRecord& record : records.records)
        csv += csv::Row(RecordRowTexts(record));
    if (records.moreRecordsFollow) csv += "More records follow\r\n";
    if (!records.stopped.empty()) csv += csv::Cell("Stopped: " + records.stopped) + "\r\n";
    return csv;
}

std::vector<std::string> RecordColumnNames() {
    return {kRecordColumns.begin(), kRecordColumns.end()};
}

}  // namespace tarnel
