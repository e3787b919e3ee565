#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "base/clock.h"

namespace tarnel {

// The one way anything a worker thread produces (log lines, grid rows, control
// states, status texts) reaches the thread that owns it: `call` runs on the
// thread of `context`, at once when already there, otherwise queued to it.
// Queued calls from one thread run in the order they were made; a call still
// queued when `context` is destroyed is dropped. The call runs later and
// elsewhere, so it must own (capture by value) everything it uses.
inline void RunOnOwner(QObject* context, std::function<void()> call) {
    Q_ASSERT(context);
    if (QThread::currentThread() == context->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
}

// One result handed from the owner's thread to a worker that waits for it.
// The first delivery counts (the exchange's end or a stop from any thread);
// a later one is dropped. Shared by both sides, so neither outlives it.
template <typename Result>
class Handoff {
public:
    explicit Handoff(Clock& clock) : gate_(clock.createGate()) {}

    void deliver(const Result& result) {
        {
            std::lock_guard lock(mutex_);
            if (delivered_) return;
            delivered_ = true;
            result_ = result;
        }
        gate_->open();
    }
    // The result, or nothing when none came within `msec` of the clock's time.
    std::optional<Result> wait(int msec) {
        if (!gate_->wait(msec)) return std::nullopt;
        std::lock_guard lock(mutex_);
        return result_;
    }

private:
    std::mutex mutex_;
    bool delivered_ = false;
    Result result_{};
    std::unique_ptr<Gate> gate_;
};

}  // namespace tarnel
