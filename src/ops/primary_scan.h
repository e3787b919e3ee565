#pragma once

#include <QObject>
#include <QString>

#include "base/clock.h"
#include "mbus/mbus_frames.h"
#include "ops/mbus_job_state.h"

namespace tarnel {

class Dialogs;
class GatewayLink;
class GridModel;
class Log;

// The primary address scan and the read of one listed meter: each request
// is an M-Bus telegram written to the gateway's pass-through buffer; after
// the scan time the reply state is read, then the reply itself, which the
// decoder lists in the meter grid.
class PrimaryScan : public QObject {
    Q_OBJECT
public:
    // What the scan and the read take from the window.
    struct Settings {
        int slave = 1;
        int from = 1;
        int to = 5;
        int scanTimeMs = 1000;
        int timeoutMs = 600;
        int retries = 2;
    };

    PrimaryScan(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& grid, MbusJobState& job,
                Timer& timerMbus, Timer& timerMbusRespond, QObject* parent = nullptr);

    // "Scan mbus". Returns the (From, To) the scan runs with: swapped when
    // To was below From.
    std::pair<int, int> BitBtn1Click(const Settings& settings);
    // "STOP": ends the scan (and tells the search and the bulk change to stop).
    void BitBtn2Click();
    // Pop-up "Read": the selected meter once more.
    void Read1Click(const Settings& settings);
    // Sends `telegram` to the selected meter and collects its reply as a
    // read does, retried with REQ_UD2 (the meter changes use it).
    void startSingleRequest(const Settings& settings, const Bytes& telegram);

    void Timer_mbusTimer();
    void Timer_mbusRespondTimer();

    // Selecting a row: the selected address is the number in its "Addr " cell.
    void gridLoopsSelectCell(int row);
    QString selectedText() const;
    void Removefromtable1Click();
    void Butt_clear_gridClick();

signals:
    // The buttons that would start another operation: disabled while a scan runs.
    void scanControlsEnabled(bool enabled);
    void selectionChanged(const QString& label);

private:
    void sendTelegram(const Bytes& telegram, Timer& next, int intervalMs);
    void readStatus();
    void evaluateSingle();
    void evaluateScan();
    void endScan();

    GatewayLink& link_;
    Log& log_;
    Dialogs& dialogs_;
    GridModel& grid_;
    MbusJobState& job_;
    Timer& timerMbus_;
    Timer& timerMbusRespond_;
    Settings settings_;
};

}  // namespace tarnel
