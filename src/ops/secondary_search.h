#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <optional>

#include "base/clock.h"
#include "base/grid_selection.h"
#include "base/worker.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "mbus/mbus_frames.h"
#include "ops/id_mask.h"
#include "ops/mbus_transaction.h"
#include "ops/results.h"

namespace tarnel {

class BusyRule;
class GatewayLink;

// The secondary address search and the primary-address change by
// identification number. Both run on a worker thread (the
// SecondaryIDThread): it selects meters by their identification number with
// the selection telegram through the gateway, collects each answer, reads
// the meter it has isolated and lists it in the meter grid, on the window's
// thread. Each run ends with one `finished`.
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

    SecondarySearch(GatewayLink& link, BusyRule& busy, QObject* parent = nullptr);
    ~SecondarySearch() override;

    // "Find by ID" with the text of the ID edit: an exact number, "FFFFFFFF"
    // for every meter, or digits and "F"s for the meters that match. Returns
    // the Retry the search runs with (raised to 1 from 0) once it started.
    // A search for every meter empties the meter grid first when
    // `clearTable` (the face asked the user before).
    std::optional<int> start(const QString& idText, const Settings& settings, bool clearTable);
    // Whether `meter` is a listed meter with an exact identification number,
    // the one an address change selects.
    static bool canChangeAddress(const MeterTarget& meter);
    // The meter `meter` gets the primary address `newAddress` (the face asked
    // the user before). Unless `checkNewAddress` is off, the new address is
    // read first, and anything but the meter itself answering there leaves
    // the address unchanged. Returns the Retry it runs with, as above.
    std::optional<int> changeAddress(const MeterTarget& meter, int newAddress,
                                     const Settings& settings, bool checkNewAddress = true);
    // The same for the meter `id` without asking: one step of the bulk
    // change, which holds the busy rule for it. False when it did not start.
    bool changeAddressOf(const QString& id, int newAddress, const Settings& settings);
    // STOP: the run in progress ends at once (any thread).
    void stop();
    bool running() const { return worker_.running(); }

signals:
    // What the run tells as it goes (the presenter words it).
    void event(const MbusEvent& event);
    // The search probes `mask` (from the worker, for a progress display).
    void checking(const QString& mask);
    // A meter answered with `telegram` and was listed as `id`.
    void listed(const QString& id, const QByteArray& telegram);
    void finished(const SearchResult& result);

private:
    enum class Mode { Exact, Wildcard, ChangeAddress };
    struct Run {
        Mode mode;
        IdMask mask;
        int newAddress;
        Settings settings;
        int address = -1;  // the address change's meter, for its line
        bool checkNewAddress = true;
    };

    bool launch(const Run& run);
    // The worker's body and its steps (on the worker thread).
    void execute(const Run& run);
    void exactSearch(const Run& run);
    void wildcardSearch(IdMask mask, const std::vector<int>& free, size_t level, const Run& run);
    void changeMeterAddress(const Run& run);
    std::optional<AddressTaken> newAddressTaken(const Run& run);
    bool probe(const IdMask& mask, const Run& run);
    bool readSelected(const Run& run);
    QByteArray sendAndCollect(const Bytes& telegram, const Run& run);
    MbusResult collect(const Bytes& telegram, const Run& run);
    bool list(const QByteArray& telegram);
    void judged(const ExchangeResult& result);
    void tell(const MbusEvent& told);
    bool stopped() const;
    void endStep(const Run& run);

    GatewayLink& link_;
    BusyRule& busy_;
    MbusTransaction* transaction_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> lost_{false};
    std::atomic<bool> silent_{false};  // the gateway left the search unanswered
    // What a run met: written by the worker (the gateway's errors on the
    // window's thread, while the worker waits for its transaction), read
    // once it has ended.
    SearchResult result_;
    GatewayErrors errors_;
    // The search (not an address change) stops when the gateway is silent;
    // on the link's thread, as the errors.
    bool watchSilence_ = false;
    SilentGateway silence_;
    Worker worker_;
};

}  // namespace tarnel
