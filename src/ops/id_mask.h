#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnel {

// An identification number as the secondary search handles it: positions 1
// to 8 (index 0 to 7), position 1 the least significant digit, each a
// decimal digit or kWildcard.
using IdMask = std::array<uint8_t, 8>;
constexpr uint8_t kWildcard = 15;

// "12345678" gives d1 = 8 ... d8 = 1; an "F" is a wildcard digit. Nothing
// for a text that is not 8 digits and "F"s.
std::optional<IdMask> IdMaskFromText(const QString& text);
// The four identification bytes of the selection telegram, least
// significant first: (d2 d1), (d4 d3), (d6 d5), (d8 d7); a wildcard is 0xF.
std::array<uint8_t, 4> IdBytes(const IdMask& mask);
// d1 to d8, a wildcard as "F": the mask with 3 at position 1 and wildcards
// elsewhere is "3FFFFFFF".
QString MaskText(const IdMask& mask);
// The positions (indices) that are wildcards, lowest first.
std::vector<int> WildcardPositions(const IdMask& mask);

}  // namespace tarnel
