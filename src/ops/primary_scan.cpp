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
      timerMbusRespond_(timerMbusRespond),
      pollTimer_(link.clock().createTimer(this, "MbusPoll")) {
    connect(&timerMbus_, &Timer::timeout, this, &PrimaryScan::scanTimeOver);
    connect(pollTimer_, &Timer::timeout, this, &PrimaryScan::poll);
    connect(&link_, &GatewayLink::linkLost, this, &PrimaryScan::connectionLost);
}

// --- the wait for the meter ----------------------------------------------------

void PrimaryScan::sendTelegram(const Bytes& telegram) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(telegram.data()),
                               static_cast<qsizetype>(telegram.size()));
    const auto request = WriteRegistersRequest(settings_.slave, reg::kMbusBuffer,
                                               static_cast<int>(bytes.size()), bytes);
    if (!request) {
        log_.append(RefusedPayloadLine(bytes.size()));
        return;
    }
    fastWait_ = link_.fastReplies();
    scanTimeOver_ = false;
    // Without fast replies the whole scan time passes before the state is read.
    const auto done = [this](const ExchangeResult& result) { telegramSent(result); };
    if (fastWait_)
        link_.exchange(this, *request, timerMbusRespond_, settings_.timeoutMs, done);
    else
        link_.exchange(this, *request, timerMbus_, settings_.scanTimeMs, done);
}

void PrimaryScan::telegramSent(const ExchangeResult& result) {
    if (result.aborted()) return;
    errors_.count(result.reply);
    if (!fastWait_) {
        Timer_mbusTimer();
        return;
    }
    const qint64 waited = link_.clock().elapsed() - result.sentAt;
    timerMbus_.start(static_cast<int>(std::max<qint64>(settings_.scanTimeMs - waited, 0)));
    poll();
}

void PrimaryScan::poll() {
    polling_ = true;
    pollStartedAt_ = link_.clock().elapsed();
    link_.exchange(this, ReadInputRegistersRequest(settings_.slave, reg::kMbusStatus, 1),
                   timerMbusRespond_, settings_.timeoutMs,
                   [this](const ExchangeResult& result) { polled(result); });
}

void PrimaryScan::polled(const ExchangeResult& result) {
    polling_ = false;
    if (result.aborted()) return;
    if (scanTimeOver_ || MbusReplyReady(ReadFirstRegister(result.reply))) {
        // This read ends the wait: it is judged as the state read.
        timerMbus_.stop();
        job_.registerCount = 0;
        job_.dataPhase = false;
        Timer_mbusRespondTimer(result);
        return;
    }
    const int period = link_.TcpMode() ? kPollTcpMs : kPollSerialMs;
    const qint64 since = link_.clock().elapsed() - pollStartedAt_;
    pollTimer_->start(static_cast<int>(std::max<qint64>(period - since, 0)));
}

void PrimaryScan::scanTimeOver() {
    if (!fastWait_) return;  // the telegram's exchange ends with the scan time
    scanTimeOver_ = true;
    if (polling_) return;  // the poll in flight ends the wait
    pollTimer_->stop();
    Timer_mbusTimer();
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
    link_.exchange(this, ReadInputRegistersRequest(settings_.slave, reg::kMbusStatus, 1),
                   timerMbusRespond_, settings_.timeoutMs,
                   [this](const ExchangeResult& result) { Timer_mbusRespondTimer(result); });
}

// --- the gateway's reply -------------------------------------------------------

void PrimaryScan::Timer_mbusRespondTimer(const ExchangeResult& result) {
    if (result.aborted()) return;
    const QByteArray reply = link_.takeReply(result, false);
    errors_.count(reply);
    if (reply.size() <= 4) {
        job_.noAnswer = true;
    } else if (job_.dataPhase) {
        const MbusReply mbus = ParseMbusResponse(reply, 2 * job_.registerCount);
        link_.report(mbus.report);
        // A Modbus fault in the data reply counts as an answer.
        int selected = job_.selectedAddress;
        if (!mbus.telegram.isEmpty() && !job_.rawReply) {
            if (DecodeIntoLoopsGrid(mbus.telegram, grid_, log_, link_.clock().now(),
                                    job_.scanRunning, job_.matchById, selected))
                ++found_;
            else
                job_.noAnswer = true;
        }
        job_.selectedAddress = selected;
        link_.prepareRequest();
    } else {
        const FirstRegister state = ReadFirstRegister(reply);
        link_.report(state.report);
        if (MbusReplyReady(state)) {
            job_.registerCount = (state.low + 1) / 2;
            link_.prepareRequest();
            job_.dataPhase = true;
            link_.exchange(
                this,
                ReadInputRegistersRequest(settings_.slave, reg::kMbusBuffer, job_.registerCount),
                timerMbusRespond_, settings_.timeoutMs,
                [this](const ExchangeResult& next) { Timer_mbusRespondTimer(next); });
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
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.selectedAddress)));
}

void PrimaryScan::evaluateScan() {
    if (!job_.noAnswer || ++job_.retryCount > settings_.retries) {
        if (job_.noAnswer) ++silent_;
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
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.currentAddress)));
}

void PrimaryScan::endScan() {
    job_.scanRunning = false;
    job_.noAnswer = false;
    emit scanControlsEnabled(true);
    logSummary("ended");
}

// One closing line, so that a gateway that errs is never mistaken for an
// empty bus.
void PrimaryScan::logSummary(const char* how) {
    log_.append(QStringLiteral("Scan %1: meters found %2, addresses without an answer %3, %4.")
                    .arg(QLatin1String(how))
                    .arg(found_)
                    .arg(silent_)
                    .arg(errors_.text()));
}

// --- starting and stopping -----------------------------------------------------

std::pair<int, int> PrimaryScan::start(const Settings& settings) {
    settings_ = settings;
    if (settings_.to < settings_.from) std::swap(settings_.from, settings_.to);
    const std::pair<int, int> range{settings_.from, settings_.to};
    if (!link_.requireLink()) return range;
    stopWaiting();
    job_.currentAddress = settings_.from;
    job_.retryCount = 0;
    job_.noAnswer = false;
    job_.scanRunning = true;
    job_.singleRead = false;
    job_.rawReply = false;
    found_ = 0;
    silent_ = 0;
    errors_ = {};
    link_.prepareRequest();
    if (dialogs_.confirm("Clear table", "Do you want to clear the table?")) clearGrid();
    log_.append(QStringLiteral("Searching for address %1").arg(job_.currentAddress));
    sendTelegram(ReqUd2(static_cast<uint8_t>(job_.currentAddress)));
    emit scanControlsEnabled(false);
    return range;
}

void PrimaryScan::readSelected(const Settings& settings) {
    if (!link_.requireLink()) return;
    if (job_.selectedAddress < 0) {
        log_.append(QStringLiteral("Not a valid device selected..."));
        return;
    }
    startSingleRequest(settings, ReqUd2(static_cast<uint8_t>(job_.selectedAddress)));
}

void PrimaryScan::startSingleRequest(const Settings& settings, const Bytes& telegram) {
    settings_ = settings;
    stopWaiting();
    job_.scanRunning = false;
    job_.singleRead = true;
    job_.rawReply = false;
    job_.noAnswer = false;
    job_.retryCount = 0;
    link_.prepareRequest();
    sendTelegram(telegram);
}

void PrimaryScan::stopWaiting() {
    timerMbus_.stop();
    pollTimer_->stop();
    polling_ = false;
    link_.cancel(this);
}

void PrimaryScan::stop() {
    if (job_.scanRunning) logSummary("stopped");
    job_.bulkRow = grid_.rows() + 1;
    job_.searchIdle = true;
    link_.cancelBlocking();
    stopWaiting();
    emit scanControlsEnabled(true);
    link_.prepareRequest();
    job_.scanRunning = false;
    job_.singleRead = false;
    job_.rawReply = false;
}

void PrimaryScan::connectionLost() {
    const bool scan = job_.scanRunning, read = job_.singleRead;
    if (!scan && !read) return;
    stopWaiting();
    job_.scanRunning = false;
    job_.singleRead = false;
    job_.noAnswer = false;
    if (scan) {
        log_.append(QStringLiteral("Connection lost: scan stopped."));
        emit scanControlsEnabled(true);
        logSummary("stopped");
    } else {
        log_.append(QStringLiteral("Connection lost: read stopped."));
    }
}

// --- the meter grid --------------------------------------------------------------

void PrimaryScan::selectRow(int row) {
    job_.selectedRow = row;
    bool ok = false;
    const int address = grid_.cell(row, 1).toInt(&ok);
    job_.selectedAddress = ok ? address : -1;
    emit selectionChanged(selectedText());
}

QString PrimaryScan::selectedText() const {
    return QStringLiteral("Selected: %1").arg(job_.selectedAddress);
}

void PrimaryScan::clearSelection() {
    job_.selectedRow = 0;
    job_.selectedAddress = -1;
    grid_.setCurrentRow(0);
    emit selectionChanged(selectedText());
}

void PrimaryScan::removeSelectedRow() {
    const int row = job_.selectedRow;
    // Only a row that holds a meter is removed; the header always stays.
    if (row < 1 || row >= grid_.rows() || grid_.rowTexts(row).join(QString()).isEmpty()) return;
    for (int r = row; r < grid_.rows() - 1; ++r)
        grid_.setRowTexts(r, grid_.rowTexts(r + 1));
    grid_.setRows(std::max(grid_.rows() - 1, 2));
    if (grid_.rows() == 2 && row == 1) grid_.setRowTexts(1, {});
    // The removed meter was the selected one: nothing is selected now, so
    // that no later "Read" goes to another meter than the one highlighted.
    clearSelection();
}

void PrimaryScan::clearGrid() {
    grid_.clearData();
    clearSelection();
}

}  // namespace tarnel
