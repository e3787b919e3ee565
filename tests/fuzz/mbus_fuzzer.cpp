// libFuzzer target over the byte-level M-Bus decoding: the telegram decoder
// (with its records), the whole-telegram record decoder and the device-table
// entry decoder. Any input must decode without reading past its end, and no
// record may reach the checksum byte. The records, written as JSON the way
// the command line's decode --json --records writes them, must be one
// object that Qt's strict parser reads back, one object a record.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cli/record_output.h"
#include "mbus/data_records.h"
#include "mbus/device_entry.h"
#include "mbus/telegram_decoder.h"
#include "mbus/telegram_records.h"

namespace {

void checkRecordsJson(const tarnel::TelegramRecords& decoded) {
    const std::string json = "{\"ok\":true" + tarnel::cli::RecordsJsonMembers(decoded) + "}";
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) std::abort();
    const QJsonArray records = document.object().value("records").toArray();
    if (static_cast<size_t>(records.size()) != decoded.records.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    tarnel::DecodeMbusTelegram(bytes, "00:00:00");
    tarnel::DecodeFirstRecord(bytes);
    for (const size_t position : {size_t{23}, size_t{33}, size / 2})
        tarnel::DecodeRecordAt(bytes, position);
    const size_t limit = size < 2 ? 0 : std::min(size, size_t{data[1]} + 4);
    const tarnel::TelegramRecords decoded = tarnel::DecodeTelegramRecords(bytes);
    for (const tarnel::TelegramRecord& record : decoded.records)
        if (record.offset + record.bytes.size() > limit) std::abort();
    checkRecordsJson(decoded);
    std::vector<std::string> lines;
    tarnel::DeviceRowTexts(tarnel::DecodeDeviceEntry(bytes, lines));
    return 0;
}
