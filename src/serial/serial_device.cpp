// The Linux layer of the serial port. termios2 (from the kernel's headers,
// not glibc's termios.h, which cannot be included beside it) gives any baud
// rate through BOTHER.
#include "serial/serial_device.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarnel {

QString osErrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

int SerialDevice::open(const QString& path) {
    close();
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

void SerialDevice::close() {
    if (fd_ < 0) return;
    ::close(fd_);  // releases the lock too
    fd_ = -1;
}

namespace {

tcflag_t dataBitsFlag(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t parityFlags(int parity) {
    switch (parity) {
        case 1:
            return PARENB | PARODD;
        case 2:
            return PARENB;
        case 3:
            return PARENB | CMSPAR | PARODD;  // mark: the parity bit is always 1
        case 4:
            return PARENB | CMSPAR;  // space: always 0
        default:
            return 0;
    }
}

}  // namespace

int SerialDevice::applyLineSettings(const LineSettings& settings) {
    if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baudrate <= 0) return EINVAL;
    termios2 tio{};
    if (::ioctl(fd_, TCGETS2, &tio) != 0) return errno;

    tio.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &=
        ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CREAD | CLOCAL | dataBitsFlag(settings.dataBits) | parityFlags(settings.parity);
    // There is no 1.5 on Linux; two stop bits on a 5-bit character is what
    // the UART sends as one and a half.
    if (settings.stopBits != 0) tio.c_cflag |= CSTOPB;
    if (settings.ctsFlow) tio.c_cflag |= CRTSCTS;
    if (settings.xonXoffOut) tio.c_iflag |= IXON;
    if (settings.xonXoffIn) tio.c_iflag |= IXOFF;
    if (settings.parityCheck) tio.c_iflag |= INPCK;
    tio.c_cc[VSTART] = settings.xonChar;
    tio.c_cc[VSTOP] = settings.xoffChar;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = static_cast<speed_t>(settings.baudrate);
    tio.c_ispeed = static_cast<speed_t>(settings.baudrate);
    if (::ioctl(fd_, TCSETS2, &tio) != 0) return errno;
    return setDtr(settings.dtr);
}

int SerialDevice::setModemLine(int line, bool on) {
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return 0;
    // A pseudo-terminal has no modem lines.
    return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

int SerialDevice::setRts(bool on) {
    return setModemLine(TIOCM_RTS, on);
}

int SerialDevice::setDtr(bool on) {
    return setModemLine(TIOCM_DTR, on);
}

int SerialDevice::flush(bool input, bool output) {
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (!input && !output) return 0;
    return ::ioctl(fd_, TCFLSH, which) == 0 ? 0 : errno;
}

int SerialDevice::inputCount() const {
    int count = 0;
    return fd_ >= 0 && ::ioctl(fd_, FIONREAD, &count) == 0 ? count : 0;
}

int SerialDevice::outputCount() const {
    int count = 0;
    return fd_ >= 0 && ::ioctl(fd_, TIOCOUTQ, &count) == 0 ? count : 0;
}

bool SerialDevice::transmitterEmpty() const {
    if (fd_ < 0 || outputCount() > 0) return fd_ < 0;
    int lsr = 0;
    if (::ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) return true;  // not a UART
    return (lsr & TIOCSER_TEMT) != 0;
}

LineErrorCounts SerialDevice::errorCounts() const {
    serial_icounter_struct counts{};
    if (fd_ < 0 || ::ioctl(fd_, TIOCGICOUNT, &counts) != 0) return {};  // none on a pty
    return {counts.frame, counts.overrun, counts.parity, counts.buf_overrun, counts.brk};
}

long SerialDevice::read(uint8_t* data, long count) {
    if (count <= 0) return 0;
    const ssize_t got = ::read(fd_, data, static_cast<size_t>(count));
    if (got >= 0) return got;
    return errno == EAGAIN || errno == EINTR ? 0 : -errno;
}

long SerialDevice::write(const uint8_t* data, long count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    long written = 0;
    while (written < count) {
        const ssize_t put = ::write(fd_, data + written, static_cast<size_t>(count - written));
        if (put > 0) {
            written += put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return -errno;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd ready{fd_, POLLOUT, 0};
        if (::poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -errno;
    }
    return written;
}

}  // namespace tarnel
