#include "base/virtual_clock.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QTest>
#include <atomic>
#include <thread>

namespace tarnel {
namespace {

struct VirtualClockTest : ::testing::Test {
    VirtualClock clock;
    QObject owner;
    QStringList fired;

    Timer* timer(const QString& name) {
        Timer* t = clock.createTimer(&owner, name);
        QObject::connect(t, &Timer::timeout, [this, t] {
            fired << QStringLiteral("%1@%2").arg(t->objectName()).arg(clock.elapsed());
        });
        return t;
    }
};

TEST_F(VirtualClockTest, TimersFireInDueOrderAndEqualTimesInArmingOrder) {
    Timer* late = timer("late");
    Timer* first = timer("first");
    Timer* second = timer("second");
    late->start(300);
    first->start(100);
    second->start(100);
    clock.advance(99);
    EXPECT_TRUE(fired.isEmpty());
    clock.advance(1000);
    EXPECT_EQ(fired, (QStringList{"first@100", "second@100", "late@300"}));
    EXPECT_EQ(clock.elapsed(), 1099);
    EXPECT_FALSE(late->isActive());
}

TEST_F(VirtualClockTest, TimerArmedByAHandlerFiresWithinTheSameAdvance) {
    Timer* request = timer("request");
    Timer* reply = timer("reply");
    QObject::connect(request, &Timer::timeout, [reply] { reply->start(600); });
    request->start(1000);
    clock.advance(1599);
    EXPECT_EQ(fired, (QStringList{"request@1000"}));
    clock.advance(1);
    EXPECT_EQ(fired, (QStringList{"request@1000", "reply@1600"}));
}

TEST_F(VirtualClockTest, StopAndRestartCountFromNow) {
    Timer* t = timer("t");
    t->start(100);
    clock.advance(50);
    t->stop();
    EXPECT_FALSE(t->isActive());
    clock.advance(100);
    EXPECT_TRUE(fired.isEmpty());
    t->start(100);
    clock.advance(60);
    t->start();  // re-arm with the same interval
    clock.advance(100);
    EXPECT_EQ(fired, (QStringList{"t@310"}));
}

TEST_F(VirtualClockTest, PeriodicTimerFiresEveryIntervalUntilStopped) {
    Timer* t = timer("auto");
    t->setSingleShot(false);
    t->start(1000);
    clock.advance(3500);
    EXPECT_EQ(fired, (QStringList{"auto@1000", "auto@2000", "auto@3000"}));
    EXPECT_TRUE(t->isActive());
    t->stop();
    clock.advance(5000);
    EXPECT_EQ(fired.size(), 3);
}

TEST_F(VirtualClockTest, DestroyedTimerNeverFires) {
    Timer* t = timer("gone");
    t->start(10);
    delete t;
    EXPECT_EQ(clock.armedTimers(), 0);
    clock.advance(100);
    EXPECT_TRUE(fired.isEmpty());
}

TEST_F(VirtualClockTest, RunUntilIdleFollowsAChainOfTimersAndStopsAtTheLimit) {
    Timer* t = timer("step");
    int steps = 0;
    QObject::connect(t, &Timer::timeout, [&] {
        if (++steps < 5) t->start(250);
    });
    t->start(250);
    EXPECT_EQ(clock.runUntilIdle(), 1250);
    EXPECT_EQ(steps, 5);

    Timer* endless = timer("endless");
    endless->setSingleShot(false);
    endless->start(100);
    EXPECT_EQ(clock.runUntilIdle(1000), 1000);
}

TEST_F(VirtualClockTest, DateAndTimeMoveWithTheClock) {
    VirtualClock dated(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
    dated.advance(1500);
    EXPECT_EQ(dated.now(), QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 500)));
}

TEST_F(VirtualClockTest, SleepOnTheOwnerThreadMovesTimeAndFiresNothing) {
    Timer* t = timer("t");
    t->start(10);
    clock.sleep(30);
    EXPECT_EQ(clock.elapsed(), 30);
    EXPECT_TRUE(fired.isEmpty());
    clock.advance(0);  // overdue timers fire at the next advance
    EXPECT_EQ(fired, (QStringList{"t@30"}));
}

TEST_F(VirtualClockTest, WorkerSleepsUntilTheClockIsAdvancedPastItsPause) {
    std::atomic<int> steps{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            clock.sleep(10);
            ++steps;
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.sleepingThreads() == 1; }, 5000));
    clock.advance(9);
    EXPECT_EQ(steps.load(), 0);
    for (int expected = 1; expected <= 3; ++expected) {
        clock.advance(1);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return steps.load() == expected && (expected == 3 || clock.sleepingThreads() == 1);
            },
            5000));
        if (expected < 3) clock.advance(9);
    }
    worker.join();
    EXPECT_EQ(clock.sleepingThreads(), 0);
}

}  // namespace
}  // namespace tarnel
