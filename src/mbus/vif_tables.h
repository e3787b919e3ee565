#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarnel {

// A unit text and the decimal multiplier of a value.
struct UnitScale {
    std::string unit = "Not supported";
    double multiplier = 1.0;
};

// The plain VIF rows (EN 13757-3 primary VIFs the tool knows: energy,
// volume, power, flow, temperatures, pressure, time, fabrication number);
// "Not supported" with multiplier 1 for every other code.
UnitScale PlainVifUnit(uint8_t vif);

// The unit of the VIF at `vifPosition` of `telegram`: the plain rows, and the
// codes that read the byte after the VIF: a user ASCII unit (7C, FC: length,
// then the text) and the extension table (FB, FD). The caller makes sure the
// bytes read lie before the checksum.
UnitScale VifToUnit(std::span<const uint8_t> telegram, size_t vifPosition, uint8_t vif);

// The text of one entry of the VIF extension table (code 0..127).
std::string VifeText(uint8_t code);

}  // namespace tarnel
