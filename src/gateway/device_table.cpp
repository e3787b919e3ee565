#include "gateway/device_table.h"

#include "base/grid_model.h"
#include "base/grid_selection.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/device_entry.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"

namespace tarnel {
namespace {

using namespace gateway_event;

constexpr int kDeleteAllValue = 0xFF;
constexpr int kSearchAndActivateValue = 0x40;

}  // namespace

DeviceTable::DeviceTable(GatewayLink& link, GridModel& devices, GridModel& meters,
                         CommandConsole& console, RegisterView& replies, BusyRule& busy,
                         Timer& timerReadDevices, QObject* parent)
    : QObject(parent),
      link_(link),
      devices_(devices),
      meters_(meters),
      console_(console),
      replies_(replies),
      busy_(busy),
      timer_(timerReadDevices) {
    connect(&link_, &GatewayLink::linkLost, this, &DeviceTable::connectionLost);
}

DeviceTable::~DeviceTable() {
    link_.cancel(this);
}

// --- the read-out ------------------------------------------------------------------

void DeviceTable::setVersion2(bool on) {
    if (on != version2_) versionWarned_ = false;
    version2_ = on;
}

void DeviceTable::setGatewayVersion(int high, int low) {
    gatewayVersion_ = {high, low};
    versionWarned_ = false;
}

// Version 0.3 and later keep entries of 28 registers, 0.2 of 24.
void DeviceTable::warnOfVersionMismatch() {
    if (!gatewayVersion_ || versionWarned_) return;
    const auto [high, low] = *gatewayVersion_;
    if (version2_ == (low < 3)) return;
    versionWarned_ = true;
    emit event(VersionMismatch{version2_, high, low});
}

bool DeviceTable::readDevices(const Settings& settings) {
    if (!link_.requireLink() || !busy_.begin(Operation::TableReadOut)) return false;
    warnOfVersionMismatch();
    settings_ = settings;
    readOut_ = {};
    readOut_.version2 = version2_;
    silence_.reset();
    console_.request(ReadInputRegistersRequest(settings.slave, reg::kActiveDeviceMap,
                                               reg::kActiveDeviceMapRegisters),
                     settings.timeoutMs, CommandConsole::Awaited::DeviceCount,
                     [this](const ExchangeResult& result) { countRead(result); });
    return true;
}

// The active-device bit map: read the entries it counts one by one.
void DeviceTable::countRead(const ExchangeResult& result) {
    if (result.aborted()) {
        endReadOut(result.end == ExchangeEnd::LinkLost ? Ending::LinkLost : Ending::Stopped);
        return;
    }
    if (result.reply.size() > 4) {
        const RegisterReply parsed = ParseRegisterResponse(result.reply);
        emit event(Reception{parsed.report.lines, parsed.report.crcError});
        readOut_.answered = !parsed.report.crcError && !parsed.registers.isEmpty();
        if (readOut_.answered) readOut_.count = CountActiveDevices(parsed.registers);
    }
    // No answer, or a faulty one, is not an empty table: the result tells
    // which.
    if (!readOut_.answered || readOut_.count == 0) {
        endReadOut(Ending::Done);
        return;
    }
    entry_ = 1;
    timer_.setInterval(settings_.timeoutMs);
    readEntry();
    emit event(DeviceCount{readOut_.count});
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
    emit event(Reception{result.lines});
    if (silence_.note(result.reply)) {
        endReadOut(Ending::GatewaySilent);
        return;
    }
    // A bad entry adds no row; the read-out goes on with the next one.
    if (result.reply.size() > 4) decodeEntry(result.reply);
    emit entryRead(entry_, readOut_.count);
    if (++entry_ > readOut_.count) {
        endReadOut(Ending::Done);
        return;
    }
    readEntry();
}

void DeviceTable::decodeEntry(const QByteArray& reply) {
    const Validation checked = ValidateResponse(reply);
    emit event(Reception{checked.report.lines, checked.report.crcError});
    if (!checked.passed) return;
    const RegisterReply parsed = ParseRegisterResponse(reply);
    std::vector<uint8_t> bytes;
    for (const Register& r : parsed.registers) {
        bytes.push_back(r.high);
        bytes.push_back(r.low);
    }
    std::vector<std::string> lines;
    const TableEntry entry{entry_, DecodeDeviceEntry(bytes, lines)};
    QStringList decoded;
    for (const std::string& line : lines)
        decoded << QString::fromStdString(line);
    ++readOut_.rows;
    readOut_.entries.push_back(entry);
    emit event(EntryDecoded{entry, decoded});
}

void DeviceTable::endReadOut(Ending ending) {
    entry_ = 0;
    readOut_.ending = ending;
    busy_.end(Operation::TableReadOut);
    emit readOutFinished(readOut_);
}

void DeviceTable::stop() {
    if (entry_ == 0) return;
    link_.cancel(this);
    endReadOut(Ending::Stopped);
}

void DeviceTable::connectionLost() {
    if (entry_ == 0) return;
    endReadOut(Ending::LinkLost);
}

bool DeviceTable::readRealAddresses(const Settings& settings) {
    if (!link_.requireLink() || busy_.refuses(Operation::AddressMap)) return false;
    console_.request(
        ReadInputRegistersRequest(settings.slave, reg::kAddressMap, reg::kAddressMapRegisters),
        settings.timeoutMs, CommandConsole::Awaited::AddressMap,
        [this](const ExchangeResult& result) { addressMapRead(result); });
    return true;
}

void DeviceTable::addressMapRead(const ExchangeResult& result) {
    AddressMapResult map;
    map.ending = result.end == ExchangeEnd::LinkLost    ? Ending::LinkLost
                 : result.end == ExchangeEnd::Cancelled ? Ending::Stopped
                                                        : Ending::Done;
    if (!result.aborted() && result.reply.size() > 4) {
        const AddressMapReply parsed = ParseAddressMap(result.reply);
        emit event(Reception{parsed.report.lines, parsed.report.crcError});
        map.mbusAddresses = parsed.mbusAddresses;
        map.answered = !map.mbusAddresses.isEmpty();
    }
    emit addressMapFinished(map);
}

// --- commands ------------------------------------------------------------------------

void DeviceTable::sendCommand(int registerNumber, int address, Request request, int intervalMs,
                              bool last) {
    // The console passes a cancellation on only when it was stopped.
    const auto ended = [this, last](const ExchangeResult& result) {
        if (!last) return;
        CommandResult command;
        command.ending = result.end == ExchangeEnd::LinkLost    ? Ending::LinkLost
                         : result.end == ExchangeEnd::Cancelled ? Ending::Stopped
                                                                : Ending::Done;
        command.reply = result.reply;
        command.acknowledged = result.acknowledged();
        emit commandFinished(command);
    };
    console_.request(WriteSingleRegisterRequest(settings_.slave, registerNumber, 0x00,
                                                static_cast<uint8_t>(address)),
                     intervalMs, CommandConsole::Awaited::Command, ended);
    emit event(Sent{request});
}

bool DeviceTable::write(const Operations& operations, const MeterTarget& meter,
                        const Settings& settings) {
    // Nothing to do, no row selected or no link: nothing is sent or logged.
    if (!operations.activate && !operations.remove && !operations.deleteInputs) return false;
    if (meter.address < 0 || !link_.linkUp()) return false;
    // The low byte of a larger number would act on another meter.
    if (meter.address > 250) {
        emit event(AddressRefused{meter.address});
        return false;
    }
    settings_ = settings;
    const struct {
        bool wanted;
        int registerNumber;
        Request request;
    } commands[] = {
        {operations.activate, reg::kActivateDevice, Request::Activate},
        {operations.remove, reg::kDeleteDevice, Request::Delete},
        {operations.deleteInputs, reg::kDeleteInputs, Request::DeleteInputs},
    };
    int left = operations.activate + operations.remove + operations.deleteInputs;
    for (const auto& command : commands)
        if (command.wanted)
            sendCommand(command.registerNumber, meter.address, command.request, settings.scanTimeMs,
                        --left == 0);
    return true;
}

bool DeviceTable::deleteMeter(const MeterTarget& meter, const Settings& settings) {
    return write({false, true, false}, meter, settings);
}

bool DeviceTable::deleteAll(const Settings& settings) {
    if (!link_.requireLink()) return false;
    settings_ = settings;
    sendCommand(reg::kDeleteDevice, kDeleteAllValue, Request::DeleteAll, settings.scanTimeMs, true);
    return true;
}

bool DeviceTable::searchAndActivate(int slave, std::optional<int> newAddress) {
    if (newAddress.value_or(255) >= 255) {
        emit event(Refused{Refusal::ModbusAddress});
        return false;
    }
    if (!link_.requireLink() || busy_.refuses(Operation::SearchAndActivate)) return false;
    replies_.sendCommand(
        WriteSingleRegisterRequest(slave, reg::kSearchAndActivate, 0x00, kSearchAndActivateValue));
    return true;
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

}  // namespace tarnel
