#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

#include "base/clock.h"
#include "base/owner_thread.h"
#include "link/exchange.h"
#include "mbus/mbus_frames.h"
#include "ops/mbus_events.h"

namespace tarnel {

class GatewayLink;

// How one M-Bus transaction waits.
struct MbusTiming {
    int slave = 1;
    int waitMs = 1000;  // the meter's time to answer: the scan time
    int replyMs = 600;  // each reply of the gateway (the telegram's echo with
                        // fast replies, the reply state, the reply itself)
    // A reply of 1 to 4 bytes is judged by the parsers (and reported like a
    // CRC error) rather than taken as silence.
    bool judgeShortReplies = false;
};

// The steps of a transaction whose gateway replies its requester sees.
enum class MbusStep { Telegram, State, Data };

enum class MbusEnd {
    Telegram,      // the meter's reply came: `telegram`
    Silent,        // no reply from the meter in the gateway (or none from the gateway)
    Fault,         // a reply was in, but its read failed a Modbus check
    GatewayError,  // the gateway did not confirm the telegram's write
    LinkLost,
    Cancelled,
};

struct MbusResult {
    MbusEnd end = MbusEnd::Silent;
    QByteArray telegram;  // the M-Bus bytes, without the register padding
};

// One M-Bus request through the gateway's pass-through registers: the
// telegram written to the transmit buffer 0x8408, the wait for the meter,
// the reply state 0x8407 read, and, when the state says a reply is in, the
// reply read from 0x8408.
//
// Without fast replies the telegram's exchange lasts the whole wait. With
// fast replies the reply state is polled during the wait (every 50 ms on TCP;
// on the serial line as soon as the previous poll's reply is in, at most
// every 20 ms) and the wait ends as soon as the state says the meter's reply
// is in. Only the state read that ends the wait is judged: a poll in flight
// when the wait is over, or else one more read; the polls before it leave no
// trace. Silence still lasts the whole wait, since nothing else tells it.
//
// Lives on the link's thread; `runBlocking` carries a transaction out there
// for a worker.
class MbusTransaction : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const MbusResult&)>;
    // Sees each judged reply of the gateway (the telegram's echo, the
    // reply state, the reply), before the transaction parses it; it may
    // cancel the transaction, which then sends nothing more.
    using Seen = std::function<void(MbusStep, const ExchangeResult&)>;

    static constexpr int kPollTcpMs = 50;
    static constexpr int kPollSerialMs = 20;
    // Added to a blocking transaction's own times before its worker gives up.
    static constexpr int kBlockingMarginMs = 2000;

    // `waitTimer` times the wait for the meter, `replyTimer` the gateway's replies.
    MbusTransaction(GatewayLink& link, Timer& waitTimer, Timer& replyTimer, Seen seen,
                    QObject* parent = nullptr);

    // Sends `telegram` and calls `done` once with how it ended. A transaction
    // still running is cancelled first.
    void start(const Bytes& telegram, const MbusTiming& timing, Done done);
    // Ends a running transaction as cancelled.
    void cancel();
    bool running() const { return static_cast<bool>(done_); }

    // From a worker thread: the transaction on the link's thread; blocks
    // until it ended, at most for its own times and a margin (then it ends as
    // cancelled). `stopped` is asked on the link's thread first: a stop
    // that came before the start sends nothing.
    MbusResult runBlocking(const Bytes& telegram, const MbusTiming& timing,
                           std::function<bool()> stopped);
    // STOP for a worker's transaction (any thread): it ends as cancelled, and
    // the worker waiting for it goes on at once.
    void cancelBlocking();

signals:
    // A telegram too long for the pass-through (the presenter words it).
    void event(const MbusEvent& event);

private:
    void telegramWritten(const ExchangeResult& result);
    void poll();
    void polled(const ExchangeResult& result);
    void waitOver();
    void readState();
    void stateRead(const ExchangeResult& result);
    void dataRead(const ExchangeResult& result);
    bool judged(const QByteArray& reply) const;
    bool ended(MbusStep step, const ExchangeResult& result);
    void end(MbusEnd how, const QByteArray& telegram = {});
    void stopTimers();

    GatewayLink& link_;
    Timer& waitTimer_;
    Timer& replyTimer_;
    Timer* pollTimer_;
    Seen seen_;
    MbusTiming timing_;
    Done done_;
    bool fast_ = false;      // this wait polls the reply state
    bool waitOver_ = false;  // the wait of a polled transaction has run out
    bool polling_ = false;   // a poll is in flight
    qint64 pollStartedAt_ = 0;
    int registers_ = 0;  // of the meter's reply
    quint64 runs_ = 0;   // transactions started, to tell this one from the next
    std::mutex blockingMutex_;
    std::weak_ptr<Handoff<MbusResult>> blocking_;  // the worker's wait, for cancelBlocking
};

}  // namespace tarnel
