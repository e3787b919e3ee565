#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace tarnel {

// Every error the serial port raises.
class ESerialPortError : public std::runtime_error {
public:
    explicit ESerialPortError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

enum TBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
// Bits per second of each rate but brUser.
int baudrateValue(TBaudrate rate);

enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TDatabits { db4, db5, db6, db7, db8 };
enum TStopbits { sb1, sb15, sb2 };
enum TDtrControl { dtrDisabled, dtrEnabled, dtrHandshake };
enum TRtsControl { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// Options of the device control block.
enum TSerialOption : uint8_t { coErrorChar = 0x1, coNullStrip = 0x2, coParityCheck = 0x4 };
using TSerialOptions = uint8_t;

// The events the event thread watches, with the bit each has in the event
// mask: received bytes (OnRxChar) and line errors (OnError).
enum TSerialEvent : uint32_t {
    ceRxChar = 0x1,
    ceError = 0x80,
};
using TSerialEvents = uint32_t;

// Error bits reported by ReadStatus and OnError. The last one is ours: the
// other side of the line went away (a pseudo-terminal's master closed, a USB
// adapter unplugged).
enum TSerialErrorBit : uint32_t {
    ceRxOver = 0x1,
    ceOverrun = 0x2,
    ceRxParity = 0x4,
    ceFrame = 0x8,
    ceBreakBit = 0x10,
    ceHangup = 0x8000,
};

// What ReadStatus returns: the error bits since the last call and the queues.
struct TSerialStatus {
    uint32_t errors = 0;
    int inQueue = 0;
    int outQueue = 0;
};

}  // namespace tarnel
