// The gateway's Modbus side: the four functions it serves, the two register
// spaces and the device identification. The pass-through, the device table
// and the settings live in the gateway_*.cpp files beside this one.
#include "sim/sim_gateway.h"

#include <algorithm>
#include <utility>

#include "sim/gateway_registers.h"

namespace tarnel::sim {
namespace {

constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;
constexpr uint8_t kWriteSingle = 0x06;
constexpr uint8_t kWriteMultiple = 0x10;
constexpr uint8_t kEncapsulated = 0x2B;
constexpr uint8_t kReadDeviceIdMei = 0x0E;

constexpr int kMaxReadQuantity = 125;
constexpr int kMaxWriteQuantity = 123;
constexpr int kRegisterSpace = 0x10000;

// The pass-through buffer holds the longest M-Bus frame (255 + 6 bytes).
constexpr int kMbusBufferRegisters = 131;

// Device identification: stream access from an object, or one object.
constexpr uint8_t kIdBasicStream = 1;
constexpr uint8_t kIdRegularStream = 2;
constexpr uint8_t kIdIndividual = 4;
constexpr uint8_t kIdConformity = 0x82;  // regular level, stream and individual access

uint16_t wordAt(const Bytes& pdu, size_t index) {
    return static_cast<uint16_t>(pdu[index] << 8 | pdu[index + 1]);
}

void pushWord(Bytes& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value & 0xFF));
}

bool within(int number, int first, int count) {
    return number >= first && number < first + count;
}

}  // namespace

SimGateway::SimGateway(SimBus& bus, Clock& clock)
    : bus_(bus), clock_(clock), startedAt_(clock.elapsed()) {
    setDefaults();
}

SimGateway::Reply SimGateway::Serve(const Bytes& requestPdu) {
    std::lock_guard lock(mutex_);
    if (requestPdu.empty()) return {};
    // While the gateway is on the M-Bus for an earlier request, this one waits.
    const qint64 arrived = clock_.elapsed();
    now_ = std::max(arrived, busyUntil_);
    busMs_ = 0;
    Bytes reply;
    if (plain_) return {plainReply(requestPdu), 0};
    switch (requestPdu[0]) {
        case kReadHolding:
        case kReadInput:
            reply = readRegisters(requestPdu);
            break;
        case kWriteSingle:
            reply = writeSingle(requestPdu);
            break;
        case kWriteMultiple:
            reply = writeMultiple(requestPdu);
            break;
        case kEncapsulated:
            reply = readDeviceId(requestPdu);
            break;
        default:
            reply = exception(requestPdu[0], Fault::IllegalFunction);
    }
    // A new unit address counts from the request after the one that set it.
    if (pendingAddress_) unitAddress_ = *std::exchange(pendingAddress_, std::nullopt);
    busyUntil_ = now_ + busMs_;
    return {std::move(reply), busyUntil_ - arrived};
}

Bytes SimGateway::plainReply(const Bytes& pdu) {
    if (pdu[0] != kReadHolding) return exception(pdu[0], Fault::IllegalFunction);
    if (pdu.size() != 5) return exception(pdu[0], Fault::IllegalValue);
    const int count = wordAt(pdu, 3);
    if (count < 1 || count > kMaxReadQuantity) return exception(pdu[0], Fault::IllegalValue);
    Bytes reply = {kReadHolding, static_cast<uint8_t>(2 * count)};
    reply.resize(reply.size() + static_cast<size_t>(2 * count), 0x00);
    return reply;
}

void SimGateway::SetPlain(bool plain) {
    std::lock_guard lock(mutex_);
    plain_ = plain;
}

uint8_t SimGateway::UnitAddress() const {
    std::lock_guard lock(mutex_);
    return unitAddress_;
}

void SimGateway::SetUnitAddress(uint8_t address) {
    std::lock_guard lock(mutex_);
    unitAddress_ = address;
    pendingAddress_.reset();
}

bool SimGateway::IsAddressed(uint8_t unit) const {
    std::lock_guard lock(mutex_);
    return unitAddress_ == kAnyUnit || unit == unitAddress_;
}

void SimGateway::SetEntryRegisters(int registers) {
    std::lock_guard lock(mutex_);
    entryRegisters_ =
        registers == input_reg::kEntrySizeV02 ? input_reg::kEntrySizeV02 : input_reg::kEntrySizeV03;
}

bool SimGateway::Activate(uint8_t address) {
    std::lock_guard lock(mutex_);
    now_ = clock_.elapsed();  // set-up: its bus time holds no reply back
    busMs_ = 0;
    return activate(address) == Fault::None;
}

int SimGateway::ActivateAll() {
    std::lock_guard lock(mutex_);
    now_ = clock_.elapsed();
    busMs_ = 0;
    (void)searchAndActivate(holding_reg::kSearchAndActivateValue);
    return static_cast<int>(table_.size());
}

bool SimGateway::SetInputs(uint8_t address, uint8_t input1, uint8_t input2) {
    std::lock_guard lock(mutex_);
    TableEntry* entry = findEntry(address);
    if (!entry) return false;
    entry->input1 = input1;
    entry->input2 = input2;
    return true;
}

int SimGateway::ActiveDevices() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(table_.size());
}

int SimGateway::MbusBaud() const {
    std::lock_guard lock(mutex_);
    return busBaud();
}

Bytes SimGateway::exception(uint8_t function, Fault fault) {
    return {static_cast<uint8_t>(function | 0x80), static_cast<uint8_t>(fault)};
}

Bytes SimGateway::readRegisters(const Bytes& pdu) {
    const uint8_t function = pdu[0];
    if (pdu.size() != 5) return exception(function, Fault::IllegalValue);
    const int start = wordAt(pdu, 1);
    const int count = wordAt(pdu, 3);
    if (count < 1 || count > kMaxReadQuantity) return exception(function, Fault::IllegalValue);
    if (start + count > kRegisterSpace) return exception(function, Fault::IllegalAddress);

    if (function == kReadInput && start <= tableRegisters()) refreshDueEntries(now_);
    Bytes reply = {function, static_cast<uint8_t>(2 * count)};
    for (int number = start; number < start + count; ++number) {
        const std::optional<uint16_t> value =
            function == kReadInput ? inputRegister(number, now_) : holdingRegister(number);
        if (!value) return exception(function, Fault::IllegalAddress);
        pushWord(reply, *value);
    }
    return reply;
}

Bytes SimGateway::writeSingle(const Bytes& pdu) {
    if (pdu.size() != 5) return exception(kWriteSingle, Fault::IllegalValue);
    const Fault fault = writeRegister(wordAt(pdu, 1), wordAt(pdu, 3));
    if (fault != Fault::None) return exception(kWriteSingle, fault);
    return pdu;
}

Bytes SimGateway::writeMultiple(const Bytes& pdu) {
    if (pdu.size() < 6) return exception(kWriteMultiple, Fault::IllegalValue);
    const int start = wordAt(pdu, 1);
    const int count = wordAt(pdu, 3);
    const size_t byteCount = pdu[5];
    if (count < 1 || count > kMaxWriteQuantity || byteCount != 2u * count ||
        pdu.size() != 6 + byteCount)
        return exception(kWriteMultiple, Fault::IllegalValue);
    if (start + count > kRegisterSpace) return exception(kWriteMultiple, Fault::IllegalAddress);

    if (start == holding_reg::kMbusTransmit) {
        sendTelegram(TelegramFromWrite(Bytes(pdu.begin() + 6, pdu.end())));
    } else {
        std::vector<uint16_t> values;
        for (int i = 0; i < count; ++i)
            values.push_back(wordAt(pdu, 6 + 2 * i));
        const Fault fault = writeSettings(start, values);
        if (fault != Fault::None) return exception(kWriteMultiple, fault);
    }
    return Bytes(pdu.begin(), pdu.begin() + 5);
}

Bytes SimGateway::readDeviceId(const Bytes& pdu) const {
    if (pdu.size() != 4) return exception(kEncapsulated, Fault::IllegalValue);
    if (pdu[1] != kReadDeviceIdMei) return exception(kEncapsulated, Fault::IllegalFunction);
    const uint8_t code = pdu[2];
    const uint8_t object = pdu[3];
    const std::vector<std::string> objects = {"Velgate", "Corvane-64", versionText()};

    size_t first = 0;
    size_t last = objects.size();
    if (code == kIdIndividual) {
        if (object >= objects.size()) return exception(kEncapsulated, Fault::IllegalAddress);
        first = object;
        last = first + 1;
    } else if (code == kIdBasicStream || code == kIdRegularStream) {
        first = object < objects.size() ? object : 0;  // an unknown object restarts at 0
    } else {
        return exception(kEncapsulated, Fault::IllegalValue);
    }

    Bytes reply = {kEncapsulated,
                   kReadDeviceIdMei,
                   code,
                   kIdConformity,
                   0x00,
                   0x00,
                   static_cast<uint8_t>(last - first)};
    for (size_t id = first; id < last; ++id) {
        reply.push_back(static_cast<uint8_t>(id));
        reply.push_back(static_cast<uint8_t>(objects[id].size()));
        for (const char c : objects[id])
            reply.push_back(static_cast<uint8_t>(c));
    }
    return reply;
}

std::optional<uint16_t> SimGateway::inputRegister(int number, qint64 now) const {
    if (number >= input_reg::kDeviceTable && number <= tableRegisters())
        return tableRegister(number);
    if (number >= input_reg::kSlotsInUse && number <= input_reg::kWorkingDays)
        return statusRegister(number, now);
    if (number == input_reg::kMapVersion) return statusRegister(number, now);
    if (number == input_reg::kMbusReplyState) return mbusStatusRegister(now);
    if (within(number, input_reg::kMbusReplyBuffer, kMbusBufferRegisters))
        return mbusBufferRegister(number - input_reg::kMbusReplyBuffer, now);
    if (within(number, input_reg::kSlotBits, input_reg::kSlotBitRegisters))
        return bitMapRegister(number - input_reg::kSlotBits);
    if (within(number, input_reg::kSlotAddresses, input_reg::kSlotAddressRegisters))
        return addressMapRegister(number - input_reg::kSlotAddresses);
    return std::nullopt;
}

std::optional<uint16_t> SimGateway::holdingRegister(int number) const {
    if (number == holding_reg::kUnitAddress) return unitAddress_;
    const auto setting = settings_.find(number);
    if (setting == settings_.end()) return std::nullopt;
    return setting->second;
}

SimGateway::Fault SimGateway::writeRegister(int number, uint16_t value) {
    switch (number) {
        case holding_reg::kActivate:
            if (value > 250) return Fault::IllegalValue;  // primary addresses 0 to 250
            return activate(static_cast<uint8_t>(value));
        case holding_reg::kDelete:
            return deleteDevice(value);
        case holding_reg::kDeleteInputs:
            return deleteInputs(value);
        case holding_reg::kSearchAndActivate:
            return searchAndActivate(value);
        default:
            return writeSettings(number, {value});
    }
}

SimGateway::Fault SimGateway::writeSettings(int start, const std::vector<uint16_t>& values) {
    const int end = start + static_cast<int>(values.size());
    for (int number = start; number < end; ++number)
        if (!isSetting(number)) return Fault::IllegalAddress;
    for (int number = start; number < end; ++number)
        if (!validSetting(number, values[number - start])) return Fault::IllegalValue;
    for (int number = start; number < end; ++number) {
        const uint16_t value = values[number - start];
        if (number == holding_reg::kUnitAddress) {
            pendingAddress_ = static_cast<uint8_t>(value);
            continue;
        }
        settings_[number] = value;
        applyFlags(number, value);
    }
    return Fault::None;
}

}  // namespace tarnel::sim
