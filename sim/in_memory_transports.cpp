#include "sim/in_memory_transports.h"

#include <algorithm>

namespace tarnel::sim {
namespace {

QByteArray toQt(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// Milliseconds a frame takes on a line of `baudrate` bits a second, 11 bits
// a byte (start, 8 data, parity, stop), at least 1.
int lineTimeMs(size_t bytes, int baudrate) {
    return std::max(
        1, static_cast<int>(bytes * 11 * 1000 / static_cast<size_t>(std::max(baudrate, 1))));
}

}  // namespace

void After(Clock& clock, QObject* owner, int delayMs, std::function<void()> action) {
    Timer* timer = clock.createTimer(owner);
    QObject::connect(timer, &Timer::timeout, owner, [timer, action = std::move(action)] {
        action();
        timer->deleteLater();
    });
    timer->start(delayMs);
}

InMemorySerial::InMemorySerial(SimEndpoint& endpoint, Clock& clock, QObject* parent)
    : SerialTransport(parent), endpoint_(endpoint), clock_(clock) {}

QString InMemorySerial::probe(const QString&) {
    return busyReason;
}

void InMemorySerial::open(const QString&, const Line& line) {
    open_ = true;
    line_ = {line.baudrate, line.parity == 0 ? 'N' : line.parity == 1 ? 'O' : 'E', line.stopBits};
    inbound_.clear();
}

void InMemorySerial::close() {
    open_ = false;
}

bool InMemorySerial::writeByte(uint8_t byte) {
    if (!open_) return false;
    inbound_.push_back(byte);
    answerWhole();
    return true;
}

bool InMemorySerial::writeText(const QByteArray& text) {
    if (!open_) return false;
    for (const char c : text)
        inbound_.push_back(static_cast<uint8_t>(c));
    answerWhole();
    return true;
}

void InMemorySerial::setRts(bool) {
    ++rtsChanges;
}

void InMemorySerial::hangUp() {
    if (!open_) return;
    open_ = false;
    inbound_.clear();
    emit lost(QStringLiteral("Serial device went away..."));
}

void InMemorySerial::answerWhole() {
    while (const auto length = RequestLength(inbound_, Framing::Rtu)) {
        const Bytes frame(inbound_.begin(), inbound_.begin() + static_cast<long>(*length));
        inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<long>(*length));
        const Exchange exchange = endpoint_.AnswerOn(line_, frame);
        if (exchange.close) {
            After(clock_, this, 1, [this] { hangUp(); });
            return;
        }
        for (const ReplyChunk& chunk : exchange.chunks) {
            const qint64 now = clock_.elapsed();
            const qint64 doneAt = std::max(now + chunk.delayMs, repliesDoneAt_) +
                                  lineTimeMs(chunk.bytes.size(), line_.baudrate);
            repliesDoneAt_ = doneAt;
            After(clock_, this, static_cast<int>(doneAt - now), [this, bytes = chunk.bytes] {
                if (!open_) return;
                endpoint_.RecordReply(bytes);
                emit received(toQt(bytes));
            });
        }
    }
}

InMemoryTcp::InMemoryTcp(SimEndpoint& endpoint, Clock& clock, QObject* parent)
    : TcpTransport(parent), endpoint_(endpoint), clock_(clock) {}

void InMemoryTcp::connectToHost(const QString&, uint16_t) {
    After(clock_, this, 1, [this] {
        if (refuse) {
            emit errorOccurred(10061);
            return;
        }
        connected_ = true;
        inbound_.clear();
        emit connected();
    });
}

void InMemoryTcp::abort() {
    if (!connected_) return;
    connected_ = false;
    emit disconnected();
}

void InMemoryTcp::send(const QByteArray& frame) {
    if (!connected_) return;
    inbound_.insert(inbound_.end(), frame.begin(), frame.end());
    while (const auto length = RequestLength(inbound_, Framing::Tcp)) {
        const Bytes request(inbound_.begin(), inbound_.begin() + static_cast<long>(*length));
        inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<long>(*length));
        const Exchange exchange = endpoint_.Answer(request);
        if (exchange.close) {
            After(clock_, this, 1, [this] { abort(); });
            return;
        }
        for (const ReplyChunk& chunk : exchange.chunks) {
            After(clock_, this, 1 + chunk.delayMs, [this, bytes = chunk.bytes] {
                if (!connected_) return;
                endpoint_.RecordReply(bytes);
                emit received(toQt(bytes));
            });
        }
    }
}

}  // namespace tarnel::sim
