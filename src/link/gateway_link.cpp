#include "link/gateway_link.h"
#include "link/pending_exchange.h"

#include <QThread>
#include <algorithm>
#include <stdexcept>

#include "base/owner_thread.h"
#include "link/reply_framing.h"
#include "link/serial_pacer.h"

namespace tarnel {
namespace {

QString ignoredLine(const QString& why) {
    return QStringLiteral("Ignored a reply that does not answer the request: ") + why;
}

}  // namespace

GatewayLink::GatewayLink(SerialTransport& serial, TcpTransport& tcp, Clock& clock, QObject* parent)
    : QObject(parent),
      serial_(serial),
      tcp_(tcp),
      clock_(clock),
      pacer_(new SerialPacer(serial, clock, this)),
      connectWait_(clock.createTimer(this, "ConnectWait")),
      settleTimer_(clock.createTimer(this, "Settle")),
      fenceDeadline_(clock.createTimer(this, "FenceDeadline")),
      workerDeadline_(clock.createTimer(this, "WorkerDeadline")) {
    connect(&serial_, &SerialTransport::received, this,
            [this](const QByteArray& bytes) { onReceived(false, bytes); });
    connect(&serial_, &SerialTransport::lost, this, &GatewayLink::onSerialLost);
    connect(&tcp_, &TcpTransport::received, this,
            [this](const QByteArray& bytes) { onReceived(true, bytes); });
    connect(&tcp_, &TcpTransport::connected, this, &GatewayLink::onTcpConnected);
    connect(&tcp_, &TcpTransport::disconnected, this, &GatewayLink::onTcpDisconnected);
    connect(&tcp_, &TcpTransport::errorOccurred, this, [this](int code, const QString& reason) {
        emit event(link_event::SocketError{code, reason});
        if (!tcpMode_) emit connectFailed();
    });
    connect(settleTimer_, &Timer::timeout, this, &GatewayLink::startNext);
    connect(pacer_, &SerialPacer::fault, this,
            [this](const QString& what) { emit event(link_event::PortFault{what}); });
}

GatewayLink::~GatewayLink() = default;

// --- the steps of every operation ------------------------------------------

bool GatewayLink::requireLink() {
    if (linkUp()) return true;
    emit event(link_event::NotOpen{});
    return false;
}

void GatewayLink::report(const ParseReport& parsed) {
    if (!parsed.lines.isEmpty() || parsed.crcError)
        emit event(link_event::Reported{parsed.lines, parsed.crcError});
}

void GatewayLink::logReception(const ExchangeResult& result) {
    if (!result.lines.isEmpty()) emit event(link_event::Reported{result.lines});
}

// --- exchanges ---------------------------------------------------------------

void GatewayLink::exchange(const void* owner, const ModbusRequest& request, Timer& deadline,
                           int timeoutMs, ExchangeDone done) {
    auto pending = std::make_unique<Pending>();
    pending->id = ++nextId_;
    pending->owner = owner;
    pending->request = request;
    pending->deadline = &deadline;
    pending->timeoutMs = timeoutMs;
    pending->done = std::move(done);
    if (!linkUp()) {
        pending->done(ExchangeResult{ExchangeEnd::LinkLost, {}, {}, 0});
        return;
    }
    queue_.push_back(std::move(pending));
    startNext();
}

void GatewayLink::exchangeRaw(const void* owner, const QByteArray& bytes, bool asText,
                              Timer& deadline, int timeoutMs, ExchangeDone done) {
    if (!queue_.empty() && queue_.front()->owner == owner && queue_.front()->isRaw() &&
        queue_.front()->state == Pending::State::InFlight) {
        // A second command before the first one's time is up: both answers
        // end up in one reply.
        writeRaw(bytes, asText);
        queue_.front()->done = std::move(done);
        deadline.start(timeoutMs);
        return;
    }
    auto pending = std::make_unique<Pending>();
    pending->id = ++nextId_;
    pending->owner = owner;
    pending->raw = bytes;
    pending->rawAsText = asText;
    pending->deadline = &deadline;
    pending->timeoutMs = timeoutMs;
    pending->done = std::move(done);
    queue_.push_back(std::move(pending));
    startNext();
}

void GatewayLink::dropIdle(link_event::Ignored::When when) {
    if (!idle_.isEmpty()) emit event(link_event::Ignored{when, idle_});
    idle_.clear();
}

void GatewayLink::send(Pending& pending) {
    pending.state = Pending::State::Sending;
    pending.tcp = tcpMode_;
    if (pending.isRaw()) {
        // The console's reply starts with whatever was left on the line.
        received_ = idle_;
    } else {
        received_.clear();
        // A device gone before its event thread said so: every exchange,
        // this one too, has ended.
        if (serialOpen_ && !pending.tcp && !purgeSerial()) return;
    }
    idle_.clear();
    if (pending.tcp) {
        pending.transaction = static_cast<uint16_t>(transactionId_++ & 0xFFFF);
        try {
            tcp_.send(TcpFrame(pending.transaction, pending.request.adu));
        } catch (const std::exception& error) {
            emit event(link_event::SocketException{QString::fromUtf8(error.what())});
        }
        sent(&pending);
        return;
    }
    if (pending.isRaw()) {
        try {
            writeRaw(pending.raw, pending.rawAsText);
        } catch (...) {
            // The error reaches the user; the exchange still ends at its time.
            sent(&pending);
            throw;
        }
        sent(&pending);
        return;
    }
    const ModbusRequest& request = pending.request;
    const quint64 id = pending.id;
    const auto front = [this, id]() -> Pending* {
        return !queue_.empty() && queue_.front()->id == id ? queue_.front().get() : nullptr;
    };
    pacer_->send(
        RtuFrame(request.adu), request.leadPauseMs, request.bytePauseMs, fastReplies_,
        [front] {
            if (Pending* which = front()) which->written = true;
        },
        [this, front] {
            if (Pending* which = front()) sent(which);
        });
}

bool GatewayLink::purgeSerial() {
    try {
        serial_.purgeAll();
        return true;
    } catch (const std::exception&) {
        onSerialLost(QStringLiteral("Serial device %1 went away...").arg(serialPortName_));
        return false;
    }
}

void GatewayLink::writeRaw(const QByteArray& bytes, bool asText) {
    if (asText) {
        serial_.writeText(bytes);
        return;
    }
    for (const char byte : bytes)
        serial_.writeByte(static_cast<uint8_t>(byte));
}

void GatewayLink::sent(Pending* which) {
    // The exchange may have ended (cancelled, link lost) while its request
    // was still going out.
    if (queue_.empty() || queue_.front().get() != which || which->state != Pending::State::Sending)
        return;
    which->state = Pending::State::InFlight;
    which->sentAt = clock_.elapsed();
    if (!which->tcp) turns_.lastByteNs = clock_.elapsedNs();
    // Bytes that began before the request was on the wire answer something else.
    if (!which->isRaw()) dropIdle(link_event::Ignored::When::WhileSending);
    which->deadlineConnection =
        connect(which->deadline, &Timer::timeout, this, &GatewayLink::onDeadline);
    which->deadline->start(which->timeoutMs);
    checkWhole();
}

// Whether bytes received now belong to the request in flight.
bool GatewayLink::mayTake() const {
    if (queue_.empty()) return false;
    const Pending& front = *queue_.front();
    return front.state == Pending::State::InFlight ||
           (front.state == Pending::State::Sending && front.written);
}

void GatewayLink::onReceived(bool tcp, const QByteArray& bytes) {
    const bool ours = mayTake();
    QByteArray& buffer = ours ? received_ : idle_;
    const qsizetype room = kMaxBuffer - buffer.size();
    if (!tcp) {
        turns_.lastByteNs = clock_.elapsedNs();
        if (!ours && turns_.afterFailure) turns_.heard = true;
    }
    if (room <= 0) return;
    buffer.append(bytes.first(std::min(bytes.size(), room)));
    if (!ours) return;
    if (!tcp) setAsideStrays(*queue_.front());
    checkWhole();
}

// A whole frame with a good CRC at the start of what came that does not
// answer the request (a late reply to a request before, another master's)
// is set aside once more bytes follow it, so that what follows is judged on
// its own.
void GatewayLink::setAsideStrays(Pending& pending) {
    if (pending.isRaw()) return;
    while (const std::optional<qsizetype> length = RtuFrameLength(received_)) {
        if (*length >= received_.size()) return;  // all that came: judged as it stands
        const Judgement judgement =
            JudgeRtuReply(pending.request.adu, QByteArrayView(received_).first(*length));
        if (judgement.verdict != Verdict::Refused) return;
        pending.lines << ignoredLine(judgement.why);
        received_.remove(0, *length);
    }
}

void GatewayLink::checkWhole() {
    const Pending& front = *queue_.front();
    if (front.state != Pending::State::InFlight) return;
    // A fence is the link's own: it ends at its reply whatever the setting.
    if (!fastReplies_ && front.owner != &fenceOwner_) return;
    if (front.isRaw()) return;  // nothing to match: the console waits its time
    ExchangeResult judged = judge(*queue_.front());
    if (judged.end == ExchangeEnd::Reply) finish(std::move(judged));
}

void GatewayLink::onDeadline() {
    if (queue_.empty() || queue_.front()->state != Pending::State::InFlight) return;
    finish(judge(*queue_.front()));
}

// The bytes received for `pending`, confirmed against its request.
ExchangeResult GatewayLink::judge(const Pending& pending) const {
    if (pending.tcp) return judgeTcp(pending);
    ExchangeResult result{ExchangeEnd::TimedOut, received_, pending.lines, pending.sentAt};
    if (pending.isRaw() || received_.isEmpty()) return result;
    const Judgement judgement = JudgeRtuReply(pending.request.adu, received_);
    if (judgement.verdict == Verdict::Confirmed) result.end = ExchangeEnd::Reply;
    if (judgement.verdict == Verdict::Refused) {
        result.end = ExchangeEnd::Refused;
        result.reply.clear();
        result.lines << ignoredLine(judgement.why);
    }
    return result;
}

ExchangeResult GatewayLink::judgeTcp(const Pending& pending) const {
    ExchangeResult result{ExchangeEnd::TimedOut, {}, {}, pending.sentAt};
    const TcpReply tcp = FrameTcpReply(pending.transaction, received_);
    if (tcp.framing != Framing::Whole) {
        // All that came, its header included, so the fault can be seen.
        if (!tcp.rest.isEmpty())
            result.lines << QStringLiteral("Error, raw TCP data: ") + HexBytesText(received_);
        return result;
    }
    const QByteArray reply = TcpToRtuFrame(tcp.frame, &result.lines);
    if (reply.isEmpty()) return result;
    if (const std::optional<QString> why = CheckConfirmation(pending.request.adu, reply)) {
        result.end = ExchangeEnd::Refused;
        result.lines << ignoredLine(*why);
        return result;
    }
    result.end = ExchangeEnd::Reply;
    result.reply = reply;
    return result;
}

// Ends the exchange in flight (the front one) as `result` says.
void GatewayLink::finish(ExchangeResult result) {
    std::unique_ptr<Pending> pending = std::move(queue_.front());
    queue_.pop_front();
    if (pending->deadlineConnection) disconnect(pending->deadlineConnection);
    pending->deadline->stop();
    if (pending->state != Pending::State::Waiting && !pending->tcp && !pending->isRaw())
        noteEnded(*pending, result);
    received_.clear();
    pending->done(result);  // may ask for the next exchange at once
    startNext();
}

void GatewayLink::cancel(const void* owner) {
    // The owner's waiting requests leave the queue first: ending the one in
    // flight starts the next request at once, which must not be one of them.
    std::vector<std::unique_ptr<Pending>> dropped;
    for (auto it = queue_.begin(); it != queue_.end();) {
        const bool inFlight = it == queue_.begin() && (*it)->state != Pending::State::Waiting;
        if ((*it)->owner == owner && !inFlight) {
            dropped.push_back(std::move(*it));
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
    if (!queue_.empty() && queue_.front()->owner == owner &&
        queue_.front()->state != Pending::State::Waiting)
        finish(ExchangeResult{ExchangeEnd::Cancelled, {}, {}, queue_.front()->sentAt});
    for (const std::unique_ptr<Pending>& pending : dropped)
        pending->done(ExchangeResult{ExchangeEnd::Cancelled, {}, {}, 0});
}

bool GatewayLink::busy(const void* owner) const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [owner](const auto& pending) { return pending->owner == owner; });
}

void GatewayLink::endAll(ExchangeEnd end) {
    settleTimer_->stop();
    pacer_->reset();
    while (!queue_.empty()) {
        std::unique_ptr<Pending> pending = std::move(queue_.front());
        queue_.pop_front();
        if (pending->deadlineConnection) disconnect(pending->deadlineConnection);
        pending->deadline->stop();
        pending->done(ExchangeResult{end, {}, {}, pending->sentAt});
    }
    received_.clear();
    idle_.clear();
    turns_ = LineTurns{.silenceNs = turns_.silenceNs};
}

// --- exchanges from a worker -------------------------------------------------

ExchangeResult GatewayLink::exchangeBlocking(const ModbusRequest& request, int timeoutMs) {
    if (QThread::currentThread() == thread())
        throw std::logic_error("a blocking exchange on the link's own thread would never end");
    auto handoff = std::make_shared<Handoff<ExchangeResult>>(clock_);
    {
        std::lock_guard lock(blockingMutex_);
        blocking_ = handoff;
    }
    RunOnOwner(this, [this, handoff, request, timeoutMs] {
        exchange(&workerOwner_, request, *workerDeadline_, timeoutMs,
                 [handoff](const ExchangeResult& result) { handoff->deliver(result); });
    });
    // Its own time, a fence's before it, or the settling of the line after an
    // unanswered request (at most two of those times and a margin): past
    // that, the link's thread is not answering.
    const std::optional<ExchangeResult> result = handoff->wait(4 * timeoutMs + kBlockingMarginMs);
    if (!result) cancelBlocking();
    return result.value_or(ExchangeResult{ExchangeEnd::Cancelled, {}, {}, 0});
}

void GatewayLink::cancelBlocking() {
    std::shared_ptr<Handoff<ExchangeResult>> blocking;
    {
        std::lock_guard lock(blockingMutex_);
        blocking = blocking_.lock();
    }
    if (blocking) blocking->deliver(ExchangeResult{ExchangeEnd::Cancelled, {}, {}, 0});
    RunOnOwner(this, [this] { cancel(&workerOwner_); });
}

}  // namespace tarnel
