#include "ops/primary_scan.h"

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/loops_grid.h"

namespace tarnel {

PrimaryScan::PrimaryScan(GatewayLink& link, Log& log, Dialogs& dialogs, GridModel& grid,
                         MbusJobState& job, Timer& timerMbus, Timer& timerMbusRespond,
                         QObject* parent)
    : QObject(parent),
      link_(link),
      log_(log),
      dialogs_(dialogs),
      grid_(grid),
      job_(job),
      timerMbus_(timerMbus),
      timerMbusRespond_(timerMbusRespond) {
    connect(&timerMbus_, &Timer::timeout, this, &PrimaryScan::Timer_mbusTimer);
    connect(&timerMbusRespond_, &Timer::timeout, this, &PrimaryScan::Timer_mbusRespondTimer);
}

void PrimaryScan::sendTelegram(const Bytes& telegram, Timer& next, int intervalMs) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(telegram.data()),
                               static_cast<qsizetype>(telegram.size()));
    link_.SendWriteRegisters(settings_.slave, reg::kMbusBuffer, static_cast<int>(telegram.size()),
                             bytes, [&next, intervalMs] { next.start(intervalMs); });
}

std::pair<int, int> PrimaryScan::BitBtn1Click(const Settings& settings) {
    settings_ = settings;
    if (settings_.to < settings_.from) std::swap(settings_.from, settings_.to);
    const std::pair<int, int> range{settings_.from, settings_.to};
    if (!link_.requireLink()) return range;
    job_.currentAddress = settings_.from;
    job_.retryCount = 0;
    job_.noAnswer = false;
    job_.scanRunning = true;
    job_.singleRead = false;
    job_.rawReply = false;
    link_.clearBuffers();
    if (dialogs_.confirm("Clear table", "Do you want to clear the table?")) Butt_clear_gridClick();
    log_.append(QStringLiteral("Searching for address %1").arg(job_.currentAddress));
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.currentAddress)), timerMbus_,
                 settings_.scanTimeMs);
    emit scanControlsEnabled(false);
    return range;
}

void PrimaryScan::Read1Click(const Settings& settings) {
    if (!link_.requireLink()) return;
    if (job_.selectedAddress < 0) {
        log_.append(QStringLiteral("Not a valid device selected..."));
        return;
    }
    startSingleRequest(settings, ReqUd2(static_cast<uint8_t>(job_.selectedAddress)));
}

void PrimaryScan::startSingleRequest(const Settings& settings, const Bytes& telegram) {
    settings_ = settings;
    job_.scanRunning = false;
    job_.singleRead = true;
    job_.rawReply = false;
    job_.noAnswer = false;
    job_.retryCount = 0;
    link_.clearBuffers();
    sendTelegram(telegram, timerMbus_, settings_.scanTimeMs);
}

void PrimaryScan::Timer_mbusTimer() {
    timerMbus_.stop();
    // Whatever came during the scan time is not the reply.
    link_.prepareRequest();
    readStatus();
}

void PrimaryScan::readStatus() {
    job_.registerCount = 0;
    job_.dataPhase = false;
    link_.SendReadInputRegisters(settings_.slave, reg::kMbusStatus, 1,
                                 [this] { timerMbusRespond_.start(settings_.timeoutMs); });
}

void PrimaryScan::Timer_mbusRespondTimer() {
    timerMbusRespond_.stop();
    const QByteArray reply = link_.takeReply(false);
    if (reply.size() <= 4) {
        job_.noAnswer = true;
    } else if (job_.dataPhase) {
        const MbusReply mbus = ParseMbusResponse(reply, 2 * job_.registerCount);
        link_.report(mbus.report);
        // A Modbus fault in the data reply counts as an answer.
        if (!mbus.telegram.isEmpty() && !job_.rawReply &&
            !DecodeIntoLoopsGrid(mbus.telegram, grid_, log_, link_.clock().now(), job_.scanRunning,
                                 job_.matchById, job_.selectedAddress))
            job_.noAnswer = true;
        link_.clearBuffers();
    } else {
        const FirstRegister state = ReadFirstRegister(reply);
        link_.report(state.report);
        if (state.low != 0 && state.high > 3) {
            job_.registerCount = (state.low + 1) / 2;
            link_.prepareRequest();
            job_.dataPhase = true;
            link_.SendReadInputRegisters(settings_.slave, reg::kMbusBuffer, job_.registerCount,
                                         [this] { timerMbusRespond_.start(settings_.timeoutMs); });
            return;
        }
        job_.noAnswer = true;
    }
    if (job_.singleRead)
        evaluateSingle();
    else if (job_.scanRunning)
        evaluateScan();
}

void PrimaryScan::evaluateSingle() {
    link_.prepareRequest();
    job_.singleRead = false;
    if (!job_.noAnswer) return;
    if (++job_.retryCount > settings_.retries) return;
    job_.singleRead = true;
    job_.noAnswer = false;
    log_.append(QStringLiteral("Searching/Reading address %1").arg(job_.selectedAddress));
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.selectedAddress)), timerMbus_,
                 settings_.scanTimeMs);
}

void PrimaryScan::evaluateScan() {
    if (!job_.noAnswer || ++job_.retryCount > settings_.retries) {
        ++job_.currentAddress;
        job_.retryCount = 0;
    }
    link_.prepareRequest();
    // The scan ends after its last address, also when that is 255.
    if (job_.currentAddress > settings_.to) {
        endScan();
        return;
    }
    log_.append(QStringLiteral("Searching for address %1").arg(job_.currentAddress));
    job_.noAnswer = false;
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.currentAddress)), timerMbus_,
                 settings_.scanTimeMs);
}

void PrimaryScan::endScan() {
    job_.scanRunning = false;
    job_.noAnswer = false;
    emit scanControlsEnabled(true);
}

void PrimaryScan::BitBtn2Click() {
    job_.bulkRow = grid_.rows() + 1;
    job_.searchIdle = true;
    timerMbus_.stop();
    timerMbusRespond_.stop();
    emit scanControlsEnabled(true);
    link_.prepareRequest();
    job_.scanRunning = false;
    job_.rawReply = false;
}

void PrimaryScan::gridLoopsSelectCell(int row) {
    job_.selectedRow = row;
    bool ok = false;
    const int address = grid_.cell(row, 1).toInt(&ok);
    job_.selectedAddress = ok ? address : -1;
    emit selectionChanged(selectedText());
}

QString PrimaryScan::selectedText() const {
    return QStringLiteral("Selected: %1").arg(job_.selectedAddress);
}

void PrimaryScan::Removefromtable1Click() {
    const int row = job_.selectedRow;
    // Only a row that holds a meter is removed; the header always stays.
    if (row < 1 || row >= grid_.rows() || grid_.rowTexts(row).join(QString()).isEmpty()) return;
    for (int r = row; r < grid_.rows() - 1; ++r)
        grid_.setRowTexts(r, grid_.rowTexts(r + 1));
    grid_.setRows(std::max(grid_.rows() - 1, 2));
    if (grid_.rows() == 2 && row == 1) grid_.setRowTexts(1, {});
}

void PrimaryScan::Butt_clear_gridClick() {
    grid_.clearData();
}

}  // namespace tarnel
