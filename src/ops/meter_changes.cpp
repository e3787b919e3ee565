#include "ops/meter_changes.h"

#include "base/grid_model.h"
#include "base/log.h"
#include "link/gateway_link.h"
#include "ops/secondary_search.h"

namespace tarnel {
namespace {

constexpr uint8_t kDifInt64 = 0x07, kVifEnhancedId = 0x79;
constexpr uint8_t kDifBcd8 = 0x0C, kDifInt32 = 0x04, kVifVolumeLitres = 0x13;
constexpr int kTickMs = 500;

int addressIn(const GridModel& grid, int row) {
    bool ok = false;
    const int address = grid.cell(row, 1).toInt(&ok);
    return ok ? address : -1;
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

MeterChanges::MeterChanges(GatewayLink& link, Log& log, GridModel& grid, MbusJobState& job,
                           PrimaryScan& scan, SecondarySearch& search, Timer& timerChangePrimaryAll,
                           QObject* parent)
    : QObject(parent),
      link_(link),
      log_(log),
      grid_(grid),
      job_(job),
      scan_(scan),
      search_(search),
      timer_(timerChangePrimaryAll) {
    connect(&timer_, &Timer::timeout, this, &MeterChanges::Timer_changePrimaryAllTimer);
}

bool MeterChanges::mayChange() {
    if (!link_.requireLink()) return false;
    if (job_.selectedAddress < 0) {
        log_.append(QStringLiteral("Not a valid device selected..."));
        return false;
    }
    return true;
}

void MeterChanges::changeMedium(const QString& mediumName, const PrimaryScan::Settings& settings) {
    if (!mayChange()) return;
    const std::optional<Bytes> id = IdentificationBytes(grid_.cell(job_.selectedRow, 0));
    if (!id) return;
    // The meter's identification, any manufacturer and version, the new medium.
    const Bytes record{
        kDifInt64, kVifEnhancedId, (*id)[0], (*id)[1], (*id)[2],
        (*id)[3],  0xFF,           0xFF,     0xFF,     MediumCodeFromName(mediumName)};
    scan_.startSingleRequest(settings,
                             SendRecord(static_cast<uint8_t>(job_.selectedAddress), record));
}

void MeterChanges::changeBaudRate(uint8_t ci, const PrimaryScan::Settings& settings) {
    if (!mayChange()) return;
    scan_.startSingleRequest(settings, SetBaudrate(static_cast<uint8_t>(job_.selectedAddress), ci));
}

void MeterChanges::changeValue(std::optional<uint32_t> value, bool bcd,
                               const PrimaryScan::Settings& settings) {
    if (!mayChange() || !value) return;
    if (!job_.searchIdle) {
        log_.append(QStringLiteral("Can not change value while secondary search/change address"));
        return;
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
    scan_.startSingleRequest(settings,
                             SendRecord(static_cast<uint8_t>(job_.selectedAddress), record));
}

// --- every row -------------------------------------------------------------------

std::optional<int> MeterChanges::changeAllAddresses(const PrimaryScan::Settings& settings) {
    if (!link_.requireLink()) return std::nullopt;
    if (grid_.rows() < 2 || (grid_.rows() == 2 && grid_.cell(1, 1).isEmpty())) return std::nullopt;
    bulkSettings_ = settings;
    bulkSettings_.retries = std::max(settings.retries, 1);
    job_.retryCount = 0;
    job_.bulkRow = 1;
    if (!walkToAddressedRow()) {
        finish(QStringLiteral("Invalid primary addresses in the table, process finished!"));
        return bulkSettings_.retries;
    }
    job_.searchIdle = false;
    timer_.start(kTickMs);
    emit bulkControlsEnabled(false);
    processRow();
    return bulkSettings_.retries;
}

bool MeterChanges::walkToAddressedRow() {
    for (; job_.bulkRow <= grid_.rows(); ++job_.bulkRow) {
        const int address = addressIn(grid_, job_.bulkRow);
        if (address < 0) continue;
        // The address goes into a spin edit of 1 to 250 and onto the bus.
        if (address < 1 || address > 250) {
            log_.append(QStringLiteral("Row %1: primary address %2 is not 1..250, skipped...")
                            .arg(job_.bulkRow.load())
                            .arg(address));
            continue;
        }
        rowAddress_ = address;
        return true;
    }
    return false;
}

void MeterChanges::processRow() {
    job_.selectedRow = job_.bulkRow.load();
    emit addressChanged(rowAddress_);
    log_.append(QStringLiteral("Setting Primary address %1 to device %2...")
                    .arg(rowAddress_)
                    .arg(grid_.cell(job_.bulkRow, 0)));
    SecondarySearch::Settings settings{bulkSettings_.slave, bulkSettings_.scanTimeMs,
                                       bulkSettings_.retries};
    if (!search_.changeAddressOfRow(job_.bulkRow, rowAddress_, settings))
        job_.searchIdle = true;  // no identification number: on to the next row
}

void MeterChanges::Timer_changePrimaryAllTimer() {
    if (!job_.searchIdle || search_.running()) return;  // the row's worker still runs
    timer_.stop();
    job_.retryCount = 0;
    ++job_.bulkRow;
    if (job_.bulkRow > grid_.rows()) {
        finish(QStringLiteral("Process of setting primary addresses finished!"));
        return;
    }
    if (!walkToAddressedRow()) {
        finish(QStringLiteral("Invalid primary addresses in the table, process finished!"));
        emit bulkControlsEnabled(true);
        return;
    }
    job_.searchIdle = false;
    timer_.start(kTickMs);
    emit bulkControlsEnabled(false);
    processRow();
}

void MeterChanges::finish(const QString& line) {
    timer_.stop();
    log_.append(line);
    job_.searchIdle = true;
}

}  // namespace tarnel
