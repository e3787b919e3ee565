#pragma once

#include <QElapsedTimer>

#include "base/clock.h"

namespace tarnel {

// Wall-clock time, Qt's precise timers, and real pauses and gates.
class RealClock final : public Clock {
public:
    RealClock();
    Timer* createTimer(QObject* parent, const QString& objectName = {}) override;
    void sleep(int msec) override;
    QDateTime now() const override;
    qint64 elapsed() const override;
    qint64 elapsedNs() const override;
    std::unique_ptr<Gate> createGate() override;

private:
    QElapsedTimer started_;
};

}  // namespace tarnel
