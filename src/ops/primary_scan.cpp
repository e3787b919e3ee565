#include "ops/primary_scan.h"

#include "base/grid_selection.h"
#include "link/gateway_link.h"
#include "mbus/loops_grid.h"
#include "ops/bus_survey.h"
#include "ops/busy_rule.h"

namespace tarnel {

PrimaryScan::PrimaryScan(GatewayLink& link, BusyRule& busy, Timer& timerMbus,
                         Timer& timerMbusRespond, QObject* parent)
    : QObject(parent),
      link_(link),
      busy_(busy),
      transaction_(new MbusTransaction(
          link, timerMbus, timerMbusRespond,
          [this](MbusStep step, const ExchangeResult& result) {
              // The telegram's echo is only counted; the replies are judged.
              if (step != MbusStep::Telegram && !result.lines.isEmpty())
                  emit event(mbus_event::Reception{result.lines});
              errors_.count(result.reply);
              // A scan the gateway leaves unanswered ends here.
              if (mode_ == Mode::Scan && silence_.note(result.reply)) end(Ending::GatewaySilent);
          },
          this)) {
    connect(transaction_, &MbusTransaction::event, this, &PrimaryScan::event);
    connect(&link_, &GatewayLink::linkLost, this, &PrimaryScan::connectionLost);
}

PrimaryScan::~PrimaryScan() {
    transaction_->cancel();
}

// --- one request ---------------------------------------------------------------

void PrimaryScan::sendTelegram(const Bytes& telegram) {
    noAnswer_ = false;
    transaction_->start(telegram,
                        MbusTiming{settings_.slave, settings_.scanTimeMs, settings_.timeoutMs},
                        [this](const MbusResult& result) { collected(result); });
}

// The single character E5 a meter acknowledges a change with (padded to a
// whole register by the gateway): the answer to the change itself, which
// the decoder (long frames only) would take for none. The read after it
// still counts as unanswered until a telegram comes.
bool PrimaryScan::acknowledged(const MbusResult& result) {
    const QByteArray& reply = result.telegram;
    const bool ack = reply == QByteArray(1, '\xE5') || reply == QByteArray("\xE5\x00", 2);
    if (!change_ || retryCount_ > 0 || result.end != MbusEnd::Telegram || !ack) return false;
    acknowledged_ = true;
    noAnswer_ = true;
    emit event(mbus_event::Acknowledged{address_});
    return true;
}

void PrimaryScan::collected(const MbusResult& result) {
    if (result.end == MbusEnd::LinkLost || result.end == MbusEnd::Cancelled) return;
    // A Modbus fault in the reply's read counts as an answer; a telegram the
    // gateway did not take asks again.
    if (result.end == MbusEnd::Silent || result.end == MbusEnd::GatewayError) noAnswer_ = true;
    const bool acknowledgement = mode_ == Mode::Request && acknowledged(result);
    if (!acknowledgement && result.end == MbusEnd::Telegram) {
        const DecodedTelegram decoded = DecodeLoopsTelegram(result.telegram, link_.clock().now());
        emit event(mbus_event::Decoded{
            decoded, mode_ == Mode::Scan ? LoopsUpdate::Append : LoopsUpdate::ByAddress});
        noAnswer_ = !decoded.ok;
        if (decoded.ok) ++found_;
        if (decoded.ok && decoded.row) {
            row_ = MeterRowOf(*decoded.row, result.telegram, runLink_);
            if (mode_ == Mode::Scan) rows_ << row_;
            emit listed(row_.id, result.telegram);
        }
    }
    if (mode_ == Mode::Request)
        evaluateRequest();
    else if (mode_ == Mode::Scan)
        evaluateScan();
}

void PrimaryScan::evaluateRequest() {
    if (!noAnswer_ || ++retryCount_ > settings_.retries) {
        if (noAnswer_ && !acknowledged_) ++silent_;
        readBackMissing_ = noAnswer_ && acknowledged_ && settings_.retries > 0;
        end(Ending::Done);
        return;
    }
    emit event(mbus_event::Asking{address_, true});
    sendTelegram(ReqUd2(static_cast<uint8_t>(address_)));
}

void PrimaryScan::evaluateScan() {
    if (!noAnswer_ || ++retryCount_ > settings_.retries) {
        if (noAnswer_) ++silent_;
        ++address_;
        retryCount_ = 0;
    }
    // The scan ends after its last address, also when that is 255.
    if (address_ > settings_.to) {
        end(Ending::Done);
        return;
    }
    requestAddress();
}

void PrimaryScan::requestAddress() {
    emit event(mbus_event::Asking{address_, false});
    emit requesting(address_);
    sendTelegram(ReqUd2(static_cast<uint8_t>(address_)));
}

void PrimaryScan::end(Ending ending) {
    if (mode_ == Mode::Idle) return;
    transaction_->cancel();
    MbusRunResult result;
    result.ending = ending;
    result.found = found_;
    result.silent = silent_;
    result.errors = errors_;
    if (mode_ == Mode::Scan) {
        result.link = runLink_;
        result.rows = rows_;
        busy_.end(Operation::Scan);
    } else {
        result.kind = MbusRunResult::Kind::MeterRequest;
        result.address = address_;
        result.answered = found_ > 0;
        result.acknowledged = acknowledged_;
        result.readBackMissing = readBackMissing_;
        result.row = row_;
        busy_.end(Operation::MeterRequest);
    }
    mode_ = Mode::Idle;
    emit finished(result);
}

// --- starting and stopping -----------------------------------------------------

PrimaryScan::Start PrimaryScan::start(const Settings& settings, bool clearTable) {
    Start range{std::min(settings.from, settings.to), std::max(settings.from, settings.to)};
    if (!link_.requireLink() || !busy_.begin(Operation::Scan)) return range;
    if (mode_ == Mode::Request) end(Ending::Stopped);
    settings_ = settings;
    settings_.from = range.from;
    settings_.to = range.to;
    mode_ = Mode::Scan;
    address_ = settings_.from;
    retryCount_ = 0;
    found_ = 0;
    silent_ = 0;
    errors_ = {};
    silence_.reset();
    rows_.clear();
    runLink_ = BusSurvey::key(link_.identity(), settings.slave);
    if (clearTable) emit event(mbus_event::ClearMeters{});
    requestAddress();
    range.started = true;
    return range;
}

bool PrimaryScan::readMeter(const MeterTarget& meter, const Settings& settings) {
    if (!link_.requireLink()) return false;
    if (meter.address < 0) {
        emit event(mbus_event::Refused{mbus_event::Refusal::NoValidMeter});
        return false;
    }
    return begin(meter.address, ReqUd2(static_cast<uint8_t>(meter.address)), settings, false);
}

bool PrimaryScan::request(int address, const Bytes& telegram, const Settings& settings) {
    return begin(address, telegram, settings, true);
}

bool PrimaryScan::begin(int address, const Bytes& telegram, const Settings& settings, bool change) {
    if (!busy_.begin(Operation::MeterRequest)) return false;
    if (mode_ == Mode::Request) end(Ending::Stopped);  // the newer request replaces it
    settings_ = settings;
    mode_ = Mode::Request;
    address_ = address;
    change_ = change;
    acknowledged_ = false;
    readBackMissing_ = false;
    retryCount_ = 0;
    found_ = 0;
    silent_ = 0;
    errors_ = {};
    row_ = {};
    runLink_ = BusSurvey::key(link_.identity(), settings.slave);
    sendTelegram(telegram);
    return true;
}

void PrimaryScan::stop() {
    end(Ending::Stopped);
}

void PrimaryScan::connectionLost() {
    end(Ending::LinkLost);
}

}  // namespace tarnel
