#include "sim/sim_bus.h"

namespace tarnel::sim {

Bytes SimMeter::RspUd() const {
    Bytes data = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id >> 16),
                  static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(manufacturer),
                  static_cast<uint8_t>(manufacturer >> 8), version, medium, accessNumber, status, 0x00, 0x00};
    data.insert(data.end(), records.begin(), records.end());
    const auto length = static_cast<uint8_t>(3 + data.size());
    Bytes frame;
    frame.reserve(data.size() + 9);
    for (const uint8_t byte : {uint8_t{0x68}, length, length, uint8_t{0x68}, uint8_t{0x08}, address, uint8_t{0x72}})
        frame.push_back(byte);
    for (const uint8_t byte : data) frame.push_back(byte);
    uint8_t sum = 0;
    for (size_t i = 4; i < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame.push_back(wrongChecksum ? static_cast<uint8_t>(sum + 1) : sum);
    frame.push_back(0x16);
    return frame;
}

std::optional<BusReply> SimBus::Transmit(const Bytes& telegram, int baud) {
    // First cut: REQ_UD2 to a primary address only.
    if (telegram.size() == 5 && telegram[0] == 0x10 && (telegram[1] & 0x4F) == 0x4B) {
        for (SimMeter& meter : meters_)
            if (meter.address == telegram[2] && meter.baud == baud && !meter.silent)
                return BusReply{meter.RspUd(), meter.replyDelayMs + meter.extraDelayMs};
    }
    return std::nullopt;
}

std::vector<SimMeter> SimBus::DefaultMeters() {
    SimMeter water;
    water.address = 1;
    water.id = 0x12345678;
    water.records = {0x04, 0x13, 0x10, 0x27, 0x00, 0x00};
    return {water};
}

std::optional<std::vector<SimMeter>> SimBus::LoadMeters(const QString&, QString* error) {
    if (error) *error = "not built yet";
    return std::nullopt;
}

}  // namespace tarnel::sim
