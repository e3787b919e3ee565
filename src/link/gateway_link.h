#pragma once

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "base/clock.h"
#include "base/owner_thread.h"
#include "link/exchange.h"
#include "link/late_replies.h"
#include "link/link_events.h"
#include "link/reply_framing.h"
#include "link/request_frames.h"
#include "link/response_parsers.h"
#include "link/transport.h"

namespace tarnel {

class SerialPacer;

// How the serial port is opened: the port's name, its line, and the text
// the window shows for it ("COM1 - 19200,8,Even").
struct SerialSettings {
    QString portName;
    SerialTransport::Line line;
    QString caption;
};
// The settings from the texts of the serial combo boxes: a speed that is
// not one of the rates gives 19200, a parity not named exactly gives Even,
// any stop-bit text but "2" one stop bit.
SerialSettings SerialSettingsFromTexts(const QString& name, const QString& speed,
                                       const QString& parity, const QString& stop);
// The TCP port of the "Remote port" box: 502 when empty, nothing when it is
// not a port number.
std::optional<int> TcpPortFromText(const QString& text);

// The link to the gateway. It opens and closes the serial port and the TCP
// connection (at most one is in use) and owns the line: the one request in
// flight, its bytes, the reply it expects, who asked, its deadline and how it
// ended. Only the link empties its buffers and purges the port, just before
// it sends. Operations start exchanges and react to their end; a request
// asked for while another is in flight waits for it.
//
// Every reply is confirmed against its request before anyone sees it (unit,
// function or its exception, byte count, echo; on TCP also the transaction).
// With fast replies an exchange ends as soon as a confirmed reply is whole;
// else, and whenever the bytes are not one confirmed frame, at its deadline.
// A reply that comes after its exchange ended never answers the next one: on
// TCP its transaction id tells; on the serial line bytes that come before
// the next request has been written are dropped, a late frame the next
// request's confirmation refuses is set aside, and where a late reply could
// pass that confirmation (same unit and function) a fence goes first.
// Frames on the serial line are kept apart by 3.5 characters of silence.
class GatewayLink : public QObject {
    Q_OBJECT
public:
    // A buffer keeps at most this much and drops what a flooding peer sends
    // beyond it; no reply is longer than 260 bytes (266 with its MBAP header).
    // What a timed-out exchange kept is logged, so a flood costs at most one
    // line of this many bytes a request, in memory and in the session file.
    static constexpr qsizetype kMaxBuffer = 8 * 1024;
    // When no fence can be sent, the line settles after an unanswered request
    // for at most two of its time-outs after its deadline and this margin: a
    // late reply that starts just as those end, held a little by a USB adapter
    // (up to 16 ms) or the scheduler, is still dropped.
    static constexpr int kLateMarginMs = 50;
    // Added to a blocking exchange's own times before its worker gives up.
    static constexpr int kBlockingMarginMs = 2000;

    GatewayLink(SerialTransport& serial, TcpTransport& tcp, Clock& clock,
                QObject* parent = nullptr);
    ~GatewayLink() override;

    Clock& clock() const { return clock_; }

    // --- link state (read from any thread) ---
    bool SerialOpen() const { return serialOpen_; }
    bool TcpMode() const { return tcpMode_; }
    int TransactionId() const { return transactionId_; }
    bool linkUp() const { return serialOpen_ || tcpMode_; }
    // Which link is up, "TCP host:port" or the serial port's name; empty when
    // none (the link's thread). What was read over one link is never taken
    // for another's.
    QString identity() const;

    // "Fast replies": an exchange ends as soon as its reply is whole and a
    // serial request goes out in one write; off, every wait lasts its time.
    bool fastReplies() const { return fastReplies_; }
    void setFastReplies(bool on) { fastReplies_ = on; }

    // --- the steps of every operation ---
    // False, telling `NotOpen`, when neither link is up.
    bool requireLink();
    // Tells a parser's lines about a reply, and whether it failed its CRC.
    void report(const ParseReport& parsed);
    // Tells what the reception of a reply reported: for an exchange whose
    // reply its requester judges.
    void logReception(const ExchangeResult& result);

    // --- exchanges (on the link's thread) ---
    // Sends `request`, framed for the active link, once no other exchange is
    // in flight (and the line has settled), arms `deadline` for `timeoutMs`
    // when it has left, and calls `done` once with how it ended and the
    // confirmed reply. `owner` names who asked.
    void exchange(const void* owner, const ModbusRequest& request, Timer& deadline, int timeoutMs,
                  ExchangeDone done);
    // The custom command console: raw bytes on the serial line, nothing to
    // match, so it always ends at its deadline. The receive buffer is not
    // emptied first. Asked again while the owner's exchange is in flight, the
    // bytes go out at once and the deadline starts anew.
    void exchangeRaw(const void* owner, const QByteArray& bytes, bool asText, Timer& deadline,
                     int timeoutMs, ExchangeDone done);
    // Ends the owner's exchanges, in flight or waiting, as cancelled.
    void cancel(const void* owner);
    bool busy(const void* owner) const;

    // --- exchanges from a worker thread ---
    // Carried out on the link's thread; blocks the worker until it ended, at
    // most for its times and a margin (then it ends as cancelled).
    ExchangeResult exchangeBlocking(const ModbusRequest& request, int timeoutMs);
    // STOP: ends the worker's exchange in flight as cancelled (any thread);
    // the worker waiting for it goes on at once.
    void cancelBlocking();

    // --- port management ---
    void openSerial(const SerialSettings& settings);
    void closeSerial();
    // Starts a connect to `host`; nothing for a port that is not a number.
    void connectTcp(const QString& host, std::optional<int> port, int ethTimeoutPosition);
    void disconnectTcp();
    // At close of the program: the serial port closed, the socket inactive.
    void shutdown();
    // The connect wait of a TCP connect is running.
    bool connectWaiting() const;

signals:
    // What the link tells about its ports and replies (the presenter words it).
    void event(const LinkEvent& event);
    // SerialOpen or TcpMode changed.
    void stateChanged();
    // The link went down while up: every running operation stops.
    void linkLost();
    // A connection to the TCP server failed (refused, unreachable).
    void connectFailed();

private:
    struct Pending;
    // The serial line between frames: the silence kept before each frame,
    // and the replies the gateway may still owe. After a request went
    // unanswered (a time-out, a refusal, a cancel), a request that could be
    // answered alike goes out only behind a fence: a short read of another
    // shape whose confirmed reply shows that every late reply has come.
    struct LineTurns {
        qint64 silenceNs = 0;                    // between frames, from the line's settings
        qint64 lastByteNs = -(qint64{1} << 62);  // the last byte received or sent
        qint64 deferredSince = -1;               // ms: the front request waits for silence since
        ReplyShapes unanswered{};                // since the last confirmed reply
        bool afterFailure = false;               // bytes idle before the next request get a line
        qint64 failDeadline = 0;  // ms: the last unanswered request's time was (or would be) up
        int failTimeoutMs = 0;
        bool heard = false;  // bytes came since then
    };

    void startNext();
    void send(Pending& pending);
    void sent(Pending* which);
    // False when the device went away (the link is then down).
    bool purgeSerial();
    void writeRaw(const QByteArray& bytes, bool asText);
    void onDeadline();
    void onReceived(bool tcp, const QByteArray& bytes);
    Framing framing() const;
    bool mayTake() const;
    qint64 lineWaitMs(const Pending& next);
    qint64 waitOutMs() const;
    bool mayBeAnsweredLate(const Pending& next) const;
    void sendFence(Pending& fenced, const ModbusRequest& fence);
    void fenceEnded(quint64 fencedId, const ExchangeResult& result);
    void noteEnded(const Pending& pending, const ExchangeResult& result);
    void dropIdle(link_event::Ignored::When when);
    void setAsideStrays(Pending& pending);
    void checkWhole();
    void finish(ExchangeResult result);
    void endAll(ExchangeEnd end);
    ExchangeResult judge(const Pending& pending) const;
    ExchangeResult judgeTcp(const Pending& pending) const;
    void onTcpConnected();
    void onTcpDisconnected();
    void onSerialLost(const QString& reason);
    void wentDown();

    SerialTransport& serial_;
    TcpTransport& tcp_;
    Clock& clock_;
    SerialPacer* pacer_;
    Timer* connectWait_;
    Timer* settleTimer_;
    Timer* fenceDeadline_;
    const char fenceOwner_ = 0;  // names the fences
    Timer* workerDeadline_;
    const char workerOwner_ = 0;  // names the worker's exchanges
    std::mutex blockingMutex_;
    std::weak_ptr<Handoff<ExchangeResult>> blocking_;  // the worker's wait, for cancelBlocking

    std::atomic<bool> serialOpen_{false};
    std::atomic<bool> tcpMode_{false};
    std::atomic<int> transactionId_{1000};
    std::atomic<bool> fastReplies_{true};
    QString serialDeviceName_;
    QString serialPortName_;
    QString tcpHostText_;
    int tcpPort_ = 0;

    std::deque<std::unique_ptr<Pending>> queue_;  // the front one is in flight once sent
    quint64 nextId_ = 0;
    QByteArray received_;  // since the request in flight was written
    QByteArray idle_;      // while no request was in flight or written: not a reply
    LineTurns turns_;
};

}  // namespace tarnel
