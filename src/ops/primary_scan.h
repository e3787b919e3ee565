#pragma once

#include <QObject>
#include <QString>

#include "base/clock.h"
#include "base/grid_selection.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "mbus/mbus_frames.h"
#include "ops/mbus_events.h"
#include "ops/mbus_transaction.h"
#include "ops/results.h"

namespace tarnel {

class BusyRule;
class GatewayLink;

// The primary address scan, and the single request to one listed meter (a
// read, or a change telegram followed by reads): each request is one M-Bus
// transaction through the gateway (`MbusTransaction`), whose wait is the scan
// time; the decoder lists the meter's reply in the meter grid. Each run ends
// with one `finished`.
class PrimaryScan : public QObject {
    Q_OBJECT
public:
    // What the scan and the requests take from the window.
    struct Settings {
        int slave = 1;
        int from = 1;
        int to = 5;
        int scanTimeMs = 1000;
        int timeoutMs = 600;
        int retries = 2;
    };
    // The range a scan runs over (From and To swapped when To was below
    // From), and whether it started.
    struct Start {
        int from = 0;
        int to = 0;
        bool started = false;
    };

    PrimaryScan(GatewayLink& link, BusyRule& busy, Timer& timerMbus, Timer& timerMbusRespond,
                QObject* parent = nullptr);
    ~PrimaryScan() override;

    // "Scan mbus"; the meter grid emptied first when `clearTable` (the face
    // asked the user before).
    Start start(const Settings& settings, bool clearTable);
    // STOP: ends the scan or the request under way.
    void stop();
    // Pop-up "Read": the meter once more. False when it did not start.
    bool readMeter(const MeterTarget& meter, const Settings& settings);
    // Sends the change `telegram` (a SND_UD) to the meter at `address`: its
    // acknowledgement (E5) answers it; a read follows with REQ_UD2 as a
    // read's retries do.
    bool request(int address, const Bytes& telegram, const Settings& settings);
    bool running() const { return mode_ != Mode::Idle; }

signals:
    // What the run tells as it goes (the presenter words it).
    void event(const MbusEvent& event);
    // The scan asks `address` (for a progress display).
    void requesting(int address);
    // A meter answered with `telegram` and was listed as `id`.
    void listed(const QString& id, const QByteArray& telegram);
    void finished(const MbusRunResult& result);

private:
    enum class Mode { Idle, Scan, Request };

    bool begin(int address, const Bytes& telegram, const Settings& settings, bool change);
    void sendTelegram(const Bytes& telegram);
    bool acknowledged(const MbusResult& result);
    void collected(const MbusResult& result);
    void evaluateRequest();
    void evaluateScan();
    void requestAddress();
    void end(Ending ending);
    void connectionLost();

    GatewayLink& link_;
    BusyRule& busy_;
    MbusTransaction* transaction_;
    Settings settings_;
    Mode mode_ = Mode::Idle;
    int address_ = 0;  // the address requested now
    int retryCount_ = 0;
    bool noAnswer_ = false;
    bool change_ = false;        // the request is a change telegram
    bool acknowledged_ = false;  // its meter acknowledged it
    bool readBackMissing_ = false;
    // What the run met, for its closing line and its result.
    int found_ = 0;
    int silent_ = 0;
    MeterRow row_;  // the meter a request decoded
    // The link the run is on; the scan's meters it listed.
    QString runLink_;
    QList<MeterRow> rows_;
    GatewayErrors errors_;
    SilentGateway silence_;  // the scan stops when the gateway itself is silent
};

}  // namespace tarnel
