#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The M-Bus link layer (EN 13757-2) as the simulated gateway and meters put
// frames on the bus and take them off it. A short frame is 10 C A CS 16; a
// long frame is 68 L L 68 C A CI data CS 16, where L counts C, A, CI and the
// data, and CS is their sum modulo 256.
namespace tarnel::sim::wire {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kShortStart = 0x10;
constexpr uint8_t kLongStart = 0x68;
constexpr uint8_t kStop = 0x16;
constexpr uint8_t kAck = 0xE5;  // single character acknowledgement
constexpr size_t kShortLength = 5;
constexpr size_t kLongOverhead = 6;  // 68 L L 68 before the L bytes, CS 16 after them

// C fields. The frame count bit toggles between REQ_UD2s of one master.
constexpr uint8_t kFrameCountBit = 0x20;
constexpr uint8_t kSndNke = 0x40;
constexpr uint8_t kSndUd = 0x53;
constexpr uint8_t kReqUd1 = 0x5A;
constexpr uint8_t kReqUd2 = 0x5B;
constexpr uint8_t kRspUd = 0x08;

// CI of a meter's variable data reply.
constexpr uint8_t kCiVariableReply = 0x72;

// The arithmetic sum of the bytes, modulo 256.
uint8_t Checksum(std::span<const uint8_t> bytes);

Bytes ShortFrame(uint8_t control, uint8_t address);
Bytes LongFrame(uint8_t control, uint8_t address, uint8_t ci, std::span<const uint8_t> data);

// The length a frame announces by its start byte (and its L field); nothing
// when the bytes do not begin a frame.
std::optional<size_t> AnnouncedLength(std::span<const uint8_t> bytes);

// A whole, intact frame: start and stop bytes, length and checksum right.
bool IsShortFrame(std::span<const uint8_t> frame);
bool IsLongFrame(std::span<const uint8_t> frame);

}  // namespace tarnel::sim::wire
