#include "sim/sim_bus.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <span>

#include "sim/mbus_wire.h"

namespace tarnel::sim {
namespace {

// Addresses.
constexpr uint8_t kLastPrimaryAddress = 250;
constexpr uint8_t kSelectedAddress = 0xFD;
constexpr uint8_t kBroadcastNoReply = 0xFF;

// C fields come from sim/mbus_wire.h; the frame count bit is ignored, so a
// meter answers the same request again whether or not the master toggles it.
using wire::kAck;
using wire::kFrameCountBit;
using wire::kReqUd1;
using wire::kReqUd2;
using wire::kSndNke;
using wire::kSndUd;

// CI fields (EN 13757-3).
constexpr uint8_t kCiDataSend = 0x51;
constexpr uint8_t kCiSelect = 0x52;
constexpr uint8_t kCiBaud300 = 0xB8;
constexpr uint8_t kCiBaud38400 = 0xBF;

// Data records.
constexpr uint8_t kExtensionBit = 0x80;
constexpr uint8_t kFiller = 0x2F;
constexpr uint8_t kVifEnhancedId = 0x79;
constexpr uint8_t kVifBusAddress = 0x7A;
constexpr uint8_t kVifPlainText = 0x7C;
constexpr size_t kMaxExtensions = 10;

void AppendLittleEndian(Bytes& to, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        to.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t LittleEndian(std::span<const uint8_t> bytes) {
    uint32_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// One request heard on the bus. `ci` is set for long frames only.
struct Request {
    uint8_t c = 0;
    uint8_t a = 0;
    std::optional<uint8_t> ci;
    Bytes data;
};

// The request in a telegram; nothing for a frame that a meter's UART and
// link layer would reject.
std::optional<Request> ParseRequest(const Bytes& telegram) {
    if (wire::IsShortFrame(telegram)) return Request{telegram[1], telegram[2], std::nullopt, {}};
    if (!wire::IsLongFrame(telegram)) return std::nullopt;
    return Request{telegram[4], telegram[5], telegram[6],
                   Bytes(telegram.begin() + 7, telegram.end() - 2)};
}

// Where one data record lies in a record list (EN 13757-3): DIF, DIFEs, VIF,
// VIFEs, data. Positions count from the start of the list.
struct RecordSpan {
    uint8_t dif = 0;
    bool hasDife = false;
    uint8_t vif = 0;
    bool hasVife = false;
    size_t data = 0;
    size_t length = 0;
};

// Data length by the DIF's data field; 0xD (variable length) is read from
// the first data byte.
constexpr size_t kDataLength[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 0, 6, 8};

// The length a variable-length record announces in its LVAR byte.
std::optional<size_t> VariableLength(uint8_t lvar) {
    if (lvar < 0xC0) return lvar;                                 // text
    if (lvar <= 0xC9) return lvar - 0xC0;                         // positive BCD
    if (lvar >= 0xD0 && lvar <= 0xD9) return lvar - 0xD0;         // negative BCD
    if (lvar >= 0xE0 && lvar <= 0xEF) return lvar - 0xE0;         // binary
    if (lvar >= 0xF0 && lvar <= 0xFA) return 4 * (lvar - 0xECu);  // binary, 4-byte steps
    return std::nullopt;
}

// The position after an extension chain that starts at `position`.
std::optional<size_t> SkipExtensions(std::span<const uint8_t> list, size_t position,
                                     bool extended) {
    for (size_t count = 0; extended; ++count) {
        if (count == kMaxExtensions || position >= list.size()) return std::nullopt;
        extended = list[position++] & kExtensionBit;
    }
    return position;
}

// Data position and length of a record whose data field follows at `position`.
bool PlaceData(std::span<const uint8_t> list, size_t position, RecordSpan& record) {
    record.data = position;
    record.length = kDataLength[record.dif & 0x0F];
    if ((record.dif & 0x0F) == 0x0D) {
        if (position >= list.size()) return false;
        const std::optional<size_t> length = VariableLength(list[position]);
        if (!length) return false;
        record.data = position + 1;
        record.length = *length;
    }
    return record.data + record.length <= list.size();
}

// The record at `position` (fillers skipped), moving `position` past it.
// Nothing at the end of the list, at manufacturer-specific data (DIF 0x0F,
// 0x1F) and at a record that runs past the end.
std::optional<RecordSpan> NextRecord(std::span<const uint8_t> list, size_t& position) {
    while (position < list.size() && list[position] == kFiller)
        ++position;
    if (position >= list.size() || (list[position] & 0x0F) == 0x0F) return std::nullopt;
    RecordSpan record;
    record.dif = list[position];
    record.hasDife = record.dif & kExtensionBit;
    const std::optional<size_t> vifAt = SkipExtensions(list, position + 1, record.hasDife);
    if (!vifAt || *vifAt >= list.size()) return std::nullopt;
    record.vif = list[*vifAt];
    record.hasVife = record.vif & kExtensionBit;
    size_t next = *vifAt + 1;
    if ((record.vif & 0x7F) == kVifPlainText) {  // the unit as text: length, characters
        if (next >= list.size()) return std::nullopt;
        next += 1 + size_t{list[next]};
    }
    const std::optional<size_t> dataAt = SkipExtensions(list, next, record.hasVife);
    if (!dataAt || !PlaceData(list, *dataAt, record)) return std::nullopt;
    position = record.data + record.length;
    return record;
}

// Instantaneous value, storage number 0, no tariff or subunit, plain VIF.
bool IsCurrentValue(const RecordSpan& record) {
    return (record.dif & 0xF0) == 0 && !record.hasVife;
}

bool IsBcd(uint8_t dif) {
    const int field = dif & 0x0F;
    return field >= 0x9 && field != 0xD && field != 0xF;
}

bool IsInteger(uint8_t dif) {
    const int field = dif & 0x0F;
    return field >= 0x1 && field <= 0x7 && field != 0x5;
}

// The number in a record's data by its DIF: integer (two's complement) or
// BCD, least significant byte first. Nothing for other codings.
std::optional<int64_t> ReadNumber(uint8_t dif, std::span<const uint8_t> data) {
    if (data.empty()) return std::nullopt;
    if (IsInteger(dif)) {
        uint64_t value = 0;
        for (size_t i = data.size(); i-- > 0;)
            value = value << 8 | data[i];
        const size_t bits = data.size() * 8;
        if (bits < 64 && (value >> (bits - 1) & 1)) value |= ~uint64_t{0} << bits;
        return static_cast<int64_t>(value);
    }
    if (!IsBcd(dif)) return std::nullopt;
    int64_t value = 0;
    for (size_t i = data.size(); i-- > 0;) {
        const int high = data[i] >> 4, low = data[i] & 0x0F;
        if (high > 9 || low > 9) return std::nullopt;
        value = value * 100 + high * 10 + low;
    }
    return value;
}

// Writes `value` into a record's data in the record's own coding; false
// (data unchanged) when it does not fit.
bool WriteNumber(uint8_t dif, int64_t value, std::span<uint8_t> data) {
    const size_t size = data.size();
    if (IsInteger(dif)) {
        if (size < 8) {
            const int64_t limit = int64_t{1} << (8 * size);
            if (value >= limit || value < -limit / 2) return false;
        }
        for (size_t i = 0; i < size; ++i)
            data[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
        return true;
    }
    if (!IsBcd(dif) || value < 0) return false;
    int64_t limit = 1;
    for (size_t i = 0; i < size; ++i)
        limit *= 100;
    if (value >= limit) return false;
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10);
        value /= 100;
    }
    return true;
}

// 01 7A NN: the meter's new primary address (0 to 250). The bus address is
// an unsigned number, so the byte 0xFA is 250, not -6.
void SetPrimaryAddress(SimMeter& meter, uint8_t dif, std::span<const uint8_t> data) {
    const std::optional<int64_t> address = IsInteger(dif) && data.size() == 1
                                               ? std::optional<int64_t>(data[0])
                                               : ReadNumber(dif, data);
    if (address && *address >= 0 && *address <= kLastPrimaryAddress)
        meter.address = static_cast<uint8_t>(*address);
}

// 0C 79: a new identification number, taken when all eight digits are
// decimal. 07 79 (the secondary address: number, manufacturer, version,
// medium) has picked out this meter already (AcceptsIdentification); of it
// only the medium is taken, unless it is 0xFF.
void SetIdentification(SimMeter& meter, std::span<const uint8_t> data) {
    if (data.size() == 8) {
        if (data[7] != 0xFF) meter.medium = data[7];
        return;
    }
    if (data.size() != 4) return;
    const uint32_t id = LittleEndian(data);
    for (int shift = 0; shift < 32; shift += 4)
        if ((id >> shift & 0x0F) > 9) return;
    meter.id = id;
}

// Quantities whose VIF carries a decimal exponent in its low three bits
// (energy, volume, mass, power, flows), so that litres fit a record in m3.
bool HasDecimalExponent(uint8_t vif) {
    return vif < 0x20 || (vif >= 0x28 && vif < 0x58);
}

bool SameQuantity(uint8_t sent, uint8_t own) {
    return HasDecimalExponent(sent) && (sent & 0x78) == (own & 0x78);
}

// `value` in units of 10^`from` expressed in units of 10^`to`, rounded half
// away from zero as a meter's register would be; nothing on overflow.
std::optional<int64_t> Rescale(int64_t value, int from, int to) {
    int64_t factor = 1;
    for (int i = 0; i < std::abs(from - to); ++i)
        factor *= 10;
    if (from >= to) {
        constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
        if (value > kMax / factor || value < -kMax / factor) return std::nullopt;
        return value * factor;
    }
    const int64_t half = value < 0 ? -factor / 2 : factor / 2;
    return (value + half) / factor;
}

// A counter value: the meter's first current record with the same VIF takes
// the number, converted into that record's coding; without one, its first
// current record of the same quantity, scaled to that record's unit.
void SetRecordValue(SimMeter& meter, const RecordSpan& sent, std::span<const uint8_t> data) {
    const std::optional<int64_t> value = ReadNumber(sent.dif, data);
    if (!value) return;
    const std::span<uint8_t> records(meter.records);
    std::optional<RecordSpan> target;
    for (size_t position = 0;
         const std::optional<RecordSpan> record = NextRecord(records, position);) {
        if (!IsCurrentValue(*record)) continue;
        if (record->vif == sent.vif) {
            target = record;
            break;
        }
        if (!target && SameQuantity(sent.vif, record->vif)) target = record;
    }
    if (!target) return;
    const std::optional<int64_t> scaled = Rescale(*value, sent.vif & 0x07, target->vif & 0x07);
    if (scaled) WriteNumber(target->dif, *scaled, records.subspan(target->data, target->length));
}

// The records of a SND_UD with CI 0x51; the ones the meter does not know
// are ignored.
void ApplyRecords(SimMeter& meter, std::span<const uint8_t> list) {
    size_t position = 0;
    while (const std::optional<RecordSpan> record = NextRecord(list, position)) {
        if (!IsCurrentValue(*record) || record->hasDife) continue;
        const std::span<const uint8_t> data = list.subspan(record->data, record->length);
        if (record->vif == kVifBusAddress)
            SetPrimaryAddress(meter, record->dif, data);
        else if (record->vif == kVifEnhancedId)
            SetIdentification(meter, data);
        else
            SetRecordValue(meter, *record, data);
    }
}

// CI 0xB8 to 0xBF: 300 to 38400 Bd.
std::optional<int> BaudForCi(uint8_t ci) {
    if (ci < kCiBaud300 || ci > kCiBaud38400) return std::nullopt;
    return 300 << (ci - kCiBaud300);
}

// Whether the meter takes a request to address `a` as its own: its primary
// address, 0xFD when it is selected, and the broadcasts 0xFE and 0xFF.
bool IsAddressed(const SimMeter& meter, uint8_t a) {
    if (a <= kLastPrimaryAddress) return meter.address == a;
    if (a == kSelectedAddress) return meter.selected;
    return a > kSelectedAddress;
}

// A secondary address against the meter's: identification number (BCD, a
// nibble 0xF matches any digit), manufacturer (0xFFFF any), version (0xFF
// any); the medium (0xFF any) only when `withMedium`.
bool MatchesSecondaryAddress(const SimMeter& meter, std::span<const uint8_t> data,
                             bool withMedium) {
    const uint32_t id = LittleEndian(data.first(4));
    for (int shift = 0; shift < 32; shift += 4) {
        const uint32_t digit = id >> shift & 0x0F;
        if (digit != 0x0F && digit != (meter.id >> shift & 0x0F)) return false;
    }
    const auto manufacturer = static_cast<uint16_t>(LittleEndian(data.subspan(4, 2)));
    if (manufacturer != 0xFFFF && manufacturer != meter.manufacturer) return false;
    if (data[6] != 0xFF && data[6] != meter.version) return false;
    return !withMedium || data[7] == 0xFF || data[7] == meter.medium;
}

// A data send that names a secondary address (07 79) is only for the meter
// it names, so that of two meters sharing a primary address only that one
// answers and changes.
bool AcceptsIdentification(const SimMeter& meter, std::span<const uint8_t> list) {
    size_t position = 0;
    while (const std::optional<RecordSpan> record = NextRecord(list, position)) {
        if (record->vif == kVifEnhancedId && record->length == 8 &&
            !MatchesSecondaryAddress(meter, list.subspan(record->data, 8), false))
            return false;
    }
    return true;
}

using Answer = std::optional<Bytes>;

Answer Ack() {
    return Bytes(1, kAck);
}

// REQ_UD2, REQ_UD1 and SND_NKE.
Answer HandleShortFrame(SimMeter& meter, const Request& request) {
    if (!IsAddressed(meter, request.a)) return std::nullopt;
    const bool replies = request.a != kBroadcastNoReply;
    const auto function = static_cast<uint8_t>(request.c & ~kFrameCountBit);
    if (function == kReqUd2 && replies) {
        Bytes reply = meter.RspUd();
        ++meter.accessNumber;
        return reply;
    }
    if (function == kReqUd1 && replies) return Ack();  // no class 1 data
    if (request.c == kSndNke) {
        if (request.a > kLastPrimaryAddress) meter.selected = false;
        if (replies) return Ack();
    }
    return std::nullopt;
}

// SND_UD: selection, data send, baud rate change. Any other CI is
// acknowledged on the link layer and otherwise ignored.
Answer HandleLongFrame(SimMeter& meter, const Request& request) {
    if ((request.c & ~kFrameCountBit) != kSndUd) return std::nullopt;
    if (request.ci == kCiSelect && request.a == kSelectedAddress) {
        if (request.data.size() < 8) return std::nullopt;
        meter.selected = MatchesSecondaryAddress(meter, request.data, true);
        return meter.selected ? Ack() : std::nullopt;
    }
    if (!IsAddressed(meter, request.a)) return std::nullopt;
    if (request.ci == kCiDataSend) {
        if (!AcceptsIdentification(meter, request.data)) return std::nullopt;
        ApplyRecords(meter, request.data);
    }
    // The acknowledgement still goes out at the old speed.
    if (const std::optional<int> baud = BaudForCi(*request.ci)) meter.baud = *baud;
    if (request.a == kBroadcastNoReply) return std::nullopt;
    return Ack();
}

// What the master receives when several meters answer at once. A meter sends
// a space (logical 0) by drawing more current, so wherever replies overlap
// a 0 wins over a 1: the bytes combine as a wired AND, aligned at their
// first byte. Equal replies (two acknowledgements) come through unharmed;
// different ones never end in a clean stop byte, because the master sees the
// overcurrent of the collision, so a valid frame cannot come out.
std::optional<BusReply> Collide(const std::vector<BusReply>& replies) {
    if (replies.empty()) return std::nullopt;
    if (replies.size() == 1) return replies.front();
    size_t length = 0;
    BusReply bus{{}, replies.front().delayMs};
    for (const BusReply& reply : replies) {
        length = std::max(length, reply.bytes.size());
        bus.delayMs = std::min(bus.delayMs, reply.delayMs);
    }
    bus.bytes.assign(length, 0xFF);
    for (const BusReply& reply : replies)
        for (size_t i = 0; i < reply.bytes.size(); ++i)
            bus.bytes[i] &= reply.bytes[i];
    const bool allEqual = std::all_of(replies.begin(), replies.end(), [&](const BusReply& reply) {
        return reply.bytes == replies.front().bytes;
    });
    if (!allEqual && bus.bytes.back() == wire::kStop) bus.bytes.back() &= ~0x10;
    return bus;
}

}  // namespace

Bytes SimMeter::RspUd() const {
    Bytes data;
    data.reserve(12 + records.size());
    AppendLittleEndian(data, id, 4);
    AppendLittleEndian(data, manufacturer, 2);
    for (const uint8_t byte : {version, medium, accessNumber, status, uint8_t{0}, uint8_t{0}})
        data.push_back(byte);
    data.insert(data.end(), records.begin(), records.end());
    Bytes frame = wire::LongFrame(wire::kRspUd, address, wire::kCiVariableReply, data);
    if (wrongChecksum) ++frame[frame.size() - 2];
    return frame;
}

std::optional<BusReply> SimBus::Transmit(const Bytes& telegram, int baud) {
    const std::optional<Request> request = ParseRequest(telegram);
    if (!request) return std::nullopt;
    std::vector<BusReply> replies;
    for (SimMeter& meter : meters_) {
        if (meter.baud != baud || meter.silent) continue;
        Answer answer =
            request->ci ? HandleLongFrame(meter, *request) : HandleShortFrame(meter, *request);
        if (answer)
            replies.push_back({std::move(*answer), meter.replyDelayMs + meter.extraDelayMs});
    }
    return Collide(replies);
}

}  // namespace tarnel::sim
