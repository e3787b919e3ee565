#include "link/gateway_link.h"

#include <QThread>
#include <stdexcept>

#include "base/log.h"
#include "base/owner_thread.h"
#include "base/status_panels.h"
#include "link/reply_framing.h"
#include "link/serial_pacer.h"

namespace tarnel {

// One exchange, from the moment it is asked for until it ended.
struct GatewayLink::Pending {
    enum class State { Waiting, Sending, InFlight };

    const void* owner = nullptr;
    ModbusRequest request;  // empty adu: raw console bytes
    QByteArray raw;
    bool rawAsText = false;
    Timer* deadline = nullptr;
    int timeoutMs = 0;
    ExchangeDone done;
    State state = State::Waiting;
    bool tcp = false;
    uint16_t transaction = 0;
    qint64 sentAt = 0;
    QMetaObject::Connection deadlineConnection;

    bool isRaw() const { return request.adu.isEmpty(); }
};

GatewayLink::GatewayLink(SerialTransport& serial, TcpTransport& tcp, Clock& clock, Log& log,
                         StatusPanels& status, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      serial_(serial),
      tcp_(tcp),
      clock_(clock),
      log_(log),
      status_(status),
      dialogs_(dialogs),
      pacer_(new SerialPacer(serial, clock, log, this)),
      connectWait_(clock.createTimer(this, "ConnectWait")),
      settle_(clock.createTimer(this, "Settle")),
      workerDeadline_(clock.createTimer(this, "WorkerDeadline")) {
    connect(&serial_, &SerialTransport::received, this,
            [this](const QByteArray& bytes) { onReceived(false, bytes); });
    connect(&serial_, &SerialTransport::lost, this, &GatewayLink::onSerialLost);
    connect(&tcp_, &TcpTransport::received, this,
            [this](const QByteArray& bytes) { onReceived(true, bytes); });
    connect(&tcp_, &TcpTransport::connected, this, &GatewayLink::onTcpConnected);
    connect(&tcp_, &TcpTransport::disconnected, this, &GatewayLink::onTcpDisconnected);
    connect(&tcp_, &TcpTransport::errorOccurred, this, [this](int code, const QString& reason) {
        log_.append(QStringLiteral("Socket error #%1").arg(code));
        if (!reason.isEmpty()) log_.append(reason);
    });
    connect(settle_, &Timer::timeout, this, &GatewayLink::startNext);
}

GatewayLink::~GatewayLink() = default;

// --- the steps of every operation ------------------------------------------

bool GatewayLink::requireLink() {
    if (linkUp()) return true;
    log_.append(QStringLiteral("Serial or TCP port for modbus is not open..."));
    return false;
}

void GatewayLink::prepareRequest() {
    idle_.clear();
    if (serialOpen_) serial_.purgeAll();
}

void GatewayLink::report(const ParseReport& parsed) {
    for (const QString& line : parsed.lines)
        log_.append(line);
    if (parsed.crcError) status_.markCrcError();
}

QByteArray GatewayLink::takeReply(const ExchangeResult& result, bool logReceived) {
    for (const QString& line : result.lines)
        log_.append(line);
    if (logReceived) log_.append(RcvdLine(result.reply));
    return result.reply;
}

// --- exchanges ---------------------------------------------------------------

void GatewayLink::exchange(const void* owner, const ModbusRequest& request, Timer& deadline,
                           int timeoutMs, ExchangeDone done) {
    auto pending = std::make_unique<Pending>();
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
    pending->owner = owner;
    pending->raw = bytes;
    pending->rawAsText = asText;
    pending->deadline = &deadline;
    pending->timeoutMs = timeoutMs;
    pending->done = std::move(done);
    queue_.push_back(std::move(pending));
    startNext();
}

void GatewayLink::startNext() {
    if (queue_.empty() || queue_.front()->state != Pending::State::Waiting) return;
    Pending& next = *queue_.front();
    // After a time-out on the serial line a late reply may still come: the
    // line must have been quiet for the settle time, and what came is dropped.
    if (settleFirst_ && !tcpMode_ && !next.isRaw()) {
        const qint64 quietSince = std::max(settleFrom_, lastReceivedAt_);
        const qint64 wait =
            std::min(quietSince + kSettleMs, settleFrom_ + kMaxSettleMs) - clock_.elapsed();
        if (wait > 0) {
            settle_->start(static_cast<int>(wait));
            return;
        }
        idle_.clear();
    }
    settleFirst_ = false;
    send(next);
}

void GatewayLink::send(Pending& pending) {
    pending.state = Pending::State::Sending;
    pending.tcp = tcpMode_;
    received_ = pending.isRaw() ? idle_ : QByteArray();
    idle_.clear();
    if (pending.tcp) {
        pending.transaction = static_cast<uint16_t>(transactionId_++ & 0xFFFF);
        try {
            tcp_.send(TcpFrame(pending.transaction, pending.request.adu));
        } catch (const std::exception& error) {
            log_.append(QStringLiteral("Exception socket - ") + QString::fromUtf8(error.what()));
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
    pacer_->send(RtuFrame(request.adu), request.leadPauseMs, request.bytePauseMs, fastReplies_,
                 [this, which = &pending] { sent(which); });
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
    which->deadlineConnection =
        connect(which->deadline, &Timer::timeout, this, &GatewayLink::onDeadline);
    which->deadline->start(which->timeoutMs);
    checkWhole();
}

void GatewayLink::onReceived(bool tcp, const QByteArray& bytes) {
    const bool inFlight = !queue_.empty() && queue_.front()->state != Pending::State::Waiting;
    QByteArray& buffer = inFlight ? received_ : idle_;
    buffer.append(bytes.first(std::min(bytes.size(), kMaxBuffer - buffer.size())));
    if (!tcp) lastReceivedAt_ = clock_.elapsed();
    if (inFlight) checkWhole();
}

Framing GatewayLink::framing() const {
    const Pending& pending = *queue_.front();
    if (pending.isRaw()) return Framing::Incomplete;  // nothing to match
    if (pending.tcp)
        return FrameTcpReply(pending.transaction, static_cast<uint8_t>(pending.request.adu.at(0)),
                             received_)
            .framing;
    return FrameRtuReply(pending.request.adu, received_);
}

void GatewayLink::checkWhole() {
    if (!fastReplies_ || queue_.front()->state != Pending::State::InFlight) return;
    if (framing() == Framing::Whole) finish(ExchangeEnd::Reply);
}

void GatewayLink::onDeadline() {
    if (queue_.empty() || queue_.front()->state != Pending::State::InFlight) return;
    finish(framing() == Framing::Whole ? ExchangeEnd::Reply : ExchangeEnd::TimedOut);
}

ExchangeResult GatewayLink::resultOf(const Pending& pending, ExchangeEnd end) const {
    ExchangeResult result{end, {}, {}, pending.sentAt};
    if (!pending.tcp) {
        result.reply = received_;
        return result;
    }
    const TcpReply tcp = FrameTcpReply(pending.transaction,
                                       static_cast<uint8_t>(pending.request.adu.at(0)), received_);
    if (tcp.framing == Framing::Whole)
        result.reply = TcpToRtuFrame(tcp.frame, &result.lines);
    else if (!tcp.rest.isEmpty())
        result.lines << QStringLiteral("Error, raw TCP data: ") + HexBytesText(tcp.rest);
    return result;
}

void GatewayLink::finish(ExchangeEnd end) {
    std::unique_ptr<Pending> pending = std::move(queue_.front());
    queue_.pop_front();
    if (pending->deadlineConnection) disconnect(pending->deadlineConnection);
    pending->deadline->stop();
    const ExchangeResult result = resultOf(*pending, end);
    // A reply to a request that timed out or was given up may still come.
    if ((end == ExchangeEnd::TimedOut || end == ExchangeEnd::Cancelled) && !pending->tcp) {
        settleFirst_ = true;
        settleFrom_ = clock_.elapsed();
    }
    received_.clear();
    pending->done(result);  // may ask for the next exchange at once
    startNext();
}

void GatewayLink::cancel(const void* owner) {
    for (auto it = queue_.begin(); it != queue_.end();) {
        if ((*it)->owner != owner) {
            ++it;
            continue;
        }
        if (it == queue_.begin() && (*it)->state != Pending::State::Waiting) {
            finish(ExchangeEnd::Cancelled);
            it = queue_.begin();
            continue;
        }
        const std::unique_ptr<Pending> pending = std::move(*it);
        it = queue_.erase(it);
        pending->done(ExchangeResult{ExchangeEnd::Cancelled, {}, {}, 0});
        it = queue_.begin();
    }
}

bool GatewayLink::busy(const void* owner) const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [owner](const auto& pending) { return pending->owner == owner; });
}

void GatewayLink::endAll(ExchangeEnd end) {
    settle_->stop();
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
    settleFirst_ = false;
}

// --- exchanges from a worker -------------------------------------------------

ExchangeResult GatewayLink::exchangeBlocking(const ModbusRequest& request, int timeoutMs) {
    if (QThread::currentThread() == thread())
        throw std::logic_error("a blocking exchange on the link's own thread would never end");
    struct Outcome {
        std::unique_ptr<Gate> gate;
        ExchangeResult result;
    };
    auto outcome = std::make_shared<Outcome>();
    outcome->gate = clock_.createGate();
    RunOnOwner(this, [this, outcome, request, timeoutMs] {
        exchange(&workerOwner_, request, *workerDeadline_, timeoutMs,
                 [outcome](const ExchangeResult& result) {
                     outcome->result = result;
                     outcome->gate->open();
                 });
    });
    outcome->gate->wait();
    return outcome->result;
}

void GatewayLink::cancelBlocking() {
    RunOnOwner(this, [this] { cancel(&workerOwner_); });
}

}  // namespace tarnel
