#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "mbus/mbus_frames.h"
#include "ops/mbus_job_state.h"
#include "ops/primary_scan.h"

namespace tarnel {

class GatewayLink;
class GridModel;
class Log;
class SecondarySearch;

// The changes of a listed meter sent by its primary address (medium, baud
// rate, value), each one SND_UD followed by the single-request wait of the
// scan; and the primary-address change of every listed meter, row by row, on
// the search's worker.
class MeterChanges : public QObject {
    Q_OBJECT
public:
    MeterChanges(GatewayLink& link, Log& log, GridModel& grid, MbusJobState& job, PrimaryScan& scan,
                 SecondarySearch& search, Timer& timerChangePrimaryAll, QObject* parent = nullptr);

    // "Change Medium": the medium named as MediumCodeFromName knows it.
    void changeMedium(const QString& mediumName, const PrimaryScan::Settings& settings);
    // "Set baud 300bps" (CI 0xB8) and "Set baud 2400bps" (CI 0xBB).
    void changeBaudRate(uint8_t ci, const PrimaryScan::Settings& settings);
    // "Set new value": nothing for an empty box; BCD or a 32-bit integer.
    void changeValue(std::optional<uint32_t> value, bool bcd,
                     const PrimaryScan::Settings& settings);
    // "Set all Primary addresses": every row with a number in "Addr " gets
    // it. Returns the Retry it runs with (raised to 1 from 0) once it started.
    std::optional<int> changeAllAddresses(const PrimaryScan::Settings& settings);

    static constexpr uint8_t kBaud300 = 0xB8;
    static constexpr uint8_t kBaud2400 = 0xBB;

signals:
    // The buttons the bulk change keeps from starting another operation.
    void bulkControlsEnabled(bool enabled);
    // The address the row under way gets ("Set new address").
    void addressChanged(int address);

private:
    bool mayChange();
    void Timer_changePrimaryAllTimer();
    // The next row at or after `bulkRow` with a number in "Addr "; false
    // when the walk passed the end.
    bool walkToAddressedRow();
    void processRow();
    void finish(const QString& line);

    GatewayLink& link_;
    Log& log_;
    GridModel& grid_;
    MbusJobState& job_;
    PrimaryScan& scan_;
    SecondarySearch& search_;
    Timer& timer_;
    PrimaryScan::Settings bulkSettings_;
    int rowAddress_ = 0;
};

// The identification number of a " ID " cell for the medium change: the
// first 8 characters as decimal digits, least significant byte first.
std::optional<Bytes> IdentificationBytes(const QString& cell);

}  // namespace tarnel
