#pragma once

// Hand-built RSP_UD telegrams (checksums computed separately): meter 12345678
// at primary address 5, manufacturer ABC (0x0443), medium water, status 00,
// followed by the records named.
namespace tarnel::test {

constexpr const char* kVolume =  // 04 13 10270000: 10000 x 0.001 m3
    "68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 10 27 00 00 5A 16";
constexpr const char* kEnergyBcd =  // 0C 06 78563412: 12345678 kWh
    "68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 06 78 56 34 12 32 16";
constexpr const char* kFabricationThenVolume =
    "68 1B 1B 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 78 11 22 33 44 04 13 10 27 00 00 "
    "88 16";
constexpr const char* kOnlyFabrication =
    "68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 78 11 22 33 44 3A 16";
constexpr const char* kFabricationThenStorageRecord =  // second record's DIF 0x44
    "68 1B 1B 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 78 11 22 33 44 44 13 10 27 00 00 "
    "C8 16";
constexpr const char* kFabricationCut =  // the fabrication number reaches the checksum
    "68 13 13 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 78 11 22 C3 16";
constexpr const char* kHeatStatusA5 =  // medium 08, status A5
    "68 15 15 68 08 05 72 78 56 34 12 43 04 01 08 2A A5 00 00 04 13 10 27 00 00 00 16";
constexpr const char* kVif84 =  // VIF 0x84 with VIFE 0x00: data from 22
    "68 16 16 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 84 00 10 27 00 00 CB 16";
constexpr const char* kVoltsFd48 =  // VIF 0xFD, VIFE 0x48, 2-byte 2278
    "68 14 14 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 02 FD 48 E6 08 41 16";
constexpr const char* kAscii7C =  // VIF 0x7C, "ABC", 1-byte 42
    "68 16 16 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 01 7C 03 41 42 43 2A 7C 16";
constexpr const char* kAsciiFC =  // VIF 0xFC, "ABC", VIFE 0x00, 1-byte 42
    "68 17 17 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 01 FC 03 41 42 43 00 2A FC 16";
constexpr const char* kCutByChecksum =  // 4-byte integer with only 2 data bytes
    "68 13 13 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 13 10 27 5A 16";
constexpr const char* kOneByteMinusOne =
    "68 12 12 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 01 13 FF 1F 16";
constexpr const char* kHeaderOnly =
    "68 0F 0F 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0C 16";
constexpr const char* kZpa =  // ZPA electricity meter: 1000 and 2500 Wh (VIF 03)
    "68 21 21 68 08 05 72 78 56 34 12 01 6A 01 02 2A 00 00 00 84 10 03 00 E8 03 00 00 00 00 84 20 "
    "03 00 C4 09 "
    "00 00 21 16";
constexpr const char* kZpaSecondCut =
    "68 1E 1E 68 08 05 72 78 56 34 12 01 6A 01 02 2A 00 00 00 84 10 03 00 E8 03 00 00 00 00 84 20 "
    "03 00 C4 18 16";
constexpr const char* kElevenVifes =
    "68 20 20 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 93 80 80 80 80 80 80 80 80 80 80 "
    "00 10 27 00 00 "
    "DA 16";
constexpr const char* kTenVifes =
    "68 1F 1F 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 04 93 80 80 80 80 80 80 80 80 80 00 "
    "10 27 00 00 5A 16";
constexpr const char* kReal =
    "68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 05 13 00 00 80 3F E3 16";
constexpr const char* kBcdNibbleA =
    "68 13 13 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0A 13 1A 00 43 16";
// The same record with the digit A in the high nibble (checksum 43 + 87).
constexpr const char* kBcdHighNibbleA =
    "68 13 13 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0A 13 A1 00 CA 16";
constexpr const char* kBcd12 =
    "68 17 17 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0E 06 78 56 34 12 00 00 34 16";
constexpr const char* kBcd12AllNines =
    "68 17 17 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00 0E 06 99 99 99 99 99 00 1D 16";

}  // namespace tarnel::test
