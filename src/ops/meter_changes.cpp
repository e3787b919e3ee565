#include "ops/meter_changes.h"

#include <map>

#include "base/grid_model.h"
#include "base/grid_selection.h"
#include "base/log.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"

namespace tarnel {
namespace {

constexpr uint8_t kDifInt64 = 0x07, kVifEnhancedId = 0x79;
constexpr uint8_t kDifBcd8 = 0x0C, kDifInt32 = 0x04, kVifVolumeLitres = 0x13;

int addressIn(const GridModel& grid, int row) {
    bool ok = false;
    const int address = grid.cell(row, 1).toInt(&ok);
    return ok ? address : -1;
}

// The first two rows that give one address (1 to 250) to two meters; a
// meter listed twice with one address is one meter.
std::optional<mbus_event::SameAddress> sameAddress(const GridModel& grid) {
    std::map<int, int> rowOf;  // address -> the first row giving it
    for (int row = 1; row < grid.rows(); ++row) {
        const int address = addressIn(grid, row);
        if (address < 1 || address > 250) continue;
        const auto [first, added] = rowOf.emplace(address, row);
        if (!added && grid.cell(first->second, 0) != grid.cell(row, 0))
            return mbus_event::SameAddress{first->second, row, address};
    }
    return std::nullopt;
}

}  // namespace

std::optional<Bytes> IdentificationBytes(const QString& cell) {
    if (cell.size() < 8) return std::nullopt;
    Bytes bytes;
    for (int pair = 3; pair >= 0; --pair) {
        const QChar high = cell.at(2 * pair), low = cell.at(2 * pair + 1);
        if (!high.isDigit() || !low.isDigit() || high > '9' || low > '9') return std::nullopt;
        bytes.push_back(static_cast<uint8_t>((high.unicode() - '0') << 4 | (low.unicode() - '0')));
    }
    return bytes;
}

MeterChanges::MeterChanges(GatewayLink& link, const GridModel& grid, BusyRule& busy,
                           PrimaryScan& scan, SecondarySearch& search, QObject* parent)
    : QObject(parent), link_(link), grid_(grid), busy_(busy), scan_(scan), search_(search) {
    connect(&search_, &SecondarySearch::finished, this, &MeterChanges::rowFinished);
}

bool MeterChanges::mayChange(const MeterTarget& meter) {
    if (!link_.requireLink()) return false;
    if (meter.address < 0) {
        emit event(mbus_event::Refused{mbus_event::Refusal::NoValidMeter});
        return false;
    }
    return true;
}

bool MeterChanges::send(const MeterTarget& meter, const Bytes& telegram,
                        const PrimaryScan::Settings& settings) {
    return scan_.request(meter.address, telegram, settings);
}

bool MeterChanges::changeMedium(const MeterTarget& meter, const QString& mediumName,
                                const PrimaryScan::Settings& settings) {
    if (!mayChange(meter)) return false;
    const std::optional<Bytes> id = IdentificationBytes(meter.id);
    if (!id) return false;
    // The meter's identification, any manufacturer and version, the new medium.
    const Bytes record{
        kDifInt64, kVifEnhancedId, (*id)[0], (*id)[1], (*id)[2],
        (*id)[3],  0xFF,           0xFF,     0xFF,     MediumCodeFromName(mediumName)};
    return send(meter, SendRecord(static_cast<uint8_t>(meter.address), record), settings);
}

bool MeterChanges::changeBaudRate(const MeterTarget& meter, uint8_t ci,
                                  const PrimaryScan::Settings& settings) {
    if (!mayChange(meter)) return false;
    return send(meter, SetBaudrate(static_cast<uint8_t>(meter.address), ci), settings);
}

bool MeterChanges::changeValue(const MeterTarget& meter, std::optional<uint32_t> value, bool bcd,
                               const PrimaryScan::Settings& settings) {
    if (!mayChange(meter) || !value) return false;
    if (busy_.running(Operation::Search) || busy_.running(Operation::AddressChange) ||
        bulkRunning_) {
        emit event(mbus_event::Refused{mbus_event::Refusal::ValueWhileSearch});
        return false;
    }
    // BCD: two decimal digits a byte, the last two first; binary: all four
    // bytes, least significant first.
    uint8_t data[4];
    uint32_t rest = *value;
    for (uint8_t& byte : data) {
        byte = bcd ? static_cast<uint8_t>((rest / 10 % 10) << 4 | rest % 10)
                   : static_cast<uint8_t>(rest & 0xFF);
        rest = bcd ? rest / 100 : rest >> 8;
    }
    const Bytes record{
        bcd ? kDifBcd8 : kDifInt32, kVifVolumeLitres, data[0], data[1], data[2], data[3]};
    return send(meter, SendRecord(static_cast<uint8_t>(meter.address), record), settings);
}

// --- every row -------------------------------------------------------------------

std::optional<int> MeterChanges::changeAllAddresses(const PrimaryScan::Settings& settings) {
    if (!link_.requireLink()) return std::nullopt;
    if (grid_.rows() < 2 || (grid_.rows() == 2 && grid_.cell(1, 1).isEmpty())) return std::nullopt;
    // Two meters given one address would garble each other's replies.
    if (const auto same = sameAddress(grid_)) {
        emit event(*same);
        return std::nullopt;
    }
    bulkSettings_ = settings;
    bulkSettings_.retries = std::max(settings.retries, 1);
    row_ = 1;
    if (!walkToAddressedRow()) {
        // Started and ended at once: its one `finished` still follows.
        emit bulkFinished(BulkAddressResult{});
        return bulkSettings_.retries;
    }
    if (!busy_.begin(Operation::BulkAddressChange)) return std::nullopt;
    bulkRunning_ = true;
    bulkStopped_ = false;
    bulk_ = {};
    bulk_.anyRow = true;
    processRow();
    return bulkSettings_.retries;
}

bool MeterChanges::walkToAddressedRow() {
    for (; row_ <= grid_.rows(); ++row_) {
        const int address = addressIn(grid_, row_);
        if (address < 0) continue;
        // The address goes into a spin edit of 1 to 250 and onto the bus.
        if (address < 1 || address > 250) {
            emit event(mbus_event::RowSkipped{row_, address});
            continue;
        }
        rowAddress_ = address;
        return true;
    }
    return false;
}

void MeterChanges::processRow() {
    emit rowStarted(row_);
    emit addressChanged(rowAddress_);
    const QString id = grid_.cell(row_, 0);
    emit event(mbus_event::SettingAddress{rowAddress_, id});
    const SecondarySearch::Settings settings{bulkSettings_.slave, bulkSettings_.scanTimeMs,
                                             bulkSettings_.retries};
    // A row without an identification number is passed over.
    SearchResult passedOver;
    passedOver.kind = SearchResult::Kind::AddressChange;
    passedOver.ending = Ending::Refused;
    if (!search_.changeAddressOf(id, rowAddress_, settings)) rowFinished(passedOver);
}

// The row's worker ended: on to the next row, unless the run was stopped or
// the link went.
void MeterChanges::rowFinished(const SearchResult& result) {
    if (!bulkRunning_ || result.kind != SearchResult::Kind::AddressChange) return;
    if (result.ending == Ending::LinkLost) {
        finish(Ending::LinkLost);
        return;
    }
    if (result.answered)
        ++bulk_.changed;
    else if (result.taken)
        ++bulk_.taken;
    else if (result.ending == Ending::Done)
        ++bulk_.silent;
    if (bulkStopped_ || result.ending == Ending::Stopped) {
        finish(Ending::Stopped);
        return;
    }
    ++row_;
    if (row_ > grid_.rows()) {
        finish(Ending::Done);
        return;
    }
    if (!walkToAddressedRow()) {
        bulk_.restUnaddressed = true;
        finish(Ending::Done);
        return;
    }
    processRow();
}

void MeterChanges::stop() {
    if (!bulkRunning_) return;
    bulkStopped_ = true;
    if (!search_.running()) finish(Ending::Stopped);
}

void MeterChanges::finish(Ending ending) {
    bulkRunning_ = false;
    bulk_.ending = ending;
    busy_.end(Operation::BulkAddressChange);
    emit bulkFinished(bulk_);
}

}  // namespace tarnel
