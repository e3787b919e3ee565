#include "base/worker.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/real_clock.h"
#include "base/virtual_clock.h"

namespace tarnel {
namespace {

TEST(Worker, RunsTheFunctionOnAThreadOfItsOwn) {
    RealClock clock;
    Worker worker(clock);
    std::thread::id ranOn;
    worker.start([&] { ranOn = std::this_thread::get_id(); });
    worker.join();
    EXPECT_NE(ranOn, std::thread::id());
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(worker.running());
    EXPECT_TRUE(worker.error().isEmpty());
}

TEST(Worker, KeepsTheMessageOfAnEscapingExceptionUntilTheNextRun) {
    struct Case {
        std::function<void()> function;
        QString error;
    };
    const Case cases[] = {
        {[] { throw std::runtime_error("port closed"); }, "port closed"},
        {[] { throw 42; }, "unknown exception"},
        {[] {}, ""},  // a new run forgets the last one's error
    };
    VirtualClock clock;
    Worker worker(clock);
    for (const Case& c : cases) {
        worker.start(c.function);
        worker.join();
        EXPECT_EQ(worker.error(), c.error);
        EXPECT_FALSE(worker.running());
    }
    // Every run told the clock it ended: a settle has nothing to wait for.
    clock.settle();
}

TEST(Worker, RunningUntilTheFunctionReturnsAndStartRefusedMeanwhile) {
    VirtualClock clock;
    std::unique_ptr<Gate> gate = clock.createGate();
    Worker worker(clock);
    worker.start([&] { gate->wait(); });
    clock.settle();
    EXPECT_TRUE(worker.running());
    EXPECT_THROW(worker.start([] {}), std::logic_error);
    gate->open();
    clock.settle();
    EXPECT_FALSE(worker.running());
}

TEST(Worker, DestructorJoins) {
    RealClock clock;
    std::unique_ptr<Gate> gate = clock.createGate();
    bool finished = false;
    {
        Worker worker(clock);
        worker.start([&] {
            gate->wait();
            finished = true;
        });
        gate->open();
    }
    EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace tarnel
