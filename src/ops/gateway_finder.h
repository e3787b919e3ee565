#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "base/clock.h"
#include "link/transport.h"
#include "ops/busy_rule.h"
#include "ops/gateway_probe.h"
#include "ops/results.h"

namespace tarnel {

// Something that answered Modbus: a Corvane-64 (its identification and its
// active-device count read), or another device, with what it answered.
struct FoundDevice {
    bool tcp = false;
    QString port;                // the serial device, or the TCP host
    SerialTransport::Line line;  // serial only
    uint16_t tcpPort = 0;        // TCP only
    int unit = 0;
    bool gateway = false;
    DeviceIdentification identification;
    int activeDevices = -1;
    QString answered;  // a device that is not a gateway: what it answered
};

// Where the finder is: what it tries now, and how many tries of its plan
// are left (lines to probe, or addresses to sweep).
struct FinderProgress {
    QString trying;
    int left = 0;
};

struct FinderResult {
    QList<FoundDevice> found;
    int tries = 0;        // requests sent
    int linksOpened = 0;  // serial ports opened and TCP hosts connected
    Ending ending = Ending::Done;
};

// Finds the gateway: on each serial port, which line (speed, parity, stop
// bits) and Modbus address it answers at; on each TCP host, at which unit.
// At each line setting one probe (a device identification to the likely
// address) judges the line first (JudgeLine); a right line is swept for
// the address, and when no line was right the two most likely silent ones
// are. A device that answers is confirmed by its identification and its
// active-device count. It opens the ports itself, one at a time, and closes
// them; it excludes every other operation (BusyRule).
class GatewayFinder : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QStringList serialPorts{};
        SerialTransport::Line currentLine{};  // the window's line, tried first
        int currentUnit = 1;
        QStringList tcpHosts{};
        uint16_t tcpPort = 502;
        int connectTimeoutMs = 500;
        int tcpTimeoutMs = 100;
        bool all = false;  // go on after the first gateway
    };

    GatewayFinder(SerialTransport& serial, TcpTransport& tcp, Clock& clock, BusyRule& busy,
                  QObject* parent = nullptr);
    ~GatewayFinder() override;

    // False when the busy rule refuses it; else `finished` follows.
    bool start(const Settings& settings);
    // Ends the run at once with what was found (Ending::Stopped).
    void stop();
    bool running() const { return running_; }

signals:
    void progress(const FinderProgress& progress);
    void found(const FoundDevice& device);
    void finished(const FinderResult& result);

private:
    using Reply = std::function<void(const QByteArray& received)>;

    void nextPort();
    bool openSerial(const SerialTransport::Line& line);
    void probeLine(int index);
    void afterProbes();
    void sweepSilentLines();
    FoundDevice serialPlace(const SerialTransport::Line& line, int unit) const;
    bool settingsTcp() const;  // the port in hand is a TCP host
    void sweepSerial(const SerialTransport::Line& line, QList<int> units,
                     std::function<void()> done);
    void connectHost();
    void sweepTcp(QList<int> units);
    void confirm(const FoundDevice& where, const QByteArray& idPdu, std::function<void()> done);
    void ask(const QByteArray& adu, int timeoutMs, Reply then);
    void answer();  // the reply is whole, or the time-out or the frame gap came
    bool enough() const;
    void finish(Ending ending);
    void tell(const QString& trying, int left);
    std::optional<QByteArray> pdu(const QByteArray& received, int unit) const;

    Clock& clock_;
    SerialTransport& serial_;
    TcpTransport& tcp_;
    BusyRule& busy_;
    Timer* timer_;
    Settings settings_;
    bool running_ = false;
    FinderResult result_;
    qsizetype portIndex_ = 0;  // past the port in hand: serial ports, then TCP hosts
    QList<SerialTransport::Line> lines_;
    QList<SerialTransport::Line> silentLines_;
    QString port_;
    bool hostUp_ = false;    // the TCP host in hand accepted
    bool linkDone_ = false;  // a gateway was found on the port in hand
    bool linkCounted_ = false;
    int unit_ = 0;  // the request in flight
    int frameGapMs_ = 30;
    qint64 deadline_ = 0;  // the request's time-out, on the clock
    uint16_t transaction_ = 0;
    QByteArray received_;
    Reply then_;
    std::function<void()> onConnect_;
    QList<QMetaObject::Connection> connections_;
};

}  // namespace tarnel
