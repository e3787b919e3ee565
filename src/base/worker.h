#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <thread>

#include "base/clock.h"

namespace tarnel {

// Runs one function on a thread of its own, announced to the clock so that a
// virtual clock can step it in lockstep with its timers. An exception escaping
// the function ends the run, not the program; its message is kept.
//
// Join (or destroy) a worker only once it can end: on a virtual clock a worker
// blocked in a pause or a gate wait stays there until the owner thread advances
// the clock or opens the gate, so joining it on that thread first would hang.
class Worker {
public:
    explicit Worker(Clock& clock);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts `function` on a new thread; a finished earlier run is joined first.
    // Throws std::logic_error while an earlier run is still going.
    void start(std::function<void()> function);
    void join();
    // True from start() until the function has returned (or thrown).
    bool running() const { return running_.load(); }
    // The message of the exception that ended the last run; empty when it
    // ended normally. Read it after join().
    QString error() const { return error_; }

private:
    void run(const std::function<void()>& function);

    Clock& clock_;
    std::atomic<bool> running_{false};
    QString error_;
    std::thread thread_;
};

}  // namespace tarnel
