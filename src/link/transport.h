#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace tarnel {

// The serial side of the link as the link uses it: the serial port, or an
// in-memory stand-in in tests and the simulated gateway. Errors are thrown as
// ESerialPortError. Lives on the link's thread; writes may also come from
// the search worker.
class SerialTransport : public QObject {
    Q_OBJECT
public:
    struct Line {
        int baudrate = 19200;
        int parity = 2;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
        int stopBits = 1;  // 1 or 2; always 8 data bits
    };

    using QObject::QObject;

    // Whether the named port can be opened exclusively: an empty text when
    // it can, else the system's reason.
    virtual QString probe(const QString& deviceName) = 0;
    virtual void open(const QString& deviceName, const Line& line) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool writeByte(uint8_t byte) = 0;
    virtual bool writeText(const QByteArray& text) = 0;
    // Writes the whole frame with one call, no gaps between its bytes, and
    // runs `sent` on the transport's thread once the driver has put the last
    // byte on the line (at once where that cannot be told). False, without
    // `sent`, when the port refused the bytes.
    virtual bool writeFrame(const QByteArray& frame, std::function<void()> sent) {
        if (!writeText(frame)) return false;
        if (sent) sent();
        return true;
    }
    virtual void setRts(bool on) = 0;
    // Throws away both directions' queues.
    virtual void purgeAll() = 0;

signals:
    void received(const QByteArray& bytes);
    // The device went away while open (a USB adapter unplugged); the
    // transport is closed already.
    void lost(const QString& reason);
};

// The TCP side of the link: a non-blocking client socket.
class TcpTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void connectToHost(const QString& host, uint16_t port) = 0;
    // Makes the socket inactive; a standing connection reports disconnected().
    virtual void abort() = 0;
    virtual void send(const QByteArray& frame) = 0;

signals:
    void connected();
    void disconnected();
    void received(const QByteArray& bytes);
    // Socket errors, numbered as Windows Sockets numbers them (10061 refused),
    // with the system's words for them when known.
    void errorOccurred(int code, const QString& reason = {});
};

}  // namespace tarnel
