#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "base/grid_selection.h"
#include "mbus/mbus_frames.h"
#include "ops/primary_scan.h"
#include "ops/results.h"
#include "ops/secondary_search.h"

namespace tarnel {

class BusyRule;
class GatewayLink;
class GridModel;
class Log;

// The changes of a listed meter sent by its primary address (medium, baud
// rate, value), each one SND_UD followed by the single-request wait of the
// scan; and the primary-address change of every listed meter, row by row, on
// the search's worker. The single changes end with the scan's `finished`,
// the bulk change with `bulkFinished`.
class MeterChanges : public QObject {
    Q_OBJECT
public:
    // `grid` is the meter grid whose rows the bulk change walks.
    MeterChanges(GatewayLink& link, const GridModel& grid, BusyRule& busy, PrimaryScan& scan,
                 SecondarySearch& search, QObject* parent = nullptr);

    // "Change Medium": the medium named as MediumCodeFromName knows it.
    bool changeMedium(const MeterTarget& meter, const QString& mediumName,
                      const PrimaryScan::Settings& settings);
    // "Set baud 300bps" (CI 0xB8) and "Set baud 2400bps" (CI 0xBB).
    bool changeBaudRate(const MeterTarget& meter, uint8_t ci,
                        const PrimaryScan::Settings& settings);
    // "Set new value": nothing for an empty box; BCD or a 32-bit integer.
    bool changeValue(const MeterTarget& meter, std::optional<uint32_t> value, bool bcd,
                     const PrimaryScan::Settings& settings);
    // "Set all Primary addresses": every row with a number in "Addr " gets
    // it. Returns the Retry it runs with (raised to 1 from 0) once it started.
    std::optional<int> changeAllAddresses(const PrimaryScan::Settings& settings);
    // STOP: the bulk change starts no further row.
    void stop();

    static constexpr uint8_t kBaud300 = 0xB8;
    static constexpr uint8_t kBaud2400 = 0xBB;

signals:
    // What a change tells (the presenter words it).
    void event(const MbusEvent& event);
    // The bulk change works on meter grid row `row` (1 for the first).
    void rowStarted(int row);
    // The address the row under way gets ("Set new address").
    void addressChanged(int address);
    void bulkFinished(const BulkAddressResult& result);

private:
    bool mayChange(const MeterTarget& meter);
    bool send(const MeterTarget& meter, const Bytes& telegram,
              const PrimaryScan::Settings& settings);
    // The next row at or after `row_` with a number in "Addr "; false when
    // the walk passed the end.
    bool walkToAddressedRow();
    void processRow();
    void rowFinished(const SearchResult& result);
    void finish(Ending ending);

    GatewayLink& link_;
    const GridModel& grid_;
    BusyRule& busy_;
    PrimaryScan& scan_;
    SecondarySearch& search_;
    PrimaryScan::Settings bulkSettings_;
    // The bulk change: its row and what it met.
    bool bulkRunning_ = false;
    bool bulkStopped_ = false;
    int row_ = 0;
    int rowAddress_ = 0;
    BulkAddressResult bulk_;
};

// The identification number of a " ID " cell for the medium change: the
// first 8 characters as decimal digits, least significant byte first.
std::optional<Bytes> IdentificationBytes(const QString& cell);

}  // namespace tarnel
