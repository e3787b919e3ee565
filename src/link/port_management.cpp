// Opening and closing the two links.
#include "base/dialogs.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "base/time_format.h"
#include "link/gateway_link.h"
#include "link/serial_pacer.h"
#include "serial/serial_types.h"

namespace tarnel {

SerialSettings SerialSettingsFromTexts(const QString& name, const QString& speed,
                                       const QString& parity, const QString& stop) {
    SerialSettings settings;
    settings.portName = name;
    static const QList<int> kRates = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    bool ok = false;
    const int rate = speed.toInt(&ok);
    settings.line.baudrate = ok && kRates.contains(rate) ? rate : 19200;
    static const QStringList kParities = {"None", "Odd", "Even", "Mark", "Space"};
    settings.line.parity =
        kParities.contains(parity) ? static_cast<int>(kParities.indexOf(parity)) : 2;
    settings.line.stopBits = stop == "2" ? 2 : 1;
    settings.caption = name + " - " + speed + ",8," + parity;
    return settings;
}

std::optional<int> TcpPortFromText(const QString& text) {
    if (text.isEmpty()) return 502;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < 0 || number > 65535) return std::nullopt;
    return number;
}

void GatewayLink::openSerial(const SerialSettings& settings) {
    serialDeviceName_ = QStringLiteral("\\\\.\\") + settings.portName;
    // The user sees the port as typed or picked; the prefix is the component's.
    serialPortName_ = settings.portName;
    const QString reason = serial_.probe(serialDeviceName_);
    if (!reason.isEmpty()) {
        status_.setSerial(serialPortName_ + " is closed");
        log_.append(reason);
        if (reason.contains("Permission denied"))
            log_.append(QStringLiteral("No rights to open %1: add your user to the group that owns "
                                       "it (usually dialout: sudo usermod -aG dialout $USER) and "
                                       "log in again.")
                            .arg(settings.portName));
        dialogs_.warning("Connect to port", "This serial port is already in use!");
        return;
    }
    try {
        serial_.open(serialDeviceName_, settings.line);
    } catch (const ESerialPortError& error) {
        log_.append(error.message());
        dialogs_.message(error.message());
        return;
    }
    status_.setSerial(settings.caption);
    log_.append(settings.caption);
    serialOpen_ = true;
    // The two links are never used at the same time.
    tcp_.abort();
    tcpMode_ = false;
    emit stateChanged();
}

void GatewayLink::closeSerial() {
    if (!serialOpen_) return;
    serial_.close();
    status_.setSerial(serialPortName_ + " is closed");
    serialOpen_ = false;
    log_.append(QStringLiteral("Serial port for modbus closed"));
    wentDown();
    emit stateChanged();
}

void GatewayLink::onSerialLost(const QString& reason) {
    if (!serialOpen_) return;
    log_.append(reason);
    status_.setSerial(serialPortName_ + " is closed");
    serialOpen_ = false;
    log_.append(QStringLiteral("Serial port for modbus closed"));
    wentDown();
    emit stateChanged();
}

void GatewayLink::wentDown() {
    endAll(ExchangeEnd::LinkLost);
    emit linkLost();
}

void GatewayLink::connectTcp(const QString& host, std::optional<int> port, int ethTimeoutPosition) {
    if (connectWaiting()) return;  // the previous attempt's wait is still running
    if (!port || host.trimmed().isEmpty()) {
        log_.append(QStringLiteral("Remote IP and Port are not properly set..."));
        tcp_.abort();
        tcpMode_ = false;
        emit stateChanged();
        return;
    }
    if (tcpMode_) return;
    tcpHostText_ = host;
    tcpPort_ = *port;
    try {
        tcp_.connectToHost(host, static_cast<uint16_t>(*port));
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

QString GatewayLink::identity() const {
    if (tcpMode_) return QStringLiteral("TCP %1:%2").arg(tcpHostText_.trimmed()).arg(tcpPort_);
    return serialOpen_ ? serialPortName_ : QString();
}

bool GatewayLink::connectWaiting() const {
    return connectWait_->isActive();
}

void GatewayLink::disconnectTcp() {
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
    const bool wasUp = tcpMode_;
    tcpMode_ = false;
    if (wasUp) wentDown();
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
