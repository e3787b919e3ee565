// What the gateway takes from a meter's RSP_UD for its device table: the
// header fields and the main value. The main value is the first record that
// carries a current value (DIF without extension, storage number 0,
// instantaneous) with a VIF of the primary table (below 0x78 without the
// extension bit), kept with its first VIFE; the records before it are
// stepped over by their DIF, DIFEs, VIF, VIFEs and data length.
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <span>

#include "sim/mbus_wire.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

using Records = std::span<const uint8_t>;

constexpr size_t kHeaderEnd = 19;  // the records start after the 12-byte header
constexpr size_t kMinimumLength = kHeaderEnd + 2;
constexpr uint8_t kControlMask = 0xCF;  // without the ACD and DFC bits
constexpr uint8_t kIdleFiller = 0x2F;
constexpr uint8_t kExtension = 0x80;
constexpr uint8_t kFirstSpecialVif = 0x78;  // fabrication number and up: no quantity
constexpr uint8_t kPlainTextVif = 0x7C;
constexpr uint8_t kVariableLength = 0x0D;
constexpr uint8_t kSpecialFunction = 0x0F;

struct MainRecord {
    uint8_t vif = 0;
    uint8_t vife = 0;
    int32_t value = 0;
};

int32_t clampToInt32(long double value) {
    constexpr auto kMin = std::numeric_limits<int32_t>::min();
    constexpr auto kMax = std::numeric_limits<int32_t>::max();
    if (std::isnan(value)) return 0;
    if (value <= kMin) return kMin;
    if (value >= kMax) return kMax;
    return static_cast<int32_t>(std::llround(value));
}

// Integers of 1 to 3 bytes unsigned, of 4, 6 and 8 bytes two's complement.
int32_t integerValue(Records data) {
    uint64_t raw = 0;
    for (size_t i = data.size(); i-- > 0;)
        raw = raw << 8 | data[i];
    if (data.size() < 4) return static_cast<int32_t>(raw);
    const unsigned unused = 64 - 8 * static_cast<unsigned>(data.size());
    const auto value = static_cast<int64_t>(raw << unused) >> unused;
    return clampToInt32(static_cast<long double>(value));
}

int32_t realValue(Records data) {
    uint32_t raw = 0;
    for (size_t i = data.size(); i-- > 0;)
        raw = raw << 8 | data[i];
    return clampToInt32(std::bit_cast<float>(raw));
}

// BCD, least significant byte first; an F in the top digit makes it negative.
// A digit above 9 anywhere else makes it undecodable: 0.
int32_t bcdValue(Records data) {
    long double value = 0;
    bool negative = false;
    bool first = true;
    for (size_t i = data.size(); i-- > 0;) {
        for (const int digit : {data[i] >> 4, data[i] & 0x0F}) {
            if (first && digit == 0x0F)
                negative = true;
            else if (digit > 9)
                return 0;
            else
                value = value * 10 + digit;
            first = false;
        }
    }
    return clampToInt32(negative ? -value : value);
}

int32_t decodeValue(uint8_t coding, Records data) {
    switch (coding) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x06:
        case 0x07:
            return integerValue(data);
        case 0x05:
            return realValue(data);
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0E:
            return bcdValue(data);
        default:  // no data, selection for read-out, variable length
            return 0;
    }
}

// The data length of a record by its DIF's data field (variable length apart).
size_t fixedLength(uint8_t coding) {
    static constexpr size_t kLengths[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 0, 6, 0};
    return kLengths[coding & 0x0F];
}

// The data length announced by the LVAR byte of a variable-length record.
std::optional<size_t> variableLength(uint8_t lvar) {
    if (lvar <= 0xBF) return lvar;                                  // text
    if (lvar <= 0xCF) return lvar - 0xC0;                           // positive BCD
    if (lvar <= 0xDF) return lvar - 0xD0;                           // negative BCD
    if (lvar <= 0xEF) return lvar - 0xE0;                           // binary
    if (lvar <= 0xF4) return 4 * static_cast<size_t>(lvar - 0xEC);  // binary, 4 to 32 bytes
    return std::nullopt;
}

// Skips a chain of extension bytes after `last`; false when the records end first.
bool skipExtensions(Records records, size_t& position, uint8_t last) {
    while (last & kExtension) {
        if (position >= records.size()) return false;
        last = records[position++];
    }
    return true;
}

std::optional<MainRecord> firstMainRecord(Records records) {
    size_t position = 0;
    while (position < records.size()) {
        const uint8_t dif = records[position++];
        if (dif == kIdleFiller) continue;
        if ((dif & 0x0F) == kSpecialFunction) return std::nullopt;  // manufacturer data follow
        const bool current = (dif & 0xF0) == 0;
        if (!skipExtensions(records, position, dif) || position >= records.size())
            return std::nullopt;
        const uint8_t vif = records[position++];
        const uint8_t vife =
            (vif & kExtension) && position < records.size() ? records[position] : 0;
        if (!skipExtensions(records, position, vif)) return std::nullopt;
        if ((vif & 0x7F) == kPlainTextVif) {  // the unit as text: its length, then the text
            if (position >= records.size()) return std::nullopt;
            position += 1 + size_t{records[position]};
        }
        std::optional<size_t> length = fixedLength(dif);
        if ((dif & 0x0F) == kVariableLength) {
            if (position >= records.size()) return std::nullopt;
            length = variableLength(records[position++]);
        }
        if (!length || position + *length > records.size()) return std::nullopt;
        if (current && (vif & 0x7F) < kFirstSpecialVif)  // the VIF without its extension bit
            return MainRecord{vif, vife,
                              decodeValue(dif & 0x0F, records.subspan(position, *length))};
        position += *length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<MeterReading> ReadMeterReply(const Bytes& telegram) {
    if (telegram.size() < kMinimumLength || !wire::IsLongFrame(telegram)) return std::nullopt;
    if ((telegram[4] & kControlMask) != wire::kRspUd || telegram[6] != wire::kCiVariableReply)
        return std::nullopt;
    MeterReading reading;
    reading.address = telegram[5];
    reading.id = static_cast<uint32_t>(telegram[10]) << 24 |
                 static_cast<uint32_t>(telegram[9]) << 16 |
                 static_cast<uint32_t>(telegram[8]) << 8 | telegram[7];
    reading.manufacturer = static_cast<uint16_t>(telegram[12] << 8 | telegram[11]);
    reading.medium = telegram[14];
    reading.status = telegram[16];
    const Records records(telegram.data() + kHeaderEnd, telegram.size() - kHeaderEnd - 2);
    if (const std::optional<MainRecord> main = firstMainRecord(records)) {
        reading.mainVif = main->vif;
        reading.secondVif = main->vife;
        reading.mainValue = main->value;
    }
    return reading;
}

}  // namespace tarnel::sim
