#include "base/real_clock.h"

#include <QThread>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tarnel {
namespace {

class RealTimer final : public Timer {
public:
    explicit RealTimer(QObject* parent) : Timer(parent), timer_(this) {
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Timer::timeout);
    }
    void start(int msec) override {
        setInterval(msec);
        timer_.setSingleShot(isSingleShot());
        timer_.start(msec);
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

class RealGate final : public Gate {
public:
    // The waiter is notified under the lock: once it is released it may
    // destroy the gate while open() would still be touching it.
    void open() override {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    void reset() override {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    bool isOpen() const override {
        std::lock_guard lock(mutex_);
        return open_;
    }
    bool wait(int msec) override {
        std::unique_lock lock(mutex_);
        const auto isOpen = [this] { return open_; };
        if (msec < 0) {
            opened_.wait(lock, isOpen);
            return true;
        }
        // A steady deadline: setting the system time must not stretch a timeout.
        return opened_.wait_until(
            lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(msec), isOpen);
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

}  // namespace

RealClock::RealClock() {
    started_.start();
}

Timer* RealClock::createTimer(QObject* parent, const QString& objectName) {
    auto* timer = new RealTimer(parent);
    timer->setObjectName(objectName);
    return timer;
}

void RealClock::sleep(int msec) {
    if (msec > 0) QThread::msleep(static_cast<unsigned long>(msec));
}

QDateTime RealClock::now() const {
    return QDateTime::currentDateTime();
}

qint64 RealClock::elapsed() const {
    return started_.elapsed();
}

qint64 RealClock::elapsedNs() const {
    return started_.nsecsElapsed();
}

std::unique_ptr<Gate> RealClock::createGate() {
    return std::make_unique<RealGate>();
}

}  // namespace tarnel
