// Measures the link, fast replies off and on:
//  1. the longest stretch the GUI thread is blocked while the longest
//     request (a 19-byte M-Bus telegram written to the pass-through, 29
//     bytes on the wire) goes out on a serial port (a pseudo-terminal at
//     19200 8E1), and how long it takes to leave: paced with fast replies
//     off, in one write with them on;
//  2. the time from a complete reply arriving on loopback TCP to its
//     "RCVD:" line and to the end of its exchange, at the default Modbus
//     time-out of 600 ms;
//  3. the cost of a time-out on the serial line: a gateway that misses one
//     read and answers the next, the same read again; from the request that
//     went unanswered leaving to the next one's reply, against the time-out,
//     with nothing coming after the time-out and with the missed reply late
//     by 100 ms after it.
// Usage: link_bench [rounds]
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <cmath>
#include <cstdio>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "bench_support.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "link/register_map.h"
#include "no_dialogs.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

constexpr int kTimeoutMs = 600;
// Runs with fast replies off wait out the whole time-out each.
constexpr int kRoundsOff = 3;

// The gateway's side of a pseudo-terminal: answers every whole write of
// `requestSize` bytes with `reply` (a read of holding registers with
// `holdingReply`), but for the first `missed` requests.
class PtyPeer {
public:
    PtyPeer(qsizetype requestSize, QByteArray reply, QByteArray holdingReply = {})
        : requestSize_(requestSize),
          reply_(std::move(reply)),
          holdingReply_(std::move(holdingReply)) {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readRequest(); });
    }
    ~PtyPeer() {
        notifier_.reset();
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return notifier_ != nullptr; }
    QString path() const { return QString::fromLocal8Bit(::ttyname(slave_)); }
    void miss(int requests) { missed_ = requests; }
    // Bytes from the gateway's side, unasked.
    void write(const QByteArray& bytes) {
        if (::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) < 0) return;
    }

private:
    void readRequest() {
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(master_, buffer, sizeof buffer)) > 0)
            received_.append(buffer, got);
        while (received_.size() >= requestSize_) {
            const bool holding = received_.at(1) == 0x03;
            received_.remove(0, requestSize_);
            if (missed_ > 0) {
                --missed_;
                continue;
            }
            const QByteArray& reply = holding && !holdingReply_.isEmpty() ? holdingReply_ : reply_;
            if (!reply.isEmpty()) write(reply);
        }
    }

    qsizetype requestSize_;
    QByteArray reply_;
    QByteArray holdingReply_;
    int missed_ = 0;
    int master_ = -1;
    int slave_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray received_;
};

// Worst of the rounds of one setting: GUI block and time for the frame to leave.
struct Pacing {
    double blockUs = 0;
    qint64 frameOutMs = 0;
    qint64 exchangeMs = 0;
    int replies = 0;  // exchanges that ended with their reply
};

Pacing MeasurePacing(GatewayLink& link, Clock& clock, bool fast, int rounds) {
    // SND_UD with a 19-byte telegram (a medium change).
    const QByteArray telegram =
        QByteArray::fromHex("68 0D 0D 68 53 FE 51 0F 1A 00 00 00 00 00 00 00 00 B3 16");
    const ModbusRequest request =
        *WriteRegistersRequest(1, reg::kMbusBuffer, static_cast<int>(telegram.size()), telegram);
    QObject owner;
    Timer* deadline = clock.createTimer(&owner);
    StallWatch watch(0);  // every turn of the event loop: microseconds
    link.setFastReplies(fast);
    Pacing worst;
    for (int round = 0; round < rounds; ++round) {
        std::optional<ExchangeResult> ended;
        const qint64 calledAt = clock.elapsed();
        watch.reset();
        link.exchange(&owner, request, *deadline, 100,
                      [&](const ExchangeResult& result) { ended = result; });
        WaitFor([&] { return ended.has_value(); }, 5000);
        worst.blockUs = std::max(worst.blockUs, watch.longestMs() * 1000);
        if (!ended) continue;
        worst.frameOutMs = std::max(worst.frameOutMs, ended->sentAt - calledAt);
        worst.exchangeMs = std::max(worst.exchangeMs, clock.elapsed() - calledAt);
        if (ended->end == ExchangeEnd::Reply) ++worst.replies;
    }
    return worst;
}

// The Modbus TCP side of the gateway: answers every request for one input
// register with 0x0005, under the request's transaction id.
void ServeTcp(QTcpServer& server) {
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket* peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] {
            const QByteArray request = peer->readAll();
            if (request.size() < 2) return;
            peer->write(request.first(2) + QByteArray::fromHex("000000050104020005"));
        });
    });
}

// From the request the peer misses leaving to the reply of the same read
// sent again at once, the missed reply (if any) written `lateMs` after the
// time-out.
qint64 TimeOutCost(GatewayLink& link, Clock& clock, PtyPeer& peer, int lateMs) {
    QObject owner;
    Timer* deadline = clock.createTimer(&owner);
    const ModbusRequest request = ReadInputRegistersRequest(1, reg::kMbusStatus, 1);
    std::optional<qint64> sentAt, timedOutAt, answeredAt;
    peer.miss(1);
    link.exchange(&owner, request, *deadline, kTimeoutMs, [&](const ExchangeResult& result) {
        sentAt = result.sentAt;
        timedOutAt = clock.elapsed();
    });
    link.exchange(&owner, request, *deadline, kTimeoutMs, [&](const ExchangeResult& result) {
        if (result.end == ExchangeEnd::Reply) answeredAt = clock.elapsed();
    });
    WaitFor([&] { return timedOutAt.has_value(); }, 5000);
    if (lateMs >= 0) {
        WaitFor([] { return false; }, lateMs);
        peer.write(RtuFrame(QByteArray::fromHex("01 04 02 00 07")));
    }
    WaitFor([&] { return answeredAt.has_value(); }, 10000);
    return sentAt && answeredAt ? *answeredAt - *sentAt : -1;
}

struct Latency {
    double bestMs = 1e9;
    double worstMs = 0;
    void add(double ms) {
        bestMs = std::min(bestMs, ms);
        worstMs = std::max(worstMs, ms);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    RealClock clock;
    Log log;
    StatusPanels status;
    NoDialogs dialogs;
    CommTransport serial;
    SocketTransport tcp;
    // Connected before the link's own handler, so it sees the reply first.
    QElapsedTimer arrival;
    QObject::connect(&tcp, &TcpTransport::received, &tcp, [&] { arrival.start(); });
    GatewayLink link(serial, tcp, clock);
    Presenter presenter(log, status);
    presenter.watch(link, dialogs);

    std::printf("An idle event loop here stalls up to %.0f us (turn by turn, 1 s).\n",
                IdleStallMs(0) * 1000);

    // 1. Pacing on the serial line.
    PtyPeer peer(29, RtuFrame(QByteArray::fromHex("01 10 84 08 00 0A")));
    if (!peer.ok()) return 1;
    link.openSerial(SerialSettingsFromTexts(peer.path(), "19200", "Even", "1"));
    if (!link.SerialOpen()) return 1;
    for (const bool fast : {false, true}) {
        const Pacing pacing = MeasurePacing(link, clock, fast, rounds);
        std::printf(
            "29-byte request on a pty at 19200 8E1, fast replies %s (%s), %d rounds: GUI thread "
            "blocked at most %.0f us; frame out in at most %lld ms (11 bits a byte: %.1f ms); "
            "exchange over in at most %lld ms; %d of %d ended with their reply\n",
            fast ? "on" : "off", fast ? "one write" : "2 ms after each byte", rounds,
            pacing.blockUs, static_cast<long long>(pacing.frameOutMs), 29 * 11 * 1000.0 / 19200,
            static_cast<long long>(pacing.exchangeMs), pacing.replies, rounds);
    }
    link.closeSerial();

    // 2. Reply on loopback TCP to its "RCVD:" line and to its exchange's end.
    QTcpServer server;
    ServeTcp(server);
    if (!server.listen(QHostAddress::LocalHost)) return 1;
    link.connectTcp("127.0.0.1", server.serverPort(), 30);
    if (!WaitFor([&] { return link.TcpMode(); }, 5000)) return 1;
    GridModel grid(registersGridLayout().headers);
    GridModel meters(loopsGridLayout().headers);
    GridModel devices(devicesGridLayout().headers);
    QObject owner;
    RegisterView view(link, *clock.createTimer(&owner), *clock.createTimer(&owner));
    presenter.watch(view, grid);
    Timer* deadline = clock.createTimer(&owner);
    for (const bool fast : {false, true}) {
        link.setFastReplies(fast);
        const int count = fast ? rounds : std::min(rounds, kRoundsOff);
        Latency toLine, toEnd;
        for (int i = 0; i < count; ++i) {
            std::optional<double> logged;
            const QMetaObject::Connection watching =
                QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
                    if (line.startsWith("RCVD:")) logged = arrival.nsecsElapsed() / 1e6;
                });
            view.read({1, reg::kMbusStatus, 1, true, kTimeoutMs});
            WaitFor([&] { return logged.has_value(); }, 5000);
            QObject::disconnect(watching);
            toLine.add(logged.value_or(std::nan("")));

            std::optional<double> ended;
            link.exchange(&owner, ReadInputRegistersRequest(1, reg::kMbusStatus, 1), *deadline,
                          kTimeoutMs,
                          [&](const ExchangeResult&) { ended = arrival.nsecsElapsed() / 1e6; });
            WaitFor([&] { return ended.has_value(); }, 5000);
            toEnd.add(ended.value_or(std::nan("")));
        }
        std::printf(
            "reply on loopback TCP, fast replies %s (time-out %d ms), %d rounds: to its RCVD line "
            "%.3f..%.3f ms, to the end of its exchange %.3f..%.3f ms\n",
            fast ? "on" : "off", kTimeoutMs, count, toLine.bestMs, toLine.worstMs, toEnd.bestMs,
            toEnd.worstMs);
    }
    link.disconnectTcp();

    // 3. What a time-out costs the next request on the serial line.
    PtyPeer missing(8, RtuFrame(QByteArray::fromHex("01 04 02 00 0A")),
                    RtuFrame(QByteArray::fromHex("01 03 02 12 34")));
    if (!missing.ok()) return 1;
    link.openSerial(SerialSettingsFromTexts(missing.path(), "19200", "Even", "1"));
    if (!link.SerialOpen()) return 1;
    for (const bool fast : {false, true}) {
        link.setFastReplies(fast);
        const qint64 quiet = TimeOutCost(link, clock, missing, -1);
        const qint64 late = TimeOutCost(link, clock, missing, 100);
        std::printf(
            "one missed reply on a pty at 19200 8E1 (time-out %d ms), fast replies %s: the read "
            "sent again is answered %lld ms after the missed one left with nothing coming, %lld ms "
            "with the missed reply 100 ms late\n",
            kTimeoutMs, fast ? "on" : "off", static_cast<long long>(quiet),
            static_cast<long long>(late));
    }
    return 0;
}
