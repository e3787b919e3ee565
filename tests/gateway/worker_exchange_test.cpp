// A worker thread's blocking exchanges share the link with the window's own
// operations: each reply reaches the one who asked, and STOP ends a worker's
// wait at once.
#include <gtest/gtest.h>

#include "base/worker.h"
#include "rig.h"
#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;
using test::Rig;

TEST(WorkerExchanges, BesideTheAutomaticReadEveryReplyReachesItsAsker) {
    for (const bool tcp : {false, true}) {
        Rig rig(tcp, true);
        QObject::connect(&rig.view, &RegisterView::automaticRead, [&rig] {
            rig.view.read({1, 1, 125, true, 600});
        });
        rig.view.setAutomaticPeriod(1);
        rig.view.setAutomatic(true);
        QList<ExchangeResult> results;
        Worker worker(rig.clock);
        worker.start([&] {
            for (int i = 0; i < 40; ++i) {
                results << rig.link.exchangeBlocking(ReadHoldingRegistersRequest(1, 55400, 2), 600);
                rig.clock.sleep(100);
            }
        });
        while (worker.running())
            rig.clock.advance(10);
        worker.join();
        rig.view.setAutomatic(false);
        rig.clock.runUntilIdle(10'000);

        ASSERT_EQ(results.size(), 40);
        for (const ExchangeResult& result : results) {
            EXPECT_EQ(result.end, ExchangeEnd::Reply);
            // The gateway's IP address, 192.168.1.3, in a function 3 reply.
            EXPECT_EQ(result.reply.first(7), bytes("01 03 04 C0 A8 01 03"));
        }
        const QStringList received = rig.log.lines().filter("RCVD:");
        EXPECT_GE(received.size(), 3);
        for (const QString& line : received)
            EXPECT_TRUE(line.startsWith("RCVD:01 04 FA ")) << line.left(20).toStdString();
    }
}

TEST(WorkerExchanges, StopEndsABlockingExchangeAtOnce) {
    Rig rig(false, true);
    rig.addFault(sim::FaultKind::NoReply);
    std::optional<ExchangeResult> result;
    Worker worker(rig.clock);
    worker.start(
        [&] { result = rig.link.exchangeBlocking(ReadHoldingRegistersRequest(1, 3, 1), 20'000); });
    rig.clock.advance(100);
    rig.link.cancelBlocking();
    rig.clock.settle();
    worker.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->end, ExchangeEnd::Cancelled);
    EXPECT_EQ(rig.clock.elapsed(), 100);
}

}  // namespace
}  // namespace tarnel
