#include "gateway/device_table.h"

#include <algorithm>

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
    readEntry(entry_, &DeviceTable::TimerReadDevicesTimer);
    emit event(DeviceCount{readOut_.count});
}

void DeviceTable::readEntry(int number, void (DeviceTable::*done)(const ExchangeResult&)) {
    const int size = version2_ ? reg::kDeviceEntryRegistersV2 : reg::kDeviceEntryRegisters;
    link_.exchange(this,
                   ReadInputRegistersRequest(settings_.slave,
                                             reg::kDeviceTableStart + (number - 1) * size, size),
                   timer_, timer_.interval(),
                   [this, done](const ExchangeResult& result) { (this->*done)(result); });
}

// Whether the read-out goes on after `result`: its lines told, a gateway
// silent too long ends it.
bool DeviceTable::judged(const ExchangeResult& result) {
    if (result.aborted()) return false;  // a lost link is told by connectionLost()
    emit event(Reception{result.lines});
    if (!silence_.note(result.reply)) return true;
    endReadOut(Ending::GatewaySilent);
    return false;
}

void DeviceTable::TimerReadDevicesTimer(const ExchangeResult& result) {
    if (!judged(result)) return;
    // A bad entry adds no row; the read-out goes on with the next one.
    QStringList lines;
    const std::optional<TableEntry> entry =
        result.reply.size() > 4 ? decodeEntry(result.reply, entry_, lines) : std::nullopt;
    if (entry) {
        const auto same = std::find_if(
            readOut_.entries.begin(), readOut_.entries.end(), [&](const TableEntry& earlier) {
                return !entry->device.id.empty() && earlier.device.id == entry->device.id;
            });
        if (same != readOut_.entries.end()) {
            recheck_ = Recheck{.first = same->number, .held = *entry, .heldLines = lines};
            readEntry(same->number, &DeviceTable::reread);
            return;
        }
        list(*entry, lines);
    }
    entryDone();
}

void DeviceTable::entryDone() {
    emit entryRead(entry_, readOut_.count);
    if (++entry_ > readOut_.count) {
        endReadOut(Ending::Done);
        return;
    }
    readEntry(entry_, &DeviceTable::TimerReadDevicesTimer);
}

// The earlier entry, then the later one, read once more.
void DeviceTable::reread(const ExchangeResult& result) {
    if (!recheck_ || !judged(result)) return;
    QStringList lines;
    const int number = recheck_->firstDone ? entry_ : recheck_->first;
    const std::optional<TableEntry> again =
        result.reply.size() > 4 ? decodeEntry(result.reply, number, lines) : std::nullopt;
    if (recheck_->firstDone) {
        recheckDone(again, lines);
        return;
    }
    recheck_->firstDone = true;
    recheck_->firstAgain = again;
    readEntry(entry_, &DeviceTable::reread);
}

// What the second readings say: an entry read differently the second time
// is listed as read then; two that still hold one meter ID are both listed,
// and said so.
void DeviceTable::recheckDone(const std::optional<TableEntry>& again, const QStringList& lines) {
    const Recheck recheck = *recheck_;
    recheck_.reset();
    auto first = std::find_if(readOut_.entries.begin(), readOut_.entries.end(),
                              [&](const TableEntry& e) { return e.number == recheck.first; });
    if (recheck.firstAgain && TableEntryTexts(*recheck.firstAgain) != TableEntryTexts(*first)) {
        emit event(EntryDecoded{*recheck.firstAgain, {}, *first});
        *first = *recheck.firstAgain;
    }
    const bool same = first->device.id == (again ? *again : recheck.held).device.id;
    list(again ? *again : recheck.held, again ? lines : recheck.heldLines);  // `first` is stale now
    if (same) {
        const TableEntry& later = readOut_.entries.back();
        readOut_.sameMeterIds.push_back({recheck.first, later.number});
        emit event(
            SameMeterId{recheck.first, later.number, QString::fromStdString(later.device.id)});
    }
    entryDone();
}

std::optional<TableEntry> DeviceTable::decodeEntry(const QByteArray& reply, int number,
                                                   QStringList& lines) {
    const Validation checked = ValidateResponse(reply);
    emit event(Reception{checked.report.lines, checked.report.crcError});
    if (!checked.passed) return std::nullopt;
    const RegisterReply parsed = ParseRegisterResponse(reply);
    std::vector<uint8_t> bytes;
    for (const Register& r : parsed.registers) {
        bytes.push_back(r.high);
        bytes.push_back(r.low);
    }
    std::vector<std::string> decoderLines;
    const TableEntry entry{number, DecodeDeviceEntry(bytes, decoderLines)};
    for (const std::string& line : decoderLines)
        lines << QString::fromStdString(line);
    return entry;
}

void DeviceTable::list(const TableEntry& entry, const QStringList& lines) {
    ++readOut_.rows;
    readOut_.entries.push_back(entry);
    emit event(EntryDecoded{entry, lines});
}

void DeviceTable::endReadOut(Ending ending) {
    entry_ = 0;
    recheck_.reset();
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
