#pragma once

#include <QString>
#include <cstdint>

namespace tarnel {

// The system's text for an errno value ("Permission denied").
QString osErrorText(int code);

// Line settings in the form the device takes them.
struct LineSettings {
    int baudrate = 1200;   // bits per second
    int parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int dataBits = 8;      // 5..8 (4 is refused)
    int stopBits = 0;      // 0 one, 1 one and a half, 2 two
    bool ctsFlow = false;  // hardware handshake on output (CTS) or RTS handshake
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool parityCheck = false;
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
    bool dtr = false;  // DTR raised while open
};

// Counts of line errors the driver has seen since the device was opened.
struct LineErrorCounts {
    int frame = 0, overrun = 0, parity = 0, bufferOverrun = 0, breaks = 0;
};

// One serial device on Linux: opened read/write, non-blocking, without
// becoming the controlling terminal, and locked exclusively with flock so a
// second open (by us or another program that locks) fails as busy, also for
// root. Calls return 0 or an errno value.
class SerialDevice {
public:
    SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    ~SerialDevice() { close(); }

    int open(const QString& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Raw mode, baud rate (any rate, through termios2), parity, data and stop
    // bits, flow control, reads that return at once with what is there.
    int applyLineSettings(const LineSettings& settings);
    // Raising or dropping RTS on a device without modem lines (a
    // pseudo-terminal) does nothing and is no error.
    int setRts(bool on);
    int setDtr(bool on);
    int flush(bool input, bool output);

    int inputCount() const;   // bytes waiting to be read
    int outputCount() const;  // bytes not yet sent by the driver
    // The driver's queue is empty and the transmitter has shifted out its
    // last bit (where the driver tells; a pseudo-terminal has no shifter).
    bool transmitterEmpty() const;
    LineErrorCounts errorCounts() const;

    // Reads what is there, at most `count` bytes: the number read (0 when
    // nothing waits) or -errno.
    long read(uint8_t* data, long count);
    // Writes all bytes, waiting at most `timeoutMs` for the driver to take
    // them: the number taken or -errno.
    long write(const uint8_t* data, long count, int timeoutMs);

private:
    int setModemLine(int line, bool on);

    int fd_ = -1;
};

}  // namespace tarnel
