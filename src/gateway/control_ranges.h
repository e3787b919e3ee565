#pragma once

#include <algorithm>

namespace tarnel {

// The range of a number the user sets: the window's up-down control holds
// it, the command line refuses a value outside it, and a value read from the
// settings file is clamped into it.
struct NumberRange {
    int least;
    int most;

    bool contains(int value) const { return value >= least && value <= most; }
    int clamp(int value) const { return std::clamp(value, least, most); }
};

inline constexpr NumberRange kScanTimeRange{300, 9900};       // UD_timeout, ms
inline constexpr NumberRange kRetryRange{0, 9};               // UD_retry
inline constexpr NumberRange kModbusTimeoutRange{50, 20000};  // UD_modbusTimeout, ms
inline constexpr NumberRange kModbusAddressRange{1, 255};     // UDmodbusAddress

}  // namespace tarnel
