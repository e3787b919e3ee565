#pragma once

#include <cstdint>
#include <string>

namespace tarnel {

// A reading as the grids show it: fixed-point with exactly 3 decimals after
// rounding to at most 8 significant digits; past 8 integer digits, exponent
// form ("1.2345679E8", "1E9"). Computed in extended precision.
std::string FormatValue(long double value, char decimalSeparator = '.');

// integer x multiplier, formatted as above.
std::string FormatScaledValue(int64_t integer, double multiplier, char decimalSeparator = '.');

// A value text read back as a number; 0 for an empty or unreadable text.
long double ParseValueText(const std::string& text, char decimalSeparator = '.');

}  // namespace tarnel
