#pragma once

#include <cstdint>
#include <vector>

namespace tarnel {

using Bytes = std::vector<uint8_t>;

// M-Bus link-layer frames (EN 13757-2). A short frame is 10 C A CS 16; a long
// frame is 68 L L 68 C A CI data CS 16, where L counts C, A, CI and the data
// and CS is the sum of C up to the last data byte, modulo 256.
Bytes ShortFrame(uint8_t c, uint8_t a);
Bytes LongFrame(uint8_t c, uint8_t a, uint8_t ci, const Bytes& data = {});

// SND_NKE: link reset.
Bytes SndNke(uint8_t address);
// REQ_UD2: ask the meter for its data.
Bytes ReqUd2(uint8_t address);
// SND_UD to the selection address 0xFD selecting the meter by its
// identification number (4 bytes, least significant first, 0xF digits as
// wildcards); manufacturer, version and medium 0xFF (any).
Bytes SelectById(const uint8_t (&idLeastSignificantFirst)[4]);
// SND_UD giving the meter at `address` a new primary address.
Bytes SetPrimaryAddress(uint8_t address, uint8_t newAddress);
// SND_UD with one data record (DIF, VIF, data).
Bytes SendRecord(uint8_t address, const Bytes& record);
// SND_UD switching the meter's baud rate: CI 0xB8 for 300 Bd, 0xBB for 2400 Bd.
Bytes SetBaudrate(uint8_t address, uint8_t ci);

}  // namespace tarnel
