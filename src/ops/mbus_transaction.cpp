#include "ops/mbus_transaction.h"

#include "base/owner_thread.h"
#include "link/gateway_link.h"
#include "link/register_map.h"

namespace tarnel {
namespace {

ModbusRequest stateRequest(int slave) {
    return ReadInputRegistersRequest(slave, reg::kMbusStatus, 1);
}

}  // namespace

MbusTransaction::MbusTransaction(GatewayLink& link, Timer& waitTimer, Timer& replyTimer, Seen seen,
                                 QObject* parent)
    : QObject(parent),
      link_(link),
      waitTimer_(waitTimer),
      replyTimer_(replyTimer),
      pollTimer_(link.clock().createTimer(this, "MbusPoll")),
      seen_(std::move(seen)) {
    connect(&waitTimer_, &Timer::timeout, this, &MbusTransaction::waitOver);
    connect(pollTimer_, &Timer::timeout, this, &MbusTransaction::poll);
}

void MbusTransaction::start(const Bytes& telegram, const MbusTiming& timing, Done done) {
    cancel();
    ++runs_;
    timing_ = timing;
    done_ = std::move(done);
    fast_ = link_.fastReplies();
    waitOver_ = false;
    polling_ = false;
    const QByteArrayView bytes(reinterpret_cast<const char*>(telegram.data()),
                               static_cast<qsizetype>(telegram.size()));
    const auto request = WriteRegistersRequest(timing.slave, reg::kMbusBuffer,
                                               static_cast<int>(bytes.size()), bytes);
    if (!request) {
        emit event(mbus_event::PayloadRefused{bytes.size()});
        end(MbusEnd::Silent);
        return;
    }
    // Without fast replies the whole wait passes before the state is read.
    link_.exchange(this, *request, fast_ ? replyTimer_ : waitTimer_,
                   fast_ ? timing.replyMs : timing.waitMs,
                   [this](const ExchangeResult& result) { telegramWritten(result); });
}

void MbusTransaction::cancel() {
    if (!running()) return;
    stopTimers();
    link_.cancel(this);
    end(MbusEnd::Cancelled);
}

void MbusTransaction::stopTimers() {
    waitTimer_.stop();
    pollTimer_->stop();
    polling_ = false;
}

// Whether an exchange ended the transaction: the link went or it was given
// up. Otherwise its requester sees the reply, and may end it there (and
// start another).
bool MbusTransaction::ended(MbusStep step, const ExchangeResult& result) {
    if (result.end == ExchangeEnd::Cancelled) return true;  // cancel() ends it
    if (result.end == ExchangeEnd::LinkLost) {
        stopTimers();
        end(MbusEnd::LinkLost);
        return true;
    }
    const quint64 run = runs_;
    if (seen_) seen_(step, result);
    return run != runs_ || !running();
}

void MbusTransaction::telegramWritten(const ExchangeResult& result) {
    // The write is confirmed as every request is: no echo, another's echo or
    // an exception means the gateway did not take the telegram, and no meter
    // was asked. Told before the requester sees it, which may end the run.
    const bool taken = result.acknowledged();
    if (!taken && !result.aborted())
        emit event(mbus_event::TelegramUnconfirmed{result.lines, result.reply});
    if (ended(MbusStep::Telegram, result)) return;
    if (!taken) {
        stopTimers();
        end(MbusEnd::GatewayError);
        return;
    }
    if (!fast_) {
        readState();
        return;
    }
    const qint64 waited = link_.clock().elapsed() - result.sentAt;
    waitTimer_.start(static_cast<int>(std::max<qint64>(timing_.waitMs - waited, 0)));
    poll();
}

void MbusTransaction::poll() {
    polling_ = true;
    pollStartedAt_ = link_.clock().elapsed();
    link_.exchange(this, stateRequest(timing_.slave), replyTimer_, timing_.replyMs,
                   [this](const ExchangeResult& result) { polled(result); });
}

void MbusTransaction::polled(const ExchangeResult& result) {
    polling_ = false;
    if (result.aborted()) {
        ended(MbusStep::State, result);
        return;
    }
    if (waitOver_ || MbusReplyReady(ReadFirstRegister(result.reply))) {
        // This read ends the wait: it is judged as the state read.
        waitTimer_.stop();
        stateRead(result);
        return;
    }
    // From the poll leaving, which the silence between frames may have held back.
    const int period = link_.TcpMode() ? kPollTcpMs : kPollSerialMs;
    const qint64 since = link_.clock().elapsed() - std::max(pollStartedAt_, result.sentAt);
    pollTimer_->start(static_cast<int>(std::max<qint64>(period - since, 0)));
}

void MbusTransaction::waitOver() {
    if (!fast_ || !running()) return;  // the telegram's exchange ends with the wait
    waitOver_ = true;
    if (polling_) return;  // the poll in flight ends the wait
    pollTimer_->stop();
    readState();
}

void MbusTransaction::readState() {
    link_.exchange(this, stateRequest(timing_.slave), replyTimer_, timing_.replyMs,
                   [this](const ExchangeResult& result) { stateRead(result); });
}

bool MbusTransaction::judged(const QByteArray& reply) const {
    return timing_.judgeShortReplies ? !reply.isEmpty() : reply.size() > 4;
}

void MbusTransaction::stateRead(const ExchangeResult& result) {
    if (ended(MbusStep::State, result)) return;
    if (!judged(result.reply)) {
        end(MbusEnd::Silent);
        return;
    }
    const FirstRegister state = ReadFirstRegister(result.reply);
    link_.report(state.report);
    if (!MbusReplyReady(state)) {
        end(MbusEnd::Silent);
        return;
    }
    registers_ = (state.low + 1) / 2;
    link_.exchange(this, ReadInputRegistersRequest(timing_.slave, reg::kMbusBuffer, registers_),
                   replyTimer_, timing_.replyMs,
                   [this](const ExchangeResult& data) { dataRead(data); });
}

void MbusTransaction::dataRead(const ExchangeResult& result) {
    if (ended(MbusStep::Data, result)) return;
    if (!judged(result.reply)) {
        end(MbusEnd::Silent);
        return;
    }
    const MbusReply mbus = ParseMbusResponse(result.reply, 2 * registers_);
    link_.report(mbus.report);
    end(mbus.telegram.isEmpty() ? MbusEnd::Fault : MbusEnd::Telegram, mbus.telegram);
}

void MbusTransaction::end(MbusEnd how, const QByteArray& telegram) {
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done) done(MbusResult{how, telegram});
}

MbusResult MbusTransaction::runBlocking(const Bytes& telegram, const MbusTiming& timing,
                                        std::function<bool()> stopped) {
    auto handoff = std::make_shared<Handoff<MbusResult>>(link_.clock());
    {
        std::lock_guard lock(blockingMutex_);
        blocking_ = handoff;
    }
    RunOnOwner(this, [this, handoff, telegram, timing, stopped = std::move(stopped)] {
        const auto done = [handoff](const MbusResult& result) { handoff->deliver(result); };
        if (stopped && stopped()) {
            done(MbusResult{MbusEnd::Cancelled, {}});
            return;
        }
        start(telegram, timing, done);
    });
    // The wait for the meter, three replies of the gateway, and the line's
    // settling after an earlier unanswered request: past that, the link's
    // thread is not answering (it is shutting down).
    const int bound = 2 * timing.waitMs + 6 * timing.replyMs + kBlockingMarginMs;
    const std::optional<MbusResult> result = handoff->wait(bound);
    if (!result) cancelBlocking();
    return result.value_or(MbusResult{MbusEnd::Cancelled, {}});
}

void MbusTransaction::cancelBlocking() {
    std::shared_ptr<Handoff<MbusResult>> blocking;
    {
        std::lock_guard lock(blockingMutex_);
        blocking = blocking_.lock();
    }
    // The waiting worker goes on at once, even while this thread is busy.
    if (blocking) blocking->deliver(MbusResult{MbusEnd::Cancelled, {}});
    RunOnOwner(this, [this] { cancel(); });
}

}  // namespace tarnel
