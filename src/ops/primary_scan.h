#pragma once

#include <QObject>
#include <QString>

#include "base/clock.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "mbus/mbus_frames.h"
#include "ops/mbus_job_state.h"
#include "ops/mbus_transaction.h"

namespace tarnel {

class Dialogs;
class GatewayLink;
class GridModel;
class Log;

// The primary address scan and the read of one listed meter: each request
// is one M-Bus transaction through the gateway (`MbusTransaction`), whose
// wait is the scan time; the decoder lists the meter's reply in the meter
// grid.
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
    std::pair<int, int> start(const Settings& settings);
    // "STOP": ends the scan (and tells the search and the bulk change to stop).
    void stop();
    // Pop-up "Read": the selected meter once more.
    void readSelected(const Settings& settings);
    // Sends `telegram` to the selected meter and collects its reply as a
    // read does, retried with REQ_UD2 (the meter changes use it).
    void startSingleRequest(const Settings& settings, const Bytes& telegram);

    // Selecting a row: the selected address is the number in its "Addr " cell.
    void selectRow(int row);
    QString selectedText() const;
    // No row selected (after rows were removed, cleared or loaded).
    void clearSelection();
    void removeSelectedRow();
    void clearGrid();

signals:
    // The buttons that would start another operation: disabled while a scan runs.
    void scanControlsEnabled(bool enabled);
    void selectionChanged(const QString& label);

private:
    void sendTelegram(const Bytes& telegram);
    void collected(const MbusResult& result);
    void evaluateSingle();
    void evaluateScan();
    void endScan();
    void stopWaiting();
    void connectionLost();
    void logSummary(const char* how);

    GatewayLink& link_;
    Log& log_;
    Dialogs& dialogs_;
    GridModel& grid_;
    MbusJobState& job_;
    MbusTransaction* transaction_;
    Settings settings_;
    // What the scan met, for its closing line.
    int found_ = 0;
    int silent_ = 0;
    GatewayErrors errors_;
};

}  // namespace tarnel
