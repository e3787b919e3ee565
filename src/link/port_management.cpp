// Opening and closing the two links.
#include "base/dialogs.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "base/time_format.h"
#include "link/gateway_link.h"
#include "serial/serial_types.h"

namespace tarnel {
namespace {

// The line settings from the combo boxes' texts, with their fall-backs.
SerialTransport::Line lineFromTexts(const GatewayLink::SerialTexts& texts) {
    SerialTransport::Line line;
    static const QList<int> kRates = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    bool ok = false;
    const int rate = texts.speed.toInt(&ok);
    line.baudrate = ok && kRates.contains(rate) ? rate : 19200;
    static const QStringList kParities = {"None", "Odd", "Even", "Mark", "Space"};
    line.parity =
        kParities.contains(texts.parity) ? static_cast<int>(kParities.indexOf(texts.parity)) : 2;
    line.stopBits = texts.stop == "2" ? 2 : 1;
    return line;
}

}  // namespace

void GatewayLink::Butt_open_port2Click(const SerialTexts& texts) {
    if (serialOpen_)
        closeSerial();
    else
        openSerial(texts);
}

void GatewayLink::openSerial(const SerialTexts& texts) {
    serialDeviceName_ = QStringLiteral("\\\\.\\") + texts.name;
    const QString reason = serial_.probe(serialDeviceName_);
    if (!reason.isEmpty()) {
        status_.setSerial(serialDeviceName_ + " is closed");
        log_.append(reason);
        dialogs_.warning("Connect to port", "This serial port is already in use!");
        return;
    }
    try {
        serial_.open(serialDeviceName_, lineFromTexts(texts));
    } catch (const ESerialPortError& error) {
        log_.append(error.message());
        dialogs_.message(error.message());
        return;
    }
    const QString settings = texts.name + " - " + texts.speed + ",8," + texts.parity;
    status_.setSerial(settings);
    log_.append(settings);
    serialOpen_ = true;
    // The two links are never used at the same time.
    tcp_.abort();
    tcpMode_ = false;
    emit stateChanged();
}

void GatewayLink::closeSerial() {
    if (!serialOpen_) return;
    serial_.close();
    status_.setSerial(serialDeviceName_ + " is closed");
    serialOpen_ = false;
    log_.append(QStringLiteral("Serial port for modbus closed"));
    emit stateChanged();
}

void GatewayLink::onSerialLost(const QString& reason) {
    if (!serialOpen_) return;
    log_.append(reason);
    status_.setSerial(serialDeviceName_ + " is closed");
    serialOpen_ = false;
    log_.append(QStringLiteral("Serial port for modbus closed"));
    emit stateChanged();
}

void GatewayLink::Butt_connect_xportClick(const QString& ip, const QString& port,
                                          int ethTimeoutPosition) {
    if (connectWaiting()) return;  // the previous attempt's wait is still running
    bool ok = true;
    const int number = port.isEmpty() ? 502 : port.toInt(&ok);
    if (!ok || number < 0 || number > 65535 || ip.trimmed().isEmpty()) {
        log_.append(QStringLiteral("Remote IP and Port are not properly set..."));
        tcp_.abort();
        tcpMode_ = false;
        emit stateChanged();
        return;
    }
    if (tcpMode_) return;
    tcpHostText_ = ip;
    try {
        tcp_.connectToHost(ip, static_cast<uint16_t>(number));
        log_.append(QStringLiteral("Trying to connect to remote TCP server..."));
        // The window stays usable during the wait; a click meanwhile is ignored.
        connectWait_->start((ethTimeoutPosition + 1) * 10);
    } catch (const std::exception&) {
        log_.append(QStringLiteral("Unexpected exception when connecting to KVD ethernet..."));
        tcp_.abort();
        tcpMode_ = false;
        emit stateChanged();
    }
}

bool GatewayLink::connectWaiting() const {
    return connectWait_->isActive();
}

void GatewayLink::BitBtn24Click() {
    tcp_.abort();
}

void GatewayLink::onTcpConnected() {
    log_.append(QStringLiteral("Connected TCP/IP, at ") + LongTimeText(clock_.now()));
    status_.setTcp(QStringLiteral("Connected to ") + tcpHostText_);
    tcpMode_ = true;
    transactionId_ = 1000;
    emit stateChanged();
}

void GatewayLink::onTcpDisconnected() {
    log_.append(QStringLiteral("Disconnected TCP/IP connection at ") + LongTimeText(clock_.now()));
    status_.setTcp(QStringLiteral("Disconnected TCP "));
    tcpMode_ = false;
    emit stateChanged();
}

void GatewayLink::shutdown() {
    closeSerial();
    if (!tcpMode_) return;
    try {
        tcp_.abort();
        tcpMode_ = false;
    } catch (const std::exception& error) {
        log_.append(QStringLiteral("Unknown socket exception - ") +
                    QString::fromUtf8(error.what()));
    }
}

}  // namespace tarnel
