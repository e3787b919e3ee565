// The gateway's own settings (holding registers kept as written, each checked
// against what the gateway accepts), the flag functions of registers 6 and 7,
// and the status registers.
#include <QDateTime>
#include <algorithm>
#include <array>
#include <initializer_list>

#include "sim/gateway_registers.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

constexpr uint16_t kDefaultReadoutSeconds = 60;
constexpr uint16_t kDefaultBetweenReadings = 5;  // tenths of a second
constexpr uint16_t kDefaultWaitRespond = 3;
constexpr uint16_t kDefaultModbusLine = 0x40;  // 9600 Bd, even parity
constexpr uint16_t kDefaultMbusLine = 0x20;    // 2400 Bd, even parity
constexpr uint16_t kDefaultListenPort = 502;
constexpr uint16_t kDefaultSerialNumber[] = {0x2024, 0x0001};  // 20240001
constexpr int kNetworkRegisters =                              // 55400 to 55421: eleven pairs
    holding_reg::kLastNetworkPair + 2 - holding_reg::kNetworkSettings;
constexpr int kLineBauds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kMaxMbusBaudCode = 4;  // the M-Bus port runs at 9600 Bd at most
constexpr qint64 kMsPerDay = 86'400'000;

// Flag codes of register 6 and 7; bit 0x80 sets the flag, without it resets.
constexpr uint8_t kSetFlag = 0x80;
constexpr uint8_t kCodeSndNke = 0x01;
constexpr uint8_t kCodeC7B = 0x02;
constexpr uint8_t kCodeStartMbus = 0x09;
constexpr uint8_t kCodeSort = 0x0A;
constexpr uint8_t kCodeDhcp = 0x01;
constexpr uint8_t kCodeReset = 0x11;
constexpr uint8_t kCodeFactoryDefault = 0x12;

uint16_t word(unsigned high, unsigned low) {
    return static_cast<uint16_t>((high & 0xFF) << 8 | (low & 0xFF));
}

bool oneOf(uint8_t value, std::initializer_list<uint8_t> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

bool between(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

// High nibble the baud rate code, low bits the parity (0 even, 1 odd, 2 none).
bool validLineCode(uint16_t value, int maxBaudCode) {
    return value <= 0xFF && (value >> 4) <= maxBaudCode && (value & 0x0F) <= 2;
}

bool isBcd(uint16_t value) {
    for (int shift = 0; shift < 16; shift += 4)
        if (((value >> shift) & 0x0F) > 9) return false;
    return true;
}

// The four bytes of a dotted address as two registers.
void putAddress(std::map<int, uint16_t>& settings, int first, std::array<uint8_t, 4> bytes) {
    settings[first] = word(bytes[0], bytes[1]);
    settings[first + 1] = word(bytes[2], bytes[3]);
}

void setBit(uint8_t& flags, uint8_t bit, bool set) {
    flags = static_cast<uint8_t>(set ? flags | bit : flags & ~bit);
}

}  // namespace

void SimGateway::setDefaults() {
    settings_.clear();
    settings_[holding_reg::kReadoutPeriod] = kDefaultReadoutSeconds;
    settings_[holding_reg::kTimeBetweenReadings] = kDefaultBetweenReadings;
    settings_[holding_reg::kWaitRespond] = kDefaultWaitRespond;
    settings_[holding_reg::kMbusFlagGroup] = 0;
    settings_[holding_reg::kNetworkFlagGroup] = 0;

    // The clock as the tool writes it: (second, minute), (hour, day of the
    // week), (day, month), (year - 2000, 0). It keeps what was written.
    const QDateTime now = clock_.now();
    const QTime time = now.time();
    const QDate date = now.date();
    settings_[holding_reg::kClock] = word(time.second(), time.minute());
    settings_[holding_reg::kClock + 1] = word(time.hour(), date.dayOfWeek());
    settings_[holding_reg::kClock + 2] = word(date.day(), date.month());
    settings_[holding_reg::kClock + 3] = word(static_cast<unsigned>(date.year() - 2000), 0);

    settings_[holding_reg::kModbusLineCode] = kDefaultModbusLine;
    settings_[holding_reg::kMbusLineCode] = kDefaultMbusLine;
    settings_[holding_reg::kSerialNumber] = kDefaultSerialNumber[0];
    settings_[holding_reg::kSerialNumber + 1] = kDefaultSerialNumber[1];
    for (int i = 0; i < kNetworkRegisters; ++i)
        settings_[holding_reg::kNetworkSettings + i] = 0;
    putAddress(settings_, holding_reg::kNetworkSettings, {192, 168, 1, 3});
    putAddress(settings_, holding_reg::kNetworkSettings + 2, {192, 168, 1, 1});
    putAddress(settings_, holding_reg::kNetworkSettings + 4, {255, 255, 255, 0});
    settings_[holding_reg::kListenPort] = kDefaultListenPort;

    mbusFlags_ = kFlagC7B | kFlagPolling;
    networkFlags_ = 0;
}

bool SimGateway::isSetting(int number) const {
    return number == holding_reg::kUnitAddress || settings_.contains(number);
}

bool SimGateway::validSetting(int number, uint16_t value) {
    const unsigned high = value >> 8;
    const unsigned low = value & 0xFF;
    const auto code = static_cast<uint8_t>(low & ~kSetFlag);
    switch (number) {
        case holding_reg::kReadoutPeriod:  // the period in seconds, 1 minute to 12 hours
            return between(value, 60, 43200);
        case holding_reg::kTimeBetweenReadings:
        case holding_reg::kWaitRespond:
            return high == 0 && low <= 99;
        case holding_reg::kMbusFlagGroup:
            return high == 0 && oneOf(code, {kCodeSndNke, kCodeC7B, kCodeStartMbus, kCodeSort});
        case holding_reg::kNetworkFlagGroup:
            return high == 0 && oneOf(code, {kCodeDhcp, kCodeReset, kCodeFactoryDefault});
        case holding_reg::kClock:
            return high < 60 && low < 60;
        case holding_reg::kClock + 1:
            return high < 24 && between(low, 1, 7);
        case holding_reg::kClock + 2:
            return between(high, 1, 31) && between(low, 1, 12);
        case holding_reg::kUnitAddress:  // 0 answers every unit id
            return value <= SimGateway::kLastUnitAddress;
        case holding_reg::kModbusLineCode:
            return validLineCode(value, static_cast<int>(std::size(kLineBauds)) - 1);
        case holding_reg::kMbusLineCode:
            return validLineCode(value, kMaxMbusBaudCode);
        case holding_reg::kSerialNumber:
        case holding_reg::kSerialNumber + 1:
            return isBcd(value);
        case holding_reg::kListenPort:
            return value != 0;
        default:  // the year and the network addresses take any value
            return true;
    }
}

void SimGateway::applyFlags(int number, uint16_t value) {
    const bool set = value & kSetFlag;
    const auto code = static_cast<uint8_t>(value & ~kSetFlag);
    if (number == holding_reg::kMbusFlagGroup) {
        if (code == kCodeSndNke) setBit(mbusFlags_, kFlagSndNke, set);
        if (code == kCodeC7B) setBit(mbusFlags_, kFlagC7B, set);
        if (code == kCodeStartMbus) setBit(mbusFlags_, kFlagPolling, set);
        if (code == kCodeSort && set) sortTable();
    } else if (number == holding_reg::kNetworkFlagGroup) {
        if (code == kCodeDhcp) setBit(networkFlags_, kFlagDhcp, set);
        if (code == kCodeReset && set) {  // a restart: the pass-through starts afresh
            exchange_.reset();
            startedAt_ = now_;
        }
        if (code == kCodeFactoryDefault && set) {
            setDefaults();
            table_.clear();
            exchange_.reset();
            pendingAddress_ = 1;
        }
    }
}

uint16_t SimGateway::statusRegister(int number, qint64 now) const {
    switch (number) {
        case input_reg::kSlotsInUse:  // capacity and active devices
            return word(kTableSlots, static_cast<unsigned>(table_.size()));
        case input_reg::kFlags:
            return word(networkFlags_, mbusFlags_);
        case input_reg::kWorkingDays: {  // working days since the last start
            const qint64 days = std::min<qint64>((now - startedAt_) / kMsPerDay, 0xFFFF);
            return static_cast<uint16_t>(days);
        }
        default:  // 60000: the register-map version, 0.3 or 0.2
            return entryRegisters_ == input_reg::kEntrySizeV02 ? 0x0002 : 0x0003;
    }
}

std::string SimGateway::versionText() const {
    return entryRegisters_ == input_reg::kEntrySizeV02 ? "0.2.1" : "0.3.1";
}

int SimGateway::busBaud() const {
    return kLineBauds[settings_.at(holding_reg::kMbusLineCode) >> 4];
}

}  // namespace tarnel::sim
