#include "sim/mbus_wire.h"

namespace tarnel::sim::wire {

uint8_t Checksum(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (const uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum;
}

Bytes ShortFrame(uint8_t control, uint8_t address) {
    const auto sum = static_cast<uint8_t>(control + address);
    return {kShortStart, control, address, sum, kStop};
}

Bytes LongFrame(uint8_t control, uint8_t address, uint8_t ci, std::span<const uint8_t> data) {
    const auto length = static_cast<uint8_t>(3 + data.size());
    Bytes frame = {kLongStart, length, length, kLongStart, control, address, ci};
    for (const uint8_t byte : data)
        frame.push_back(byte);
    frame.push_back(Checksum(std::span(frame).subspan(4)));
    frame.push_back(kStop);
    return frame;
}

std::optional<size_t> AnnouncedLength(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return std::nullopt;
    if (bytes[0] == kShortStart) return kShortLength;
    if (bytes[0] == kLongStart && bytes.size() >= 2) return bytes[1] + kLongOverhead;
    return std::nullopt;
}

bool IsShortFrame(std::span<const uint8_t> frame) {
    return frame.size() == kShortLength && frame[0] == kShortStart && frame[4] == kStop &&
           frame[3] == Checksum(frame.subspan(1, 2));
}

bool IsLongFrame(std::span<const uint8_t> frame) {
    const size_t size = frame.size();
    if (size < 3 + kLongOverhead || frame[0] != kLongStart || frame[3] != kLongStart) return false;
    const uint8_t length = frame[1];
    if (frame[2] != length || size != length + kLongOverhead) return false;
    return frame[size - 1] == kStop && frame[size - 2] == Checksum(frame.subspan(4, length));
}

}  // namespace tarnel::sim::wire
