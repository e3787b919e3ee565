#include "link/gateway_link.h"

#include <QThread>

#include "base/log.h"
#include "base/status_panels.h"
#include "link/serial_pacer.h"

namespace tarnel {

GatewayLink::GatewayLink(SerialTransport& serial, TcpTransport& tcp, Clock& clock, Log& log,
                         StatusPanels& status, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      serial_(serial),
      tcp_(tcp),
      clock_(clock),
      log_(log),
      status_(status),
      dialogs_(dialogs),
      pacer_(new SerialPacer(serial, clock, log, this)),
      connectWait_(clock.createTimer(this, "ConnectWait")) {
    connect(&serial_, &SerialTransport::received, this,
            [this](const QByteArray& bytes) { append(serialRxBuffer_, bytes); });
    connect(&serial_, &SerialTransport::lost, this, &GatewayLink::onSerialLost);
    connect(&tcp_, &TcpTransport::received, this,
            [this](const QByteArray& bytes) { append(tcpRxBuffer_, bytes); });
    connect(&tcp_, &TcpTransport::connected, this, &GatewayLink::onTcpConnected);
    connect(&tcp_, &TcpTransport::disconnected, this, &GatewayLink::onTcpDisconnected);
    connect(&tcp_, &TcpTransport::errorOccurred, this,
            [this](int code) { log_.append(QStringLiteral("Socket error #%1").arg(code)); });
}

GatewayLink::~GatewayLink() = default;

// --- receive buffers -------------------------------------------------------

void GatewayLink::append(QByteArray& buffer, const QByteArray& bytes) {
    std::lock_guard lock(buffersLock_);
    buffer.append(bytes.first(std::min(bytes.size(), kMaxBuffer - buffer.size())));
}

QByteArray GatewayLink::SerialRxBuffer() const {
    std::lock_guard lock(buffersLock_);
    return serialRxBuffer_;
}

QByteArray GatewayLink::TcpRxBuffer() const {
    std::lock_guard lock(buffersLock_);
    return tcpRxBuffer_;
}

void GatewayLink::clearBuffers() {
    std::lock_guard lock(buffersLock_);
    serialRxBuffer_.clear();
    tcpRxBuffer_.clear();
}

// --- the steps of every operation ------------------------------------------

bool GatewayLink::requireLink() {
    if (serialOpen_ || tcpMode_) return true;
    log_.append(QStringLiteral("Serial or TCP port for modbus is not open..."));
    return false;
}

void GatewayLink::prepareRequest() {
    clearBuffers();
    if (serialOpen_) serial_.purgeAll();
}

QByteArray GatewayLink::takeReply(bool logReceived) {
    QByteArray reply;
    if (tcpMode_) {
        QStringList lines;
        reply = TcpToRtuFrame(TcpRxBuffer(), &lines);
        for (const QString& line : lines)
            log_.append(line);
    } else {
        reply = SerialRxBuffer();
    }
    if (logReceived) log_.append(RcvdLine(reply));
    return reply;
}

void GatewayLink::report(const ParseReport& parsed) {
    for (const QString& line : parsed.lines)
        log_.append(line);
    if (parsed.crcError) status_.markCrcError();
}

// --- senders ---------------------------------------------------------------

void GatewayLink::sendRequest(const ModbusRequest& request, Sent sent) {
    pacer_->send(RtuFrame(request.adu), request.leadPauseMs, request.bytePauseMs, std::move(sent));
}

void GatewayLink::sendTcp(const QByteArray& adu, Sent sent) {
    const uint16_t transaction = static_cast<uint16_t>(transactionId_++ & 0xFFFF);
    const QByteArray frame = TcpFrame(transaction, adu);
    const auto hand = [this, frame] {
        try {
            tcp_.send(frame);
        } catch (const std::exception& error) {
            log_.append(QStringLiteral("Exception socket - ") + QString::fromUtf8(error.what()));
        }
    };
    // The socket lives on the link's thread; a worker hands the frame over.
    if (QThread::currentThread() == thread())
        hand();
    else
        QMetaObject::invokeMethod(this, hand, Qt::QueuedConnection);
    if (sent) sent();
}

static QString refusedPayloadLine(qsizetype size) {
    return QStringLiteral(
               "Request not sent: a payload of %1 bytes is more than the %2 a request holds...")
        .arg(size)
        .arg(kMaxPayload);
}

bool GatewayLink::SendWriteRegisters(int slave, int startRegister, int byteCount,
                                     QByteArrayView payload, Sent sent) {
    if (tcpMode_)
        return SendWriteRegistersTcp(slave, startRegister, byteCount, payload, std::move(sent));
    const auto request = WriteRegistersRequest(slave, startRegister, byteCount, payload);
    if (!request) {
        log_.append(refusedPayloadLine(std::max<qsizetype>(payload.size(), byteCount)));
        return false;
    }
    sendRequest(*request, std::move(sent));
    return true;
}

bool GatewayLink::SendWriteRegistersTcp(int slave, int startRegister, int byteCount,
                                        QByteArrayView payload, Sent sent) {
    const auto request = WriteRegistersRequest(slave, startRegister, byteCount, payload);
    if (!request) {
        log_.append(refusedPayloadLine(std::max<qsizetype>(payload.size(), byteCount)));
        return false;
    }
    sendTcp(request->adu, std::move(sent));
    return true;
}

void GatewayLink::SendWriteSingleRegister(int slave, int registerNumber, uint8_t valueHigh,
                                          uint8_t valueLow, Sent sent) {
    if (tcpMode_)
        return SendWriteSingleRegisterTcp(slave, registerNumber, valueHigh, valueLow,
                                          std::move(sent));
    sendRequest(WriteSingleRegisterRequest(slave, registerNumber, valueHigh, valueLow),
                std::move(sent));
}

void GatewayLink::SendWriteSingleRegisterTcp(int slave, int registerNumber, uint8_t valueHigh,
                                             uint8_t valueLow, Sent sent) {
    sendTcp(WriteSingleRegisterRequest(slave, registerNumber, valueHigh, valueLow).adu,
            std::move(sent));
}

void GatewayLink::SendReadInputRegisters(int slave, int startRegister, int quantity, Sent sent) {
    if (tcpMode_) return SendReadInputRegistersTcp(slave, startRegister, quantity, std::move(sent));
    sendRequest(ReadInputRegistersRequest(slave, startRegister, quantity), std::move(sent));
}

void GatewayLink::SendReadInputRegistersTcp(int slave, int startRegister, int quantity, Sent sent) {
    sendTcp(ReadInputRegistersRequest(slave, startRegister, quantity).adu, std::move(sent));
}

void GatewayLink::SendReadHoldingRegisters(int slave, int startRegister, int quantity, Sent sent) {
    if (tcpMode_)
        return SendReadHoldingRegistersTcp(slave, startRegister, quantity, std::move(sent));
    sendRequest(ReadHoldingRegistersRequest(slave, startRegister, quantity), std::move(sent));
}

void GatewayLink::SendReadHoldingRegistersTcp(int slave, int startRegister, int quantity,
                                              Sent sent) {
    sendTcp(ReadHoldingRegistersRequest(slave, startRegister, quantity).adu, std::move(sent));
}

void GatewayLink::SendReadDeviceId(int slave, uint8_t readDeviceIdCode, Sent sent) {
    if (tcpMode_) return SendReadDeviceIdTcp(slave, readDeviceIdCode, std::move(sent));
    sendRequest(ReadDeviceIdRequest(slave, readDeviceIdCode), std::move(sent));
}

void GatewayLink::SendReadDeviceIdTcp(int slave, uint8_t readDeviceIdCode, Sent sent) {
    sendTcp(ReadDeviceIdRequest(slave, readDeviceIdCode).adu, std::move(sent));
}

bool GatewayLink::SendSetClock(int slave, int startRegister, int registerCount, Sent sent) {
    if (tcpMode_) return SendSetClockTcp(slave, startRegister, registerCount, std::move(sent));
    if (registerCount != 4) {
        log_.append(QStringLiteral("Not allowable register count!"));
        return false;
    }
    sendRequest(SetClockRequest(slave, startRegister, clock_.now()), std::move(sent));
    return true;
}

bool GatewayLink::SendSetClockTcp(int slave, int startRegister, int registerCount, Sent sent) {
    if (registerCount != 4) {
        ++transactionId_;  // the counter is taken before the count is checked
        log_.append(QStringLiteral("Not allowable register count!"));
        return false;
    }
    sendTcp(SetClockRequest(slave, startRegister, clock_.now()).adu, std::move(sent));
    return true;
}

bool GatewayLink::writeRawByte(uint8_t byte) {
    return serial_.writeByte(byte);
}

bool GatewayLink::writeRawText(const QByteArray& text) {
    return serial_.writeText(text);
}

}  // namespace tarnel
