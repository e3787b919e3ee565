// Opening and closing the two links.
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
        emit event(link_event::SerialRefused{serialPortName_, reason});
        return;
    }
    try {
        serial_.open(serialDeviceName_, settings.line);
    } catch (const ESerialPortError& error) {
        emit event(link_event::SerialOpenFailed{error.message()});
        return;
    }
    emit event(link_event::SerialOpened{settings.caption});
    turns_ = LineTurns{.silenceNs = InterFrameSilenceNs(settings.line)};
    serialOpen_ = true;
    // The two links are never used at the same time.
    tcp_.abort();
    tcpMode_ = false;
    emit stateChanged();
}

void GatewayLink::closeSerial() {
    if (!serialOpen_) return;
    serial_.close();
    serialOpen_ = false;
    emit event(link_event::SerialClosed{serialPortName_, {}});
    wentDown();
    emit stateChanged();
}

void GatewayLink::onSerialLost(const QString& reason) {
    if (!serialOpen_) return;
    serialOpen_ = false;
    emit event(link_event::SerialClosed{serialPortName_, reason});
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
        emit event(link_event::TcpNotSet{});
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
        emit event(link_event::TcpConnecting{});
        // The window stays usable during the wait; a click meanwhile is ignored.
        connectWait_->start((ethTimeoutPosition + 1) * 10);
    } catch (const std::exception&) {
        emit event(link_event::TcpConnectFault{});
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
    emit event(link_event::TcpConnected{clock_.now(), tcpHostText_});
    tcpMode_ = true;
    transactionId_ = 1000;
    emit stateChanged();
}

void GatewayLink::onTcpDisconnected() {
    emit event(link_event::TcpDisconnected{clock_.now()});
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
        emit event(link_event::ShutdownFault{QString::fromUtf8(error.what())});
    }
}

}  // namespace tarnel
