#pragma once

#include <optional>
#include <string>

#include "sim/sim_bus.h"

namespace tarnel::sim {

// The line a serial gateway is set to, and the line a client opened.
struct LineSettings {
    int baudrate = 19200;
    char parity = 'E';  // 'N', 'E' or 'O'
    int stopBits = 1;

    bool operator==(const LineSettings&) const = default;
};

// "none", "even" or "odd" (any case, or N, E, O) as a parity letter.
std::optional<char> ParityLetter(const std::string& text);
// "9600 8N1"
std::string LineText(const LineSettings& line);

// The line a client set on a pseudo-terminal, read on its master side
// (which reads the client's settings): the speed and the stop bits as set;
// the parity from PARODD (odd) and INPCK (a parity is checked: even),
// because a pseudo-terminal drops PARENB. Nothing when it cannot be read.
std::optional<LineSettings> PtyClientLine(int masterFd);

// What a client at the wrong speed or parity receives for `frame`: as many
// bytes, mangled, that never form an RTU frame with a good CRC (neither as
// they are nor with a trailing 0x00 taken as filler).
Bytes GarbledOnWrongLine(const Bytes& frame);

}  // namespace tarnel::sim
