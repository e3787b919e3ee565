#pragma once

#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/clock.h"

namespace tarnel {

class VirtualTimer;
class VirtualGate;

// Time for tests: it stands still until advance() moves it. Timers fire inside
// advance(), on the calling thread, in order of their due time (equal due times
// in the order they were armed); a timer armed by a handler fires within the
// same advance when it falls due. A sleep() or Gate::wait() on another thread
// blocks until the clock has been advanced past its end (or the gate opened).
// On the thread that made the clock (the owner) nothing blocks: a sleep just
// moves time on, firing nothing; a gate wait returns at once when the gate is
// open, passes its limit like a sleep, and without a limit returns false.
//
// Workers (threads announced with workerStarted()) are stepped in lockstep:
// a worker runs from its start, or from when its pause ends or its gate opens,
// until it blocks again on this clock or ends. advance() stops at every due
// time (pauses and gate timeouts before timers due at the same time), wakes or
// fires what is due, and waits until no worker runs before it moves on,
// delivering the calls posted to the owner thread meanwhile (a worker may be
// waiting on one). On a clock that never had a worker none of this happens, so
// advance() behaves exactly as it always did.
//
// Once a worker is registered, every thread other than the owner that waits on
// the clock must be one too: the clock tells a worker from any other thread
// only by counting.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(10, 0)));
    ~VirtualClock() override;

    Timer* createTimer(QObject* parent, const QString& objectName = {}) override;
    void sleep(int msec) override;
    QDateTime now() const override;
    qint64 elapsed() const override;
    std::unique_ptr<Gate> createGate() override;
    void workerStarted() override;
    void workerEnded() override;

    void advance(qint64 msec);
    // Advances from one due time (timer, pause, gate timeout) to the next until
    // nothing is due, or until `limitMsec` have passed. Returns the time advanced.
    qint64 runUntilIdle(qint64 limitMsec = 3'600'000);
    // Waits, without moving time, until no worker runs, delivering the calls
    // posted to the owner thread meanwhile: after a gate was opened or a
    // worker started outside advance(). Call it on the owner thread.
    void settle();
    int armedTimers() const;
    // Threads blocked in sleep() right now.
    int sleepingThreads() const;

private:
    friend class VirtualTimer;
    friend class VirtualGate;
    struct Due {
        qint64 at;
        quint64 order;
    };
    // A thread blocked in sleep() or Gate::wait(); lives on that thread's stack.
    struct Waiter {
        qint64 until;             // kNoLimit for a gate wait without a limit
        const VirtualGate* gate;  // nullptr for a sleep
        bool counted;             // a running worker: it runs again once woken
        bool woken = false;
        bool opened = false;
    };
    static constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();

    void arm(VirtualTimer* timer, int msec);
    void disarm(VirtualTimer* timer);
    bool isArmed(const VirtualTimer* timer) const;
    void openGate(VirtualGate& gate);
    void resetGate(VirtualGate& gate);
    bool isGateOpen(const VirtualGate& gate) const;
    bool waitGate(VirtualGate& gate, int msec);

    // The members below expect mutex_ to be held.
    std::map<VirtualTimer*, Due>::iterator earliestTimer();
    std::optional<qint64> nextDeadline() const;
    // Moves time on to `at` (never back) and wakes the waiters due by then.
    void moveTo(qint64 at);
    void wake(Waiter& waiter, bool opened);
    // Blocks the calling (non-owner) thread until `waiter` is woken. True when
    // it was woken by its gate opening.
    bool block(std::unique_lock<std::mutex>& lock, Waiter waiter);
    void settle(std::unique_lock<std::mutex>& lock);
    void deliverPostedEvents(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // waiters: one of them was woken
    std::condition_variable settled_;  // settle(): a worker blocked or ended
    qint64 now_ = 0;
    quint64 armOrder_ = 0;
    std::map<VirtualTimer*, Due> armed_;
    std::vector<Waiter*> waiters_;
    int workers_ = 0;
    int running_ = 0;
    bool hadWorkers_ = false;  // from then on, settling delivers posted events
    quint64 progress_ = 0;     // counts workers starting, waking, blocking and ending
    QDateTime start_;
    std::thread::id owner_;
};

}  // namespace tarnel
