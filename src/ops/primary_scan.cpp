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
      transaction_(new MbusTransaction(
          link, log, timerMbus, timerMbusRespond,
          [this](MbusStep step, const ExchangeResult& result) {
              // The telegram's echo is only counted; the replies are judged.
              if (step != MbusStep::Telegram) link_.logReception(result);
              errors_.count(result.reply);
          },
          this)) {
    connect(&link_, &GatewayLink::linkLost, this, &PrimaryScan::connectionLost);
}

// --- one request ---------------------------------------------------------------

void PrimaryScan::sendTelegram(const Bytes& telegram) {
    transaction_->start(telegram,
                        MbusTiming{settings_.slave, settings_.scanTimeMs, settings_.timeoutMs},
                        [this](const MbusResult& result) { collected(result); });
}

void PrimaryScan::collected(const MbusResult& result) {
    if (result.end == MbusEnd::LinkLost || result.end == MbusEnd::Cancelled) return;
    // A Modbus fault in the reply's read counts as an answer.
    if (result.end == MbusEnd::Silent) job_.noAnswer = true;
    if (result.end == MbusEnd::Telegram && !job_.rawReply) {
        int selected = job_.selectedAddress;
        if (DecodeIntoLoopsGrid(result.telegram, grid_, log_, link_.clock().now(), job_.scanRunning,
                                job_.matchById, selected))
            ++found_;
        else
            job_.noAnswer = true;
        job_.selectedAddress = selected;
    }
    if (job_.singleRead)
        evaluateSingle();
    else if (job_.scanRunning)
        evaluateScan();
}

void PrimaryScan::evaluateSingle() {
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
    sendTelegram(telegram);
}

void PrimaryScan::stopWaiting() {
    transaction_->cancel();
}

void PrimaryScan::stop() {
    if (job_.scanRunning) logSummary("stopped");
    job_.bulkRow = grid_.rows() + 1;
    job_.searchIdle = true;
    stopWaiting();
    emit scanControlsEnabled(true);
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
