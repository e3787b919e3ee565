// libFuzzer target over the byte-level M-Bus decoding: the telegram decoder
// (with its records) and the device-table entry decoder. Any input must
// decode without reading past its end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mbus/data_records.h"
#include "mbus/device_entry.h"
#include "mbus/telegram_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    tarnel::DecodeMbusTelegram(bytes, "00:00:00");
    tarnel::DecodeFirstRecord(bytes);
    for (const size_t position : {size_t{23}, size_t{33}, size / 2})
        tarnel::DecodeRecordAt(bytes, position);
    std::vector<std::string> lines;
    tarnel::DeviceRowTexts(tarnel::DecodeDeviceEntry(bytes, lines));
    return 0;
}
