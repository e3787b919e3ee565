#include "base/real_clock.h"

#include <gtest/gtest.h>

#include <QTest>

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

}  // namespace
}  // namespace tarnel
