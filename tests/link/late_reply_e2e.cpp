// Late replies on a real serial line: a gateway stand-in on a
// pseudo-terminal answers every request in order, the first one late, and no
// reply is ever taken for a request it does not answer.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

#include "../serial/pty_pair.h"
#include "base/real_clock.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "sim/modbus_framing.h"

namespace tarnel {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Reads requests of 8 bytes (reads of one register) and answers each with
// its register number as the value, in order, the first one `firstDelay`
// late.
class InOrderGateway {
public:
    InOrderGateway(test::PtyPair& pty, std::chrono::milliseconds firstDelay)
        : pty_(pty), firstDelay_(firstDelay), thread_([this] { run(); }) {}
    ~InOrderGateway() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        QByteArray request;
        std::deque<std::pair<Steady::time_point, QByteArray>> due;
        Steady::time_point last{};
        for (int count = 0; !stop_;) {
            request += pty_.read(static_cast<int>(8 - request.size()), 3);
            if (request.size() == 8) {
                const auto at = std::max(Steady::now() + (count++ == 0 ? firstDelay_ : 0ms), last);
                due.emplace_back(last = at, answer(request));
                request.clear();
            }
            while (!due.empty() && due.front().first <= Steady::now()) {
                pty_.write(due.front().second);
                due.pop_front();
            }
        }
    }
    static QByteArray answer(const QByteArray& request) {
        const sim::Bytes frame(request.begin(), request.end());
        const std::optional<sim::ModbusFrame> parsed = sim::ParseRequest(frame, sim::Framing::Rtu);
        if (!parsed) return {};
        const sim::Bytes pdu{parsed->pdu[0], 2, parsed->pdu[1], parsed->pdu[2]};
        const sim::Bytes reply = sim::ReplyFrame(*parsed, pdu, sim::Framing::Rtu);
        return QByteArray(reinterpret_cast<const char*>(reply.data()),
                          static_cast<qsizetype>(reply.size()));
    }

    test::PtyPair& pty_;
    const std::chrono::milliseconds firstDelay_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Reads registers 1 to 6 one after the other with a 200 ms time-out, the
// first reply 1.2, 2 and 3.5 time-outs late: during the fence, as it waits,
// after its time ran out too.
TEST(LateReplies, AreNeverTakenWhateverTheirDelay) {
    constexpr int kTimeoutMs = 200;
    for (const int lateMs : {240, 400, 700}) {
        RealClock clock;
        CommTransport serial;
        SocketTransport tcp;
        GatewayLink link{serial, tcp, clock};
        test::PtyPair pty;
        link.openSerial(SerialSettingsFromTexts(pty.slavePath(), "19200", "Even", "1"));
        ASSERT_TRUE(link.SerialOpen());
        InOrderGateway gateway(pty, std::chrono::milliseconds(lateMs));
        QObject owner;
        Timer* deadline = clock.createTimer(&owner);
        QList<ExchangeResult> results;
        QEventLoop loop;
        std::function<void()> next = [&] {
            if (results.size() == 6) return loop.quit();
            link.exchange(&owner, ReadInputRegistersRequest(1, results.size() + 1, 1), *deadline,
                          kTimeoutMs, [&](const ExchangeResult& result) {
                              results << result;
                              next();
                          });
        };
        next();
        QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
        loop.exec();
        ASSERT_EQ(results.size(), 6) << lateMs;
        for (int i = 0; i < 6; ++i) {
            if (results[i].end != ExchangeEnd::Reply) continue;
            EXPECT_EQ(static_cast<uint8_t>(results[i].reply.at(4)), i + 1)
                << "register " << i + 1 << " took another's reply, late by " << lateMs;
        }
        EXPECT_EQ(results[5].end, ExchangeEnd::Reply) << lateMs;
    }
}

}  // namespace
}  // namespace tarnel
