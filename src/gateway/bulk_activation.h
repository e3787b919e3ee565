#pragma once

#include <QObject>
#include <optional>

#include "base/clock.h"
#include "gateway/gateway_events.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "ops/results.h"

namespace tarnel {

class BusyRule;
class GatewayLink;
class GridModel;

// "Activate All from table": every row of the device grid activated in the
// gateway in turn, each sent again up to Retry times when its answer is
// missing or wrong. The same button stops a run.
class BulkActivation : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int slave = 1;
        int scanTimeMs = 1000;  // the time allowed for each answer
        int retries = 2;
    };

    // `devices` is the device grid whose rows are activated.
    BulkActivation(GatewayLink& link, GridModel& devices, BusyRule& busy, Timer& timerActivateAll,
                   QObject* parent = nullptr);
    // Its exchange ends with it.
    ~BulkActivation() override;

    // Starts a run; true when it started, and then one `finished` follows.
    bool start(const Settings& settings);
    // "Stop activation": the request in flight is let finish (a meter the
    // gateway activated is counted), no further row is sent. Needs no link.
    void stop();
    bool running() const { return running_; }
    // Ctrl-C: ends a run at once; the row in flight counts as not activated.
    void stopNow();

    // The button's captions.
    static constexpr const char* kStart = "Activate All from table";
    static constexpr const char* kStop = "Stop activation";
    static constexpr const char* kAgain = "Activate All in table";

signals:
    // What the run tells as it goes (the presenter words it).
    void event(const GatewayEvent& event);
    void captionChanged(const QString& caption);
    // The run sends the activation of the meter at `address` (for a progress display).
    void activating(const QString& address);
    void finished(const ActivationResult& result);

private:
    void sendRow();
    void Timer_activateAllTimer(const ExchangeResult& result);
    std::optional<int> rowAddress();
    void next(bool succeeded, bool refused);
    void end(Ending ending);
    void connectionLost();

    GatewayLink& link_;
    GridModel& devices_;
    BusyRule& busy_;
    Timer& timer_;
    Settings settings_;
    bool running_ = false;
    bool stopping_ = false;  // "Stop activation": the request in flight is the last
    int row_ = 0;            // activationRow
    int retries_ = 0;        // activationRetries
    // What the run met, for its result (and so its closing lines).
    ActivationResult result_;
    SilentGateway silence_;  // the run stops when the gateway is silent
};

}  // namespace tarnel
