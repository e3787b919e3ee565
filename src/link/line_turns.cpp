// Whose turn it is on the serial line: the silence between frames, and the
// fence that goes before a request a late reply could be taken for.
#include <algorithm>

#include "link/gateway_link.h"
#include "link/pending_exchange.h"

namespace tarnel {
namespace {

constexpr qint64 kNsPerMs = 1'000'000;
// Fences sent before one request at most: a gateway still busy with a
// request four times its time-out ago lets the next one through; past that
// it is taken as silent and the request ends unanswered without going out.
constexpr int kMaxFences = 4;

}  // namespace

void GatewayLink::startNext() {
    if (queue_.empty() || queue_.front()->state != Pending::State::Waiting) return;
    Pending& next = *queue_.front();
    // The console's raw bytes go out when the user sends them.
    if (!tcpMode_ && !next.isRaw()) {
        const qint64 wait = lineWaitMs(next);
        if (wait > 0) {
            settleTimer_->start(static_cast<int>(wait));
            return;
        }
        turns_.deferredSince = -1;
        if (turns_.afterFailure) dropIdle(link_event::Ignored::When::AfterTimeOut);
        turns_.afterFailure = false;
        if (mayBeAnsweredLate(next)) {
            if (const auto fence =
                    FenceRequest(ShapeOf(next.request.adu).unit, turns_.unanswered)) {
                sendFence(next, *fence);
                return;
            }
            turns_.unanswered.clear();  // waited out
        }
    }
    send(next);
}

// How long `next` still waits before it may go out on the serial line: the
// silence after the last byte received or sent (held back by a line that
// never goes quiet for its own time at most), and when a late reply could
// be taken for its reply and no fence can tell them apart, the settling of
// the line.
qint64 GatewayLink::lineWaitMs(const Pending& next) {
    const qint64 nowMs = clock_.elapsed();
    const qint64 waitNs = turns_.lastByteNs + turns_.silenceNs - clock_.elapsedNs();
    qint64 waitMs = 0;
    if (waitNs > 0) {
        if (turns_.deferredSince < 0) turns_.deferredSince = nowMs;
        const qint64 heldFor = turns_.deferredSince + next.timeoutMs - nowMs;
        waitMs = std::min((waitNs + kNsPerMs - 1) / kNsPerMs, std::max<qint64>(heldFor, 0));
    }
    if (mayBeAnsweredLate(next) && !FenceRequest(ShapeOf(next.request.adu).unit, turns_.unanswered))
        waitMs = std::max(waitMs, waitOutMs());
    return waitMs;
}

// Without a fence: until the line has been quiet for a whole time-out since
// the last byte or the unanswered request's deadline, whichever is later;
// when nothing has come at all, a reply may still be on its way, so until
// two time-outs (and a margin) after the deadline, which is also the longest.
qint64 GatewayLink::waitOutMs() const {
    const qint64 latest = turns_.failDeadline + 2 * qint64{turns_.failTimeoutMs} + kLateMarginMs;
    const qint64 lastByteMs = turns_.lastByteNs / kNsPerMs;
    const qint64 quiet =
        turns_.heard ? std::max(lastByteMs, turns_.failDeadline) + turns_.failTimeoutMs : latest;
    return std::min(quiet, latest) - clock_.elapsed();
}

bool GatewayLink::mayBeAnsweredLate(const Pending& next) const {
    const ReplyShape shape = ShapeOf(next.request.adu);
    return AnswersAlike(turns_.unanswered, shape.unit, shape.function);
}

void GatewayLink::sendFence(Pending& fenced, const ModbusRequest& fence) {
    ++fenced.fences;
    auto pending = std::make_unique<Pending>();
    pending->id = ++nextId_;
    pending->owner = &fenceOwner_;
    pending->request = fence;
    pending->deadline = fenceDeadline_;
    pending->timeoutMs = fenced.timeoutMs;
    pending->done = [this, fencedId = fenced.id](const ExchangeResult& result) {
        fenceEnded(fencedId, result);
    };
    queue_.push_front(std::move(pending));
    send(*queue_.front());
}

// A fence answered leaves the line clean for the request it guarded. One
// the gateway did not answer leaves it as unclear as before: another fence
// goes, and after the last one the guarded request ends unanswered without
// going out, and the next request meets the next fence.
void GatewayLink::fenceEnded(quint64 fencedId, const ExchangeResult& result) {
    if (!result.lines.isEmpty()) emit event(link_event::Reported{result.lines});
    if (turns_.unanswered.empty() || result.aborted()) return;
    if (queue_.empty() || queue_.front()->id != fencedId) return;  // its owner gave it up
    if (queue_.front()->fences < kMaxFences) return;
    std::unique_ptr<Pending> fenced = std::move(queue_.front());
    queue_.pop_front();
    fenced->done(ExchangeResult{ExchangeEnd::TimedOut, result.reply, {}, clock_.elapsed()});
}

// What an exchange that went out on the serial line leaves the line with: a
// confirmed reply is the gateway's latest answer, so nothing it owed before
// can come after it; else, unless bytes came that could not be framed, the
// request's own reply may still come. A fence's
// exception reply could be owed to an earlier fence of its function.
void GatewayLink::noteEnded(const Pending& pending, const ExchangeResult& result) {
    const ReplyShape shape = ShapeOf(pending.request.adu);
    const bool owedAlike = pending.owner == &fenceOwner_ && IsExceptionReply(result.reply) &&
                           AnswersAlike(turns_.unanswered, shape.unit, shape.function);
    if (result.end == ExchangeEnd::Reply && !owedAlike) {
        turns_.unanswered.clear();
        return;
    }
    // Bytes that could not be framed (a wrong CRC, garbage) were its answer,
    // and a fence's answer comes after every reply owed before it.
    if (result.end == ExchangeEnd::TimedOut && !result.reply.isEmpty()) {
        if (pending.owner == &fenceOwner_) turns_.unanswered.clear();
        return;
    }
    const qint64 now = clock_.elapsed();
    const qint64 sentAt = pending.state == Pending::State::InFlight ? pending.sentAt : now;
    turns_.unanswered.insert(shape);
    turns_.afterFailure = true;
    turns_.failDeadline = std::max(now, sentAt + pending.timeoutMs);
    turns_.failTimeoutMs = pending.timeoutMs;
    turns_.heard = !received_.isEmpty();
}

}  // namespace tarnel
