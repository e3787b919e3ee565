#include "gateway/bulk_activation.h"

#include "base/grid_model.h"
#include "link/gateway_link.h"
#include "link/modbus_functions.h"
#include "link/register_map.h"
#include "ops/busy_rule.h"

namespace tarnel {
namespace {

// The gateway answered that it could not activate the meter (it did not
// answer the gateway): the meter's own failure, not the gateway's.
bool refusedByMeter(const ExchangeResult& result) {
    const QByteArray& reply = result.reply;
    return result.end == ExchangeEnd::Reply && reply.size() > 2 &&
           JudgeGatewayReply(reply) == GatewayReply::Exception &&
           static_cast<uint8_t>(reply.at(2)) == fn::kSlaveDeviceFailure;
}

}  // namespace

using namespace gateway_event;

BulkActivation::BulkActivation(GatewayLink& link, GridModel& devices, BusyRule& busy,
                               Timer& timerActivateAll, QObject* parent)
    : QObject(parent), link_(link), devices_(devices), busy_(busy), timer_(timerActivateAll) {
    connect(&link_, &GatewayLink::linkLost, this, &BulkActivation::connectionLost);
}

BulkActivation::~BulkActivation() {
    running_ = false;
    link_.cancel(this);
}

void BulkActivation::stop() {
    if (!running_) return;
    stopping_ = true;
    if (!link_.busy(this)) end(Ending::Stopped);
}

bool BulkActivation::start(const Settings& settings) {
    if (running_ || !link_.requireLink()) return false;
    if (devices_.rows() <= 1 || (devices_.rows() == 2 && devices_.cell(1, 1).isEmpty()))
        return false;
    if (!busy_.begin(Operation::BulkActivation)) return false;
    settings_ = settings;
    running_ = true;
    stopping_ = false;
    emit captionChanged(kStop);
    retries_ = 0;
    row_ = 1;
    result_ = {};
    result_.rows = devices_.rows() - 1;
    silence_.reset();
    sendRow();
    return true;
}

void BulkActivation::stopNow() {
    if (!running_) return;
    stopping_ = true;
    link_.cancel(this);
    end(Ending::Stopped);
}

// The rows from `row_` on: those whose address is not 0 to 250 are skipped
// in a loop (a long table of them would exhaust the stack if each skip
// called the next), the first good one is sent; the run ends after the last.
void BulkActivation::sendRow() {
    for (; row_ <= devices_.rows() - 1; ++row_) {
        const std::optional<int> address = rowAddress();
        if (!address) {
            result_.notActivated << row_;
            continue;
        }
        emit event(Activating{devices_.cell(row_, 1)});
        emit activating(devices_.cell(row_, 1));
        link_.exchange(this,
                       WriteSingleRegisterRequest(settings_.slave, reg::kActivateDevice, 0x00,
                                                  static_cast<uint8_t>(*address)),
                       timer_, settings_.scanTimeMs,
                       [this](const ExchangeResult& result) { Timer_activateAllTimer(result); });
        return;
    }
    end(Ending::Done);
}

// The row's address, or nothing after its error is told.
std::optional<int> BulkActivation::rowAddress() {
    const QString cell = devices_.cell(row_, 1);
    bool ok = false;
    const int address = cell.toInt(&ok);
    if (ok && address >= 0 && address <= 250) return address;
    // The low byte of a larger number would activate another meter.
    emit event(BadRowAddress{row_, ok ? std::optional<int>(address) : std::nullopt});
    return std::nullopt;
}

void BulkActivation::Timer_activateAllTimer(const ExchangeResult& result) {
    if (result.aborted()) return;
    emit event(Reception{result.lines});
    const QByteArray& reply = result.reply;
    const bool refused = refusedByMeter(result);
    if (!refused) result_.errors.count(reply);
    const bool silent = silence_.note(reply);
    // The gateway echoes the write once the meter is in its table: a reply
    // the link confirmed as this row's echo, not an exception.
    const bool succeeded = result.acknowledged();
    emit event(Reply{reply});
    if (stopping_) {
        if (succeeded) {
            ++result_.activated;
            ++row_;  // settled; the rows after it were not reached
        }
        end(Ending::Stopped);
        return;
    }
    if (silent) {
        end(Ending::GatewaySilent);  // the row in flight was not activated
        return;
    }
    next(succeeded, refused);
}

// `refused`: the meter's refusal, which counts the row apart when it was its
// last attempt.
void BulkActivation::next(bool succeeded, bool refused) {
    if (succeeded) {
        ++result_.activated;
    } else if (++retries_ <= settings_.retries) {
        sendRow();  // the same row again
        return;
    } else {
        ++(refused ? result_.refused : result_.silent);
        result_.notActivated << row_;
    }
    ++row_;
    retries_ = 0;
    sendRow();
}

// The result says why the run ended and what it met (its closing lines).
void BulkActivation::end(Ending ending) {
    running_ = false;
    for (int row = row_; row < devices_.rows() && ending != Ending::Done; ++row)
        result_.notActivated << row;
    emit captionChanged(kAgain);
    busy_.end(Operation::BulkActivation);
    result_.ending = ending;
    emit finished(result_);
}

void BulkActivation::connectionLost() {
    if (!running_) return;
    end(Ending::LinkLost);
}

}  // namespace tarnel
