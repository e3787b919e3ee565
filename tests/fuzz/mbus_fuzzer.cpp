// libFuzzer target over the byte-level M-Bus decoding: the telegram decoder
// (with its records), the whole-telegram record decoder and the device-table
// entry decoder. Any input must decode without reading past its end, and no
// record may reach the checksum byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mbus/data_records.h"
#include "mbus/device_entry.h"
#include "mbus/telegram_decoder.h"
#include "mbus/telegram_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    tarnel::DecodeMbusTelegram(bytes, "00:00:00");
    tarnel::DecodeFirstRecord(bytes);
    for (const size_t position : {size_t{23}, size_t{33}, size / 2})
        tarnel::DecodeRecordAt(bytes, position);
    const size_t limit = size < 2 ? 0 : std::min(size, size_t{data[1]} + 4);
    for (const tarnel::TelegramRecord& record : tarnel::DecodeTelegramRecords(bytes).records)
        if (record.offset + record.bytes.size() > limit) std::abort();
    std::vector<std::string> lines;
    tarnel::DeviceRowTexts(tarnel::DecodeDeviceEntry(bytes, lines));
    return 0;
}
