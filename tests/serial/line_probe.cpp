// Reads a terminal's settings with termios2, which shows any baud rate.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "pty_pair.h"

namespace tarnel::test {

LineProbe probeLine(const QString& path) {
    LineProbe probe;
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return probe;
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) == 0) {
        probe.baud = tio.c_ospeed;
        switch (tio.c_cflag & CSIZE) {
            case CS5:
                probe.dataBits = 5;
                break;
            case CS6:
                probe.dataBits = 6;
                break;
            case CS7:
                probe.dataBits = 7;
                break;
            default:
                probe.dataBits = 8;
        }
        probe.twoStopBits = tio.c_cflag & CSTOPB;
        probe.oddParity = tio.c_cflag & PARODD;
        probe.rtsCts = tio.c_cflag & CRTSCTS;
        probe.xonXoffOut = tio.c_iflag & IXON;
        probe.raw = !(tio.c_lflag & (ICANON | ECHO)) && !(tio.c_oflag & OPOST);
    }
    ::close(fd);
    return probe;
}

}  // namespace tarnel::test
