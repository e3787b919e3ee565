#include "base/real_clock.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <thread>

namespace tarnel {
namespace {

TEST(RealClock, SingleShotTimerFiresOnceAndIsThenInactive) {
    RealClock clock;
    QObject owner;
    Timer* timer = clock.createTimer(&owner, "Timer_modbus");
    EXPECT_EQ(timer->objectName(), "Timer_modbus");
    EXPECT_EQ(timer->parent(), &owner);
    int fired = 0;
    QObject::connect(timer, &Timer::timeout, [&] { ++fired; });
    timer->start(5);
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired == 1; }, 5000));
    EXPECT_FALSE(timer->isActive());
    QTest::qWait(20);
    EXPECT_EQ(fired, 1);
}

TEST(RealClock, PeriodicTimerKeepsFiring) {
    RealClock clock;
    QObject owner;
    Timer* timer = clock.createTimer(&owner);
    timer->setSingleShot(false);
    int fired = 0;
    QObject::connect(timer, &Timer::timeout, [&] { ++fired; });
    timer->start(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 3; }, 5000));
    timer->stop();
    EXPECT_FALSE(timer->isActive());
}

TEST(RealClock, GateStaysOpenUntilReset) {
    RealClock clock;
    std::unique_ptr<Gate> gate = clock.createGate();
    EXPECT_FALSE(gate->isOpen());
    EXPECT_FALSE(gate->wait(0));
    gate->open();
    EXPECT_TRUE(gate->isOpen());
    EXPECT_TRUE(gate->wait());
    EXPECT_TRUE(gate->wait(0));
    gate->reset();
    EXPECT_FALSE(gate->isOpen());
    EXPECT_FALSE(gate->wait(0));
}

TEST(RealClock, GateWaitTimesOutAfterItsLimit) {
    RealClock clock;
    std::unique_ptr<Gate> gate = clock.createGate();
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(gate->wait(30));
    EXPECT_GE(waited.elapsed(), 30);
}

TEST(RealClock, GateOpenedOnAnotherThreadReleasesTheWait) {
    for (const int limit : {-1, 60'000}) {
        RealClock clock;
        std::unique_ptr<Gate> gate = clock.createGate();
        std::thread opener([&] { gate->open(); });
        EXPECT_TRUE(gate->wait(limit)) << "limit " << limit;
        opener.join();
    }
}

}  // namespace
}  // namespace tarnel
