#include "gateway/device_table.h"

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "gateway/register_view.h"
#include "link/command_console.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/device_entry.h"
#include "mbus/loops_grid.h"

namespace tarnel {
namespace {

constexpr int kDeleteAllValue = 0xFF;
constexpr int kSearchAndActivateValue = 0x40;

}  // namespace

DeviceTable::DeviceTable(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& devices,
                         GridModel& meters, CommandConsole& console, RegisterView& replies,
                         Timer& timerReadDevices, QObject* parent)
    : QObject(parent),
      link_(link),
      log_(log),
      dialogs_(dialogs),
      devices_(devices),
      meters_(meters),
      console_(console),
      replies_(replies),
      timer_(timerReadDevices) {
    console_.startDeviceReadOut = [this](int count) { startReadOut(count); };
    connect(&link_, &GatewayLink::linkLost, this, &DeviceTable::connectionLost);
}

// --- the read-out ------------------------------------------------------------------

void DeviceTable::readDevices(const Settings& settings) {
    if (!link_.requireLink()) return;
    settings_ = settings;
    console_.request(ReadInputRegistersRequest(settings.slave, reg::kActiveDeviceMap,
                                               reg::kActiveDeviceMapRegisters),
                     settings.timeoutMs, CommandConsole::Awaited::DeviceCount);
}

// The console counted `count` active devices: read their entries one by one.
void DeviceTable::startReadOut(int count) {
    count_ = count;
    entry_ = 1;
    timer_.setInterval(settings_.timeoutMs);
    readEntry();
    emit readOutControlsEnabled(false);
}

void DeviceTable::readEntry() {
    const int size = version2_ ? reg::kDeviceEntryRegistersV2 : reg::kDeviceEntryRegisters;
    link_.exchange(this,
                   ReadInputRegistersRequest(settings_.slave,
                                             reg::kDeviceTableStart + (entry_ - 1) * size, size),
                   timer_, timer_.interval(),
                   [this](const ExchangeResult& result) { TimerReadDevicesTimer(result); });
}

void DeviceTable::TimerReadDevicesTimer(const ExchangeResult& result) {
    if (result.aborted()) return;  // a lost link is told by connectionLost()
    link_.logReception(result);
    // A bad entry adds no row; the read-out goes on with the next one.
    if (entry_ <= count_ && result.reply.size() > 4) decodeEntry(result.reply);
    ++entry_;
    if (entry_ > count_) {
        entry_ = 0;
        emit readOutControlsEnabled(true);
        return;
    }
    readEntry();
}

void DeviceTable::decodeEntry(const QByteArray& reply) {
    const Validation checked = ValidateResponse(reply);
    link_.report(checked.report);
    if (!checked.passed) return;
    const RegisterReply parsed = ParseRegisterResponse(reply);
    std::vector<uint8_t> bytes;
    for (const Register& r : parsed.registers) {
        bytes.push_back(r.high);
        bytes.push_back(r.low);
    }
    std::vector<std::string> lines;
    const TModbusDevice device = DecodeDeviceEntry(bytes, lines);
    for (const std::string& line : lines)
        log_.append(QString::fromStdString(line));
    const int row = devices_.rows() - 1;
    QStringList texts;
    for (const std::string& text : DeviceRowTexts(device, SystemDecimalSeparator()))
        texts << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    devices_.setRowTexts(row, texts);
    devices_.setRows(devices_.rows() + 1);
}

void DeviceTable::connectionLost() {
    if (entry_ == 0) return;
    entry_ = 0;
    log_.append(QStringLiteral("Connection lost: device table read stopped."));
    emit readOutControlsEnabled(true);
}

// --- commands ------------------------------------------------------------------------

void DeviceTable::sendCommand(int registerNumber, int address, const QString& line,
                              int intervalMs) {
    console_.request(WriteSingleRegisterRequest(settings_.slave, registerNumber, 0x00,
                                                static_cast<uint8_t>(address)),
                     intervalMs, CommandConsole::Awaited::Command);
    log_.append(line);
}

void DeviceTable::write(const Operations& operations, const Settings& settings) {
    if (!operations.activate && !operations.remove && !operations.deleteInputs) return;
    if (selectedAddress_ == -1 || !link_.linkUp()) return;
    // The low byte of a larger number would act on another meter.
    if (selectedAddress_ < 0 || selectedAddress_ > 250) {
        log_.append(QStringLiteral("Address %1 refused: an M-Bus primary address is 0 to 250...")
                        .arg(selectedAddress_));
        return;
    }
    settings_ = settings;
    if (operations.activate)
        sendCommand(reg::kActivateDevice, selectedAddress_,
                    QStringLiteral("Activating selected device..."), settings.scanTimeMs);
    if (operations.remove)
        sendCommand(reg::kDeleteDevice, selectedAddress_,
                    QStringLiteral("Deleting selected device..."), settings.scanTimeMs);
    if (operations.deleteInputs)
        sendCommand(reg::kDeleteInputs, selectedAddress_,
                    QStringLiteral("De-activating selected device..."), settings.scanTimeMs);
}

void DeviceTable::deleteSelected(const Settings& settings) {
    if (!dialogs_.confirm("Delete Confirmation", "Are you sure you want to DELETE Device?")) return;
    write({false, true, false}, settings);
}

void DeviceTable::deleteAll(const Settings& settings) {
    if (!link_.requireLink()) return;
    if (!dialogs_.confirm("Delete Confirmation", "Are you sure you want to DELETE ALL?")) return;
    settings_ = settings;
    sendCommand(reg::kDeleteDevice, kDeleteAllValue,
                QStringLiteral("Deleting ALL devices in memory..."), settings.scanTimeMs);
}

void DeviceTable::readRealAddresses(const Settings& settings) {
    if (!link_.requireLink()) return;
    console_.request(
        ReadInputRegistersRequest(settings.slave, reg::kAddressMap, reg::kAddressMapRegisters),
        settings.timeoutMs, CommandConsole::Awaited::AddressMap);
}

void DeviceTable::searchAndActivate(int slave, std::optional<int> newAddress) {
    if (newAddress.value_or(255) >= 255) {
        log_.append(QStringLiteral("Invalid new modbus address entered..."));
        return;
    }
    if (!link_.requireLink()) return;
    replies_.sendCommand(
        WriteSingleRegisterRequest(slave, reg::kSearchAndActivate, 0x00, kSearchAndActivateValue));
}

// --- the grid --------------------------------------------------------------------------

void DeviceTable::copyFromMeterGrid() {
    devices_.clearData();
    devices_.setRows(meters_.rows());
    // " ID ", "Addr ", "Mfr ", "Medium ", "Unit " of the meter grid.
    constexpr int kColumns[] = {0, 1, 2, 5, 4};
    for (int row = 1; row < meters_.rows(); ++row)
        for (int col = 0; col < 5; ++col)
            devices_.setCell(row, col, meters_.cell(row, kColumns[col]));
}

void DeviceTable::removeSelectedRow() {
    const int row = selectedRow_;
    // Only a data row is removed; the header always stays.
    if (row < 1 || row >= devices_.rows()) return;
    for (int r = row; r < devices_.rows() - 1; ++r)
        devices_.setRowTexts(r, devices_.rowTexts(r + 1));
    devices_.setRows(std::max(devices_.rows() - 1, 2));
    if (row == 1 && devices_.rows() == 2) devices_.setRowTexts(1, {});
    selectRow(0);
}

void DeviceTable::clearGrid() {
    devices_.clearData();
    selectRow(0);
}

void DeviceTable::selectRow(int row) {
    selectedRow_ = row;
    bool ok = false;
    const int address = devices_.cell(row, 1).toInt(&ok);
    selectedAddress_ = row >= 1 && ok ? address : -1;
    emit selectionChanged(QStringLiteral("Selected: %1").arg(selectedAddress_));
}

}  // namespace tarnel
