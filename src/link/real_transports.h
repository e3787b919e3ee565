#pragma once

#include <QElapsedTimer>
#include <QTcpSocket>

#include "link/transport.h"
#include "serial/serial_port.h"

namespace tarnel {

// The serial link on the serial port component `Comm2`: direct writes, no
// flow control; every receive event is read in chunks of 1024 bytes.
class CommTransport final : public SerialTransport {
    Q_OBJECT
public:
    explicit CommTransport(QObject* parent = nullptr);

    QString probe(const QString& deviceName) override;
    void open(const QString& deviceName, const Line& line) override;
    void close() override;
    bool isOpen() const override { return comm_.IsOpen(); }
    bool writeByte(uint8_t byte) override { return comm_.WriteByte(byte); }
    bool writeText(const QByteArray& text) override { return comm_.WriteText(text); }
    bool writeFrame(const QByteArray& frame, std::function<void()> sent) override;
    void setRts(bool on) override { comm_.SetRts(on); }
    void purgeAll() override { comm_.PurgeAll(); }

    TSerialPort& port() { return comm_; }

private:
    void Comm2RxChar(int count);
    void awaitSent(qint64 giveUpAt, std::function<void()> sent);

    TSerialPort comm_;
    int baudrate_ = 19200;
    QElapsedTimer since_;
};

// The TCP link on a QTcpSocket, `Xport_socket`.
class SocketTransport final : public TcpTransport {
    Q_OBJECT
public:
    explicit SocketTransport(QObject* parent = nullptr);

    void connectToHost(const QString& host, uint16_t port) override;
    void abort() override;
    void send(const QByteArray& frame) override;

    // The Windows Sockets number an installer's notes know for a socket error.
    static int winsockCode(QAbstractSocket::SocketError error, const QString& text);

private:
    QTcpSocket socket_;
};

}  // namespace tarnel
