#pragma once

#include <QObject>
#include <optional>

#include "base/clock.h"
#include "base/grid_selection.h"
#include "gateway/gateway_events.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "ops/results.h"

namespace tarnel {

class BusyRule;
class CommandConsole;
class GatewayLink;
class GridModel;
class RegisterView;

// The gateway's table of activated meters: read for the device grid, a
// meter activated, deleted or its inputs excluded, every meter deleted, the
// address map read, the gateway's own search-and-activate started, and the
// grid filled from the meter grid. The active-device count and the replies
// of the single commands are timed by the console. Each request the user
// makes ends with one of the `...Finished` signals.
class DeviceTable : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int slave = 1;
        int timeoutMs = 600;    // the Modbus time-out: the reads
        int scanTimeMs = 1000;  // the scan time: the commands' replies
    };
    // What "Write modbus" does, as the three selector boxes say.
    struct Operations {
        bool activate = false, remove = false, deleteInputs = false;
    };

    // `devices` and `meters` are the grids the arrow button copies between.
    DeviceTable(GatewayLink& link, GridModel& devices, GridModel& meters, CommandConsole& console,
                RegisterView& replies, BusyRule& busy, Timer& timerReadDevices,
                QObject* parent = nullptr);
    // Its exchanges end with it.
    ~DeviceTable() override;

    // "Read modbus devices": the count from the bit map, then every entry.
    // The start functions return false when nothing was sent.
    bool readDevices(const Settings& settings);
    // Ends a read-out at once with the entries it read (Ending::Stopped). The
    // count, the address map and the commands go through the console: its
    // stop() ends them.
    void stop();
    // Entries of 24 registers ("v 0.2") or 28; read anew for every entry.
    void setVersion2(bool on);
    // The version the gateway last reported: a read-out whose entry size
    // disagrees with it says so, once.
    void setGatewayVersion(int high, int low);
    // "Write modbus" for `meter` (the highlighted row's, or the command
    // line's): one command a checked box.
    bool write(const Operations& operations, const MeterTarget& meter, const Settings& settings);
    // "Delete" (the face asked the user before).
    bool deleteMeter(const MeterTarget& meter, const Settings& settings);
    // "Delete All" (the face asked the user before).
    bool deleteAll(const Settings& settings);
    // "Read real addresses": the address map, one line a slot.
    bool readRealAddresses(const Settings& settings);
    // "Search and activate": the new-address box must hold a number below 255.
    bool searchAndActivate(int slave, std::optional<int> newAddress);
    // The arrow button: the meter grid's meters into this grid.
    void copyFromMeterGrid();

signals:
    // What the read-out and the commands tell as they go (the presenter words
    // it and lists each entry read in the device grid).
    void event(const GatewayEvent& event);
    // Entry `entry` of `count` was read (for a progress display).
    void entryRead(int entry, int count);
    void readOutFinished(const TableReadResult& result);
    void addressMapFinished(const AddressMapResult& result);
    // The last command of a "Write modbus", or "Delete All".
    void commandFinished(const CommandResult& result);

private:
    void warnOfVersionMismatch();
    void countRead(const ExchangeResult& result);
    void readEntry(int number, void (DeviceTable::*done)(const ExchangeResult&));
    void TimerReadDevicesTimer(const ExchangeResult& result);
    bool judged(const ExchangeResult& result);
    std::optional<TableEntry> decodeEntry(const QByteArray& reply, int number, QStringList& lines);
    void list(const TableEntry& entry, const QStringList& lines);
    void entryDone();
    void reread(const ExchangeResult& result);
    void recheckDone(const std::optional<TableEntry>& again, const QStringList& lines);
    void endReadOut(Ending ending);
    void addressMapRead(const ExchangeResult& result);
    void sendCommand(int registerNumber, int address, gateway_event::Request request,
                     int intervalMs, bool last);
    void connectionLost();

    GatewayLink& link_;
    GridModel& devices_;
    GridModel& meters_;
    CommandConsole& console_;
    RegisterView& replies_;
    BusyRule& busy_;
    Timer& timer_;
    Settings settings_;
    bool version2_ = false;
    std::optional<std::pair<int, int>> gatewayVersion_;
    bool versionWarned_ = false;
    TableReadResult readOut_;
    SilentGateway silence_;  // the read-out stops when the gateway is silent
    int entry_ = 0;          // the entry being read; 0 while no read-out runs
    // Two entries read with one meter ID are read once more: a gateway that
    // repeats its last reply on the serial line gives the same ID twice.
    struct Recheck {
        int first = 0;    // the earlier entry, read again first
        TableEntry held;  // the later entry as first read, not yet listed
        QStringList heldLines{};
        bool firstDone = false;
        std::optional<TableEntry> firstAgain{};
    };
    std::optional<Recheck> recheck_;
};

}  // namespace tarnel
