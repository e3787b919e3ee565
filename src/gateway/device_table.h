#pragma once

#include <QObject>
#include <optional>

#include "base/clock.h"
#include "link/exchange.h"

namespace tarnel {

class CommandConsole;
class Dialogs;
class GatewayLink;
class GridModel;
class Log;
class RegisterView;

// The gateway's table of activated meters: read into the device grid, a
// meter activated, deleted or its inputs excluded, every meter deleted, the
// address map read, the gateway's own search-and-activate started, and the
// grid filled from the meter grid. The active-device count and the replies
// of the single commands go through the console's reply dispatcher.
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

    DeviceTable(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& devices,
                GridModel& meters, CommandConsole& console, RegisterView& replies,
                Timer& timerReadDevices, QObject* parent = nullptr);

    // "Read modbus devices": the count from the bit map, then every entry.
    void readDevices(const Settings& settings);
    // Entries of 24 registers ("v 0.2") or 28; read anew for every entry.
    void setVersion2(bool on) { version2_ = on; }
    // "Write modbus" for the selected row's address.
    void write(const Operations& operations, const Settings& settings);
    // "Delete": asks first.
    void deleteSelected(const Settings& settings);
    // "Delete All": asks first.
    void deleteAll(const Settings& settings);
    // "Read real addresses": the address map, one line a slot.
    void readRealAddresses(const Settings& settings);
    // "Search and activate": the new-address box must hold a number below 255.
    void searchAndActivate(int slave, std::optional<int> newAddress);
    // The arrow button: the meter grid's meters into this grid.
    void copyFromMeterGrid();
    void removeSelectedRow();
    void clearGrid();
    // A row clicked or selected: its "Addr " is the selected address.
    void selectRow(int row);
    int selectedAddress() const { return selectedAddress_; }

signals:
    // The buttons the read-out keeps from starting another operation.
    void readOutControlsEnabled(bool enabled);
    void selectionChanged(const QString& label);

private:
    void startReadOut(int count);
    void readEntry();
    void TimerReadDevicesTimer(const ExchangeResult& result);
    void decodeEntry(const QByteArray& reply);
    void sendCommand(int registerNumber, int address, const QString& line, int intervalMs);
    void connectionLost();

    GatewayLink& link_;
    Log& log_;
    Dialogs& dialogs_;
    GridModel& devices_;
    GridModel& meters_;
    CommandConsole& console_;
    RegisterView& replies_;
    Timer& timer_;
    Settings settings_;
    bool version2_ = false;
    int count_ = 0;
    int entry_ = 0;  // the entry being read; 0 while no read-out runs
    int selectedRow_ = 0;
    int selectedAddress_ = -1;
};

}  // namespace tarnel
