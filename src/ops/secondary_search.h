#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

#include "base/clock.h"
#include "base/worker.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "link/request_frames.h"
#include "mbus/mbus_frames.h"
#include "ops/id_mask.h"
#include "ops/mbus_job_state.h"
#include "ops/mbus_transaction.h"

namespace tarnel {

class Dialogs;
class GatewayLink;
class GridModel;
class Log;

// The secondary address search and the primary-address change by
// identification number. Both run on a worker thread (the
// SecondaryIDThread): it selects meters by their identification number with
// the selection telegram through the gateway, collects each answer, reads
// the meter it has isolated and lists it in the meter grid, which the
// decoder updates on the window's thread.
//
// Every telegram goes to the gateway's pass-through; each wait lasts the
// scan time, or with fast replies until the gateway's reply state says the
// meter's answer is in. STOP ends a run at once: the exchange under way is
// cancelled and no further telegram is sent.
class SecondarySearch : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int slave = 1;
        int scanTimeMs = 1000;
        int retries = 2;
    };

    SecondarySearch(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& grid,
                    MbusJobState& job, Timer& timerMbus, Timer& timerMbusRespond,
                    QObject* parent = nullptr);
    ~SecondarySearch() override;

    // "Find by ID" with the text of the ID edit: an exact number, "FFFFFFFF"
    // for every meter, or digits and "F"s for the meters that match. Returns
    // the Retry the search runs with (raised to 1 from 0) once it started.
    std::optional<int> start(const QString& idText, const Settings& settings);
    // One listed meter (the selected row) gets the primary address
    // `newAddress`; asks first. Returns the Retry it runs with, as above.
    std::optional<int> changeAddress(int newAddress, const Settings& settings);
    // The same for `row` without asking: one step of the bulk change.
    bool changeAddressOfRow(int row, int newAddress, const Settings& settings);
    // STOP: the run in progress ends at once.
    void stop();
    bool running() const { return worker_.running(); }

signals:
    // The buttons a search keeps from starting another operation.
    void searchControlsEnabled(bool enabled);
    // A run has ended (after its last line).
    void finished();
    // The decoder listed a meter and selected its row.
    void selectionChanged(const QString& label);

private:
    enum class Mode { Exact, Wildcard, ChangeAddress };
    struct Run {
        Mode mode;
        IdMask mask;
        int newAddress;
        Settings settings;
    };

    void launch(const Run& run);
    // The worker's body and its steps (on the worker thread).
    void execute(const Run& run);
    void exactSearch(const Run& run);
    void wildcardSearch(IdMask mask, const std::vector<int>& free, size_t level, const Run& run);
    void changeMeterAddress(const Run& run);
    bool probe(const IdMask& mask, const Run& run);
    bool readSelected(const Run& run);
    void sendAndCollect(const Bytes& telegram, const Run& run);
    void logUnmd(const ExchangeResult& result);
    bool decodeById(const QByteArray& telegram);
    bool stopped() const;
    void endStep(bool cut);
    void connectionLost();

    GatewayLink& link_;
    Log& log_;
    Dialogs& dialogs_;
    GridModel& grid_;
    MbusJobState& job_;
    Timer& timerMbus_;
    Timer& timerMbusRespond_;
    MbusTransaction* transaction_;
    std::atomic<bool> lost_{false};
    QByteArray replyBytes_;  // the M-Bus bytes of the last reply (worker only)
    // What a search met, for its closing line: written by the worker (the
    // gateway's errors on the window's thread, while the worker waits for
    // its transaction), read once it has ended.
    bool summarise_ = false;
    int found_ = 0;
    int silentMasks_ = 0;
    GatewayErrors errors_;
    Worker worker_;
};

}  // namespace tarnel
