#pragma once

#include <QDateTime>
#include <QObject>
#include <memory>

namespace tarnel {

// A timer made by a Clock. Single-shot by default: every operation of the tool
// arms its timer for one wait and re-arms it for the next. timeout() is emitted
// on the thread that created the timer.
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Arms the timer to fire after `msec` (re-arms it if it is running).
    virtual void start(int msec) = 0;
    void start() { start(interval_); }
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    int interval() const { return interval_; }
    void setInterval(int msec) { interval_ = msec; }
    bool isSingleShot() const { return singleShot_; }
    void setSingleShot(bool singleShot) { singleShot_ = singleShot; }

signals:
    void timeout();

private:
    int interval_ = 0;
    bool singleShot_ = true;
};

// A one-shot signal a worker thread waits on. Opened from any thread; stays
// open until reset().
class Gate {
public:
    virtual ~Gate() = default;
    virtual void open() = 0;
    virtual void reset() = 0;
    virtual bool isOpen() const = 0;
    // Blocks until the gate is open or `msec` of the clock's time have passed
    // (msec < 0: no limit). True when it was opened.
    virtual bool wait(int msec = -1) = 0;
};

// The one source of time for the core: timers, pauses and the local date and
// time. The real clock runs on Qt's timers; the virtual one only moves when a
// test advances it.
class Clock {
public:
    virtual ~Clock() = default;

    // A new timer owned by `parent` (Qt parent-child). The clock must outlive it.
    virtual Timer* createTimer(QObject* parent, const QString& objectName = {}) = 0;
    // Blocks the calling thread for `msec` of this clock's time.
    virtual void sleep(int msec) = 0;
    // The local date and time.
    virtual QDateTime now() const = 0;
    // Milliseconds since the clock was made; monotonic.
    virtual qint64 elapsed() const = 0;
    // The same in nanoseconds, for waits shorter than a millisecond to add up
    // right (the silence between serial frames).
    virtual qint64 elapsedNs() const { return elapsed() * 1'000'000; }
    // A new gate that waits in this clock's time. The clock must outlive it.
    virtual std::unique_ptr<Gate> createGate() = 0;
    // A worker thread that waits on this clock: workerStarted() is called on the
    // starting thread before the worker runs, workerEnded() by the worker as its
    // very last use of the clock.
    virtual void workerStarted() {}
    virtual void workerEnded() {}
};

}  // namespace tarnel
