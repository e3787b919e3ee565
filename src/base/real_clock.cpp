#include "base/real_clock.h"

#include <QThread>
#include <QTimer>

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

}  // namespace tarnel
