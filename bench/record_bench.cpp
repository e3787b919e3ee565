// Decoding speed of the whole-telegram record decoder: a heat meter's RSP_UD
// of 15 records (fabrication number, energy, volume, power, flow, the three
// temperatures, date and time, on time, a stored energy, volume and date, a
// tariff's energy, the error flags) decoded again and again for about a
// second, in records per second.
// Usage: record_bench [seconds; 1]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "mbus/mbus_frames.h"
#include "mbus/telegram_records.h"

using namespace tarnel;

namespace {

Bytes HeatMeterTelegram() {
    // ID, manufacturer, version, medium, access number, status, signature.
    Bytes data = {0x78, 0x56, 0x34, 0x12, 0x2D, 0x2C, 0x1B, 0x04, 0x2A, 0x00, 0x00, 0x00};
    const Bytes records = {
        0x0C, 0x78, 0x78, 0x56, 0x34, 0x12,        // fabrication number
        0x04, 0x06, 0x27, 0x04, 0x00, 0x00,        // energy
        0x04, 0x14, 0x11, 0x47, 0x31, 0x00,        // volume
        0x04, 0x2D, 0x56, 0x00, 0x00, 0x00,        // power
        0x04, 0x3B, 0x34, 0x02, 0x00, 0x00,        // volume flow
        0x02, 0x59, 0x6C, 0x19,                    // flow temperature
        0x02, 0x5D, 0x68, 0x10,                    // return temperature
        0x02, 0x61, 0x04, 0x09,                    // difference
        0x04, 0x6D, 0x0B, 0x0B, 0xCD, 0x13,        // date and time
        0x04, 0x22, 0x10, 0x0E, 0x00, 0x00,        // on time
        0x44, 0x06, 0x51, 0x03, 0x00, 0x00,        // stored energy
        0x44, 0x14, 0x10, 0x27, 0x00, 0x00,        // stored volume
        0x42, 0x6C, 0xBF, 0x1C,                    // storage date
        0x84, 0x10, 0x06, 0x00, 0x00, 0x00, 0x00,  // tariff 1 energy
        0x02, 0xFD, 0x17, 0x00, 0x00,              // error flags
    };
    data.insert(data.end(), records.begin(), records.end());
    return LongFrame(0x08, 0x05, 0x72, data);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const Bytes telegram = HeatMeterTelegram();
    const TelegramRecords once = DecodeTelegramRecords(telegram);
    if (!once.frameOk || !once.stopped.empty() || once.records.size() != 15) {
        std::fprintf(stderr, "the bench telegram does not decode to 15 records\n");
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    size_t records = 0, valueBytes = 0;
    while (Clock::now() < until) {
        for (int i = 0; i < 1000; ++i) {
            const TelegramRecords decoded = DecodeTelegramRecords(telegram);
            records += decoded.records.size();
            valueBytes += decoded.records.back().value.size();
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("records/s %.0f (%zu records of %zu-byte telegrams in %.2f s; %zu value bytes)\n",
                static_cast<double>(records) / elapsed, records, telegram.size(), elapsed,
                valueBytes);
    return 0;
}
