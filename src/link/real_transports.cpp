#include "link/real_transports.h"

#include <QTimer>

#include "serial/device_names.h"

namespace tarnel {

CommTransport::CommTransport(QObject* parent) : SerialTransport(parent), comm_(this) {
    comm_.setObjectName("Comm2");
    comm_.FlowControl().SetControlDtr(dtrDisabled);
    comm_.FlowControl().SetControlRts(rtsDisabled);
    comm_.OnRxChar = [this](TCustomSerialPort&, int count) { Comm2RxChar(count); };
    comm_.OnError = [this](TCustomSerialPort&, uint32_t errors) {
        if (errors & ceHangup)
            emit lost(QStringLiteral("Serial device %1 went away...")
                          .arg(typedDeviceName(comm_.DeviceName())));
    };
}

QString CommTransport::probe(const QString& deviceName) {
    TSerialPort probe;
    probe.SetDeviceName(deviceName);
    probe.SetMonitorEvents(0);
    probe.SetUpdateDCB(false);
    try {
        probe.Open();
    } catch (const ESerialPortError& error) {
        return error.message();
    }
    probe.Close();
    return {};
}

void CommTransport::open(const QString& deviceName, const Line& line) {
    comm_.SetDeviceName(deviceName);
    comm_.SetBaudrate(br19200);
    comm_.SetUserBaudrate(line.baudrate);
    comm_.SetParity(paEven);
    comm_.SetParity(static_cast<TParity>(line.parity));
    comm_.SetStopbits(line.stopBits == 2 ? sb2 : sb1);
    comm_.SetDatabits(db8);
    // With a parity the received bytes' parity is checked (INPCK): a byte
    // that fails it is read as 0x00, as a wrong speed or parity shows.
    comm_.SetOptions(static_cast<TSerialOptions>(
        line.parity == 0 ? comm_.Options() & ~coParityCheck : comm_.Options() | coParityCheck));
    comm_.Open();
    baudrate_ = line.baudrate;
    comm_.PurgeAll();  // nothing left over from whoever had the line before
}

bool CommTransport::writeFrame(const QByteArray& frame, std::function<void()> sent) {
    // A direct write of a frame of at most 260 bytes: the driver's queue takes
    // it whole, in one write, so nothing separates its bytes on the line.
    const auto* data = reinterpret_cast<const uint8_t*>(frame.constData());
    if (comm_.WriteBytes(data, frame.size()) != frame.size()) return false;
    if (!since_.isValid()) since_.start();
    // The frame's time on the line (11 bits a byte) before the first look.
    const int lineMs = static_cast<int>(frame.size() * 11 * 1000 / std::max(baudrate_, 1));
    const qint64 giveUpAt = since_.elapsed() + 2 * lineMs + 100;
    QTimer::singleShot(lineMs, Qt::PreciseTimer, this,
                       [this, giveUpAt, sent = std::move(sent)]() mutable {
                           awaitSent(giveUpAt, std::move(sent));
                       });
    return true;
}

void CommTransport::awaitSent(qint64 giveUpAt, std::function<void()> sent) {
    // Closed, drained, or stuck (a line held by flow control): done either way,
    // so that RTS drops and no exchange waits for ever.
    if (!comm_.IsOpen() || comm_.TransmitterEmpty() || since_.elapsed() >= giveUpAt) {
        if (sent) sent();
        return;
    }
    QTimer::singleShot(1, Qt::PreciseTimer, this,
                       [this, giveUpAt, sent = std::move(sent)]() mutable {
                           awaitSent(giveUpAt, std::move(sent));
                       });
}

void CommTransport::close() {
    comm_.Close();
}

void CommTransport::Comm2RxChar(int count) {
    char buffer[1024];
    while (count > 0) {
        const long got = comm_.ReadBytes(reinterpret_cast<uint8_t*>(buffer),
                                         std::min<long>(count, sizeof buffer));
        if (got <= 0) break;
        emit received(QByteArray(buffer, got));
        count -= static_cast<int>(got);
    }
}

SocketTransport::SocketTransport(QObject* parent) : TcpTransport(parent), socket_(this) {
    socket_.setObjectName("Xport_socket");
    connect(&socket_, &QTcpSocket::connected, this, &TcpTransport::connected);
    connect(&socket_, &QTcpSocket::disconnected, this, &TcpTransport::disconnected);
    connect(&socket_, &QTcpSocket::readyRead, this, [this] { emit received(socket_.readAll()); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A peer that closes the connection is reported by disconnected().
        if (error == QAbstractSocket::RemoteHostClosedError) return;
        emit errorOccurred(winsockCode(error, socket_.errorString()), socket_.errorString());
    });
}

void SocketTransport::connectToHost(const QString& host, uint16_t port) {
    socket_.abort();
    socket_.connectToHost(host, port);
}

void SocketTransport::abort() {
    socket_.abort();
}

void SocketTransport::send(const QByteArray& frame) {
    socket_.write(frame);
}

int SocketTransport::winsockCode(QAbstractSocket::SocketError error, const QString& text) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return 10061;
        case QAbstractSocket::SocketTimeoutError:
            return 10060;
        case QAbstractSocket::HostNotFoundError:
            return 11001;
        case QAbstractSocket::NetworkError:
            return text.contains("network", Qt::CaseInsensitive) &&
                           text.contains("unreachable", Qt::CaseInsensitive)
                       ? 10051
                       : 10065;
        case QAbstractSocket::SocketAccessError:
            return 10013;
        case QAbstractSocket::SocketResourceError:
            return 10055;
        case QAbstractSocket::AddressInUseError:
            return 10048;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return 10049;
        case QAbstractSocket::UnsupportedSocketOperationError:
            return 10045;
        default:
            return 10053;  // any other failure: the connection was aborted
    }
}

}  // namespace tarnel
