#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/clock.h"

namespace tarnel {

class VirtualTimer;

// Time for tests: it stands still until advance() moves it. Timers fire inside
// advance(), on the calling thread, in order of their due time (equal due times
// in the order they were armed); a timer armed by a handler fires within the
// same advance when it falls due. A sleep() on another thread (a worker) blocks
// until the clock has been advanced past its end; a sleep() on the thread that
// made the clock just moves time on, firing nothing.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(10, 0)));
    ~VirtualClock() override;

    Timer* createTimer(QObject* parent, const QString& objectName = {}) override;
    void sleep(int msec) override;
    QDateTime now() const override;
    qint64 elapsed() const override;

    void advance(qint64 msec);
    // Advances from one due timer to the next until none is armed, or until
    // `limitMsec` have passed. Returns the time advanced.
    qint64 runUntilIdle(qint64 limitMsec = 3'600'000);
    int armedTimers() const;
    // Threads blocked in sleep() right now.
    int sleepingThreads() const;

private:
    friend class VirtualTimer;
    struct Due {
        qint64 at;
        quint64 order;
    };

    void arm(VirtualTimer* timer, int msec);
    void disarm(VirtualTimer* timer);
    bool isArmed(const VirtualTimer* timer) const;
    // Takes the earliest timer due at or before `limit`, re-arming a periodic
    // one; nullptr when none is due. Wakes sleepers whose time has come.
    VirtualTimer* takeDue(qint64 limit);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    qint64 now_ = 0;
    quint64 armOrder_ = 0;
    std::map<VirtualTimer*, Due> armed_;
    std::multiset<qint64> sleepers_;
    QDateTime start_;
    std::thread::id owner_;
};

}  // namespace tarnel
