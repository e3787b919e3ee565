// Workers on the virtual clock: they move in lockstep with advance(), so these
// tests never wait in real time for a thread.
#include <gtest/gtest.h>

#include <QObject>
#include <QThread>
#include <numeric>
#include <optional>
#include <vector>

#include "base/owner_thread.h"
#include "base/virtual_clock.h"
#include "base/worker.h"

namespace tarnel {
namespace {

// What a worker records is read by the test only after advance() or settle()
// has returned, i.e. after the worker blocked or ended on the clock's mutex.
struct VirtualWorkerTest : ::testing::Test {
    VirtualClock clock;
    QObject owner;
    std::unique_ptr<Gate> gate = clock.createGate();
    QStringList events;
    Worker worker{clock};

    void note(const QString& what) {
        events << QStringLiteral("%1@%2").arg(what).arg(clock.elapsed());
    }
};

TEST_F(VirtualWorkerTest, SleepsMoveInStepWithAdvance) {
    std::vector<qint64> woke;
    worker.start([&] {
        for (int i = 0; i < 5; ++i) {
            clock.sleep(100);
            woke.push_back(clock.elapsed());
        }
    });
    const std::vector<std::vector<qint64>> afterEachAdvance = {
        {100}, {100, 200, 300}, {100, 200, 300, 400}, {100, 200, 300, 400, 500}};
    for (const auto& expected : afterEachAdvance) {
        clock.advance(150);
        EXPECT_EQ(woke, expected) << "at " << clock.elapsed();
    }
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(clock.elapsed(), 600);
}

TEST_F(VirtualWorkerTest, OpenFromTheTestReleasesAGateWaitAndSettleWaitsForTheNextOne) {
    int passes = 0;
    worker.start([&] {
        for (int i = 0; i < 3; ++i) {
            gate->wait();
            gate->reset();
            ++passes;
        }
    });
    clock.settle();
    EXPECT_EQ(passes, 0);
    for (int expected = 1; expected <= 3; ++expected) {
        gate->open();
        clock.settle();
        EXPECT_EQ(passes, expected);
        EXPECT_FALSE(gate->isOpen());  // reset by the worker before it waits again
    }
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(clock.elapsed(), 0);
}

// The blocking exchange: the worker hands a request to the owner thread and
// waits on a gate the owner opens when the request has been dealt with.
TEST_F(VirtualWorkerTest, ExchangeThroughTheOwnerThreadEndsWithinOneSettle) {
    const std::vector<std::function<void(VirtualClock&)>> drivers = {
        [](VirtualClock& c) { c.advance(0); },
        [](VirtualClock& c) { c.settle(); },
    };
    for (const auto& drive : drivers) {
        std::vector<int> answers;
        bool onOwnerThread = true;
        worker.start([&] {
            for (int request = 1; request <= 3; ++request) {
                gate->reset();
                RunOnOwner(&owner, [&, request] {
                    onOwnerThread = onOwnerThread && QThread::currentThread() == owner.thread();
                    answers.push_back(request * 10);
                    gate->open();
                });
                ASSERT_TRUE(gate->wait());
            }
        });
        drive(clock);
        EXPECT_FALSE(worker.running());
        worker.join();
        EXPECT_EQ(answers, (std::vector<int>{10, 20, 30}));
        EXPECT_TRUE(onOwnerThread);
        EXPECT_TRUE(worker.error().isEmpty()) << worker.error().toStdString();
    }
    EXPECT_EQ(clock.elapsed(), 0);
}

TEST_F(VirtualWorkerTest, ExchangeAnsweredByATimerEndsAtTheTimersTime) {
    Timer* reply = clock.createTimer(&owner, "reply");
    QObject::connect(reply, &Timer::timeout, [&] { gate->open(); });
    std::optional<qint64> answeredAt;
    worker.start([&] {
        RunOnOwner(&owner, [&] { reply->start(50); });
        gate->wait();
        answeredAt = clock.elapsed();
    });
    clock.advance(49);
    EXPECT_FALSE(answeredAt);
    clock.advance(1);
    EXPECT_EQ(answeredAt, 50);
    EXPECT_FALSE(worker.running());
}

TEST_F(VirtualWorkerTest, LimitedGateWaitEndsAtItsTimeOrWhenOpened) {
    struct Case {
        int limit;
        qint64 openAt;  // -1: never
        bool opened;
        qint64 endsAt;
    };
    // At the same time the timeout comes before the opening timer.
    const Case cases[] = {
        {250, -1, false, 250},  {250, 100, true, 100}, {250, 249, true, 249},
        {250, 250, false, 250}, {0, -1, false, 0},
    };
    for (const Case& c : cases) {
        VirtualClock local;
        std::unique_ptr<Gate> localGate = local.createGate();
        QObject timers;
        Timer* opener = local.createTimer(&timers);
        QObject::connect(opener, &Timer::timeout, [&] { localGate->open(); });
        if (c.openAt >= 0) opener->start(static_cast<int>(c.openAt));
        std::optional<bool> result;
        qint64 endedAt = -1;
        Worker waiter(local);
        waiter.start([&] {
            result = localGate->wait(c.limit);
            endedAt = local.elapsed();
        });
        local.settle();
        if (c.endsAt > 0) {
            local.advance(c.endsAt - 1);
            EXPECT_FALSE(result) << "limit " << c.limit << ", opened at " << c.openAt;
            local.advance(1);
        }
        EXPECT_EQ(result, c.opened) << "limit " << c.limit << ", opened at " << c.openAt;
        EXPECT_EQ(endedAt, c.endsAt) << "limit " << c.limit << ", opened at " << c.openAt;
    }
}

TEST_F(VirtualWorkerTest, RunUntilIdleRunsAWorkersSleepsAndTimersInDueOrder) {
    Timer* timer = clock.createTimer(&owner);
    QObject::connect(timer, &Timer::timeout, [&] { note("timer"); });
    timer->start(250);
    worker.start([&] {
        for (const int pause : {100, 200, 300}) {
            clock.sleep(pause);
            note("sleep");
        }
    });
    EXPECT_EQ(clock.runUntilIdle(), 600);
    EXPECT_EQ(events, (QStringList{"sleep@100", "timer@250", "sleep@300", "sleep@600"}));
    EXPECT_FALSE(worker.running());
}

TEST_F(VirtualWorkerTest, RunUntilIdleStopsAtAnUnlimitedGateWait) {
    worker.start([&] {
        clock.sleep(100);
        gate->wait();
        note("opened");
    });
    EXPECT_EQ(clock.runUntilIdle(), 100);
    EXPECT_TRUE(worker.running());
    gate->open();
    clock.settle();
    EXPECT_EQ(events, QStringList{"opened@100"});
    EXPECT_FALSE(worker.running());
}

TEST_F(VirtualWorkerTest, GateWaitOnTheOwnerThreadNeverBlocks) {
    struct Case {
        bool open;
        int limit;
        bool result;
        qint64 elapsed;
    };
    // Closed, a limited wait passes its time like sleep(); an unlimited one
    // gives up at once, as nothing could open the gate.
    const Case cases[] = {
        {true, -1, true, 0},  {true, 500, true, 0},  {false, 500, false, 500},
        {false, 0, false, 0}, {false, -1, false, 0},
    };
    for (const Case& c : cases) {
        VirtualClock local;
        std::unique_ptr<Gate> localGate = local.createGate();
        if (c.open) localGate->open();
        EXPECT_EQ(localGate->wait(c.limit), c.result) << "open " << c.open << ", limit " << c.limit;
        EXPECT_EQ(local.elapsed(), c.elapsed) << "open " << c.open << ", limit " << c.limit;
    }
}

TEST_F(VirtualWorkerTest, CallsFromAWorkerArriveInOrderOnTheOwnerThread) {
    std::vector<int> arrived;
    worker.start([&] {
        for (int i = 0; i < 100; ++i)
            RunOnOwner(&owner, [&arrived, i] { arrived.push_back(i); });
    });
    clock.settle();
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(arrived, expected);
}

TEST_F(VirtualWorkerTest, ACallQueuedForAContextThatIsGoneIsDropped) {
    auto context = std::make_unique<QObject>();
    bool ran = false;
    worker.start([&, target = context.get()] { RunOnOwner(target, [&ran] { ran = true; }); });
    worker.join();  // it never blocks on the clock, so joining cannot hang
    context.reset();
    clock.settle();
    EXPECT_FALSE(ran);
}

TEST_F(VirtualWorkerTest, RunOnOwnerOnTheOwnerThreadRunsAtOnce) {
    bool ran = false;
    RunOnOwner(&owner, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tarnel
