// The table of activated meters: activation reads the meter over the bus,
// entries are kept packed (deleting one moves the later ones down a slot) so
// that entry k is always the k-th active meter, and the gateway reads its
// meters anew once the readout period has passed.
#include <algorithm>

#include "sim/gateway_registers.h"
#include "sim/mbus_wire.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

constexpr uint8_t kLastPrimaryAddress = 250;
constexpr uint8_t kEmptySlot = 0xFF;  // address map: a slot without a meter

uint16_t word(unsigned high, unsigned low) {
    return static_cast<uint16_t>((high & 0xFF) << 8 | (low & 0xFF));
}

}  // namespace

std::optional<MeterReading> SimGateway::readMeter(uint8_t address, qint64& busMs) {
    const int baud = busBaud();
    if (mbusFlags_ & kFlagSndNke) {
        const Bytes reset = wire::ShortFrame(wire::kSndNke, address);
        busMs += ExchangeTimeMs(reset.size(), bus_.Transmit(reset, baud), baud);
    }
    // C 0x7B is REQ_UD2 with the frame count bit set.
    const uint8_t control =
        (mbusFlags_ & kFlagC7B) ? wire::kReqUd2 | wire::kFrameCountBit : wire::kReqUd2;
    const Bytes request = wire::ShortFrame(control, address);
    const std::optional<BusReply> reply = bus_.Transmit(request, baud);
    busMs += ExchangeTimeMs(request.size(), reply, baud);
    if (!reply) return std::nullopt;
    std::optional<MeterReading> reading = ReadMeterReply(reply->bytes);
    if (reading) reading->address = address;
    return reading;
}

SimGateway::Fault SimGateway::activate(uint8_t address) {
    TableEntry* known = findEntry(address);
    if (!known && table_.size() >= kTableSlots) return Fault::DeviceFailure;  // no bus time
    const std::optional<MeterReading> reading = readMeter(address, busMs_);
    if (!reading) return Fault::DeviceFailure;
    if (!known) known = &table_.emplace_back();
    known->reading = *reading;
    known->readAt = now_;
    return Fault::None;
}

SimGateway::Fault SimGateway::deleteDevice(uint16_t value) {
    if (value == holding_reg::kDeleteAllValue) {
        table_.clear();
        return Fault::None;
    }
    if (value > kLastPrimaryAddress) return Fault::IllegalValue;
    const auto entry = std::find_if(table_.begin(), table_.end(), [value](const TableEntry& e) {
        return e.reading.address == value;
    });
    if (entry == table_.end()) return Fault::IllegalValue;
    table_.erase(entry);
    return Fault::None;
}

SimGateway::Fault SimGateway::deleteInputs(uint16_t value) {
    if (value > kLastPrimaryAddress) return Fault::IllegalValue;
    TableEntry* entry = findEntry(static_cast<uint8_t>(value));
    if (!entry) return Fault::IllegalValue;
    entry->input1 = 0;
    entry->input2 = 0;
    return Fault::None;
}

SimGateway::Fault SimGateway::searchAndActivate(uint16_t value) {
    if (value != holding_reg::kSearchAndActivateValue) return Fault::IllegalValue;
    // Silent addresses stay out; a full table ends the search.
    for (int address = 0; address <= kLastPrimaryAddress && table_.size() < kTableSlots; ++address)
        (void)activate(static_cast<uint8_t>(address));
    return Fault::None;
}

void SimGateway::refreshDueEntries(qint64 now) {
    if (!(mbusFlags_ & kFlagPolling)) return;
    const qint64 periodMs = qint64{settings_.at(holding_reg::kReadoutPeriod)} * 1000;
    for (TableEntry& entry : table_) {
        if (now - entry.readAt < periodMs) continue;
        // In the background: the reply is not held back. A meter that stays
        // silent keeps its last reading.
        qint64 unused = 0;
        if (const auto reading = readMeter(entry.reading.address, unused)) entry.reading = *reading;
        entry.readAt = now;
    }
}

void SimGateway::sortTable() {
    std::stable_sort(table_.begin(), table_.end(), [](const TableEntry& a, const TableEntry& b) {
        return a.reading.address < b.reading.address;
    });
}

SimGateway::TableEntry* SimGateway::findEntry(uint8_t address) {
    const auto entry = std::find_if(table_.begin(), table_.end(), [address](const TableEntry& e) {
        return e.reading.address == address;
    });
    return entry == table_.end() ? nullptr : &*entry;
}

int SimGateway::tableRegisters() const {
    return kTableSlots * entryRegisters_;
}

uint16_t SimGateway::entryRegister(const TableEntry& entry, int number) {
    const MeterReading& meter = entry.reading;
    const auto value = static_cast<uint32_t>(meter.mainValue);
    switch (number) {
        case 1:
            return word(meter.address, meter.medium);
        case 2:
            return static_cast<uint16_t>(meter.id >> 16);
        case 3:
            return static_cast<uint16_t>(meter.id & 0xFFFF);
        case 4:  // M-Bus byte order: the code's low byte first
            return word(meter.manufacturer & 0xFF, meter.manufacturer >> 8);
        case 5:
            return word(meter.mainVif, meter.secondVif);
        case 8:
            return word(entry.input1, entry.input2);
        case 10:
            return word(0, meter.status);
        case 11:
            return static_cast<uint16_t>(value >> 16);
        case 12:
            return static_cast<uint16_t>(value & 0xFFFF);
        default:  // tag, unit code, flags, tariffs: all zero
            return 0;
    }
}

uint16_t SimGateway::tableRegister(int number) const {
    const auto slot = static_cast<size_t>((number - input_reg::kDeviceTable) / entryRegisters_);
    const int inEntry = (number - input_reg::kDeviceTable) % entryRegisters_ + 1;
    return slot < table_.size() ? entryRegister(table_[slot], inEntry) : 0;
}

uint16_t SimGateway::bitMapRegister(int index) const {
    // Slot 1 is the most significant bit of the first register.
    uint16_t bits = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const auto slot = static_cast<size_t>(index * 16 + bit);
        if (slot < table_.size()) bits = static_cast<uint16_t>(bits | (0x8000 >> bit));
    }
    return bits;
}

uint16_t SimGateway::addressMapRegister(int index) const {
    const auto addressOf = [this](size_t slot) -> uint8_t {
        return slot < table_.size() ? table_[slot].reading.address : kEmptySlot;
    };
    const auto first = static_cast<size_t>(2 * index);
    return word(addressOf(first), addressOf(first + 1));
}

}  // namespace tarnel::sim
