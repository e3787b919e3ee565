// termios2 from the kernel's headers shows any speed a client set.
#include "sim/line_settings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cctype>

#include "sim/modbus_framing.h"

namespace tarnel::sim {
namespace {

bool goodCrc(const Bytes& bytes, size_t count) {
    if (count < 4) return false;
    const uint16_t crc = Crc16(bytes, count - 2);
    return bytes[count - 2] == (crc & 0xFF) && bytes[count - 1] == crc >> 8;
}

}  // namespace

std::optional<char> ParityLetter(const std::string& text) {
    std::string word;
    for (const char c : text)
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "none" || word == "n") return 'N';
    if (word == "even" || word == "e") return 'E';
    if (word == "odd" || word == "o") return 'O';
    return std::nullopt;
}

std::string LineText(const LineSettings& line) {
    return std::to_string(line.baudrate) + " 8" + line.parity + std::to_string(line.stopBits);
}

std::optional<LineSettings> PtyClientLine(int masterFd) {
    termios2 tio{};
    if (::ioctl(masterFd, TCGETS2, &tio) != 0) return std::nullopt;
    LineSettings line;
    line.baudrate = static_cast<int>(tio.c_ospeed);
    line.parity = (tio.c_cflag & PARODD) ? 'O' : (tio.c_iflag & INPCK) ? 'E' : 'N';
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

Bytes GarbledOnWrongLine(const Bytes& frame) {
    // A byte sampled at the wrong rate: its bits smeared into their
    // neighbours, the stop bit read as data.
    Bytes garbled;
    for (const uint8_t byte : frame)
        garbled.push_back(static_cast<uint8_t>((byte << 1 | byte >> 7 | 0x81) ^ 0x24));
    if (garbled.empty()) return garbled;
    for (uint8_t tweak = 1; tweak != 0; ++tweak) {
        const bool filled = garbled.back() == 0x00 && goodCrc(garbled, garbled.size() - 1);
        if (!goodCrc(garbled, garbled.size()) && !filled) break;
        garbled.back() = static_cast<uint8_t>(garbled.back() ^ tweak);
    }
    return garbled;
}

}  // namespace tarnel::sim
