#pragma once

#include <cstdint>
#include <string>

namespace tarnel {

// A reading as the grids show it: fixed-point with exactly 3 decimals, rounded
// once, half away from zero, at the third decimal or at the eighth significant
// digit, whichever comes first; past 8 integer digits, exponent form
// ("1.2345679E8", "1E9").
//
// The value is taken to 17 significant digits first, which is exact for a sum
// of two value texts (the only sums formatted).
std::string FormatValue(long double value, char decimalSeparator = '.');

// integer x multiplier, formatted as above. A multiplier that is a power of
// ten (every VIF multiplier is) is applied in decimal, so the rounding is
// exact; any other multiplier goes through FormatValue.
std::string FormatScaledValue(int64_t integer, double multiplier, char decimalSeparator = '.');

// A value text read back as a number; 0 for an empty or unreadable text.
long double ParseValueText(const std::string& text, char decimalSeparator = '.');

}  // namespace tarnel
