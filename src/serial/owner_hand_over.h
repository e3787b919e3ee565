#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace tarnel {

// Lets a worker thread run a call on the thread of `owner` and wait until it
// has run. Cancel() (on the owner's thread, before it joins the workers)
// releases every waiting worker and drops calls not yet run, so that closing
// never deadlocks on a hand-over in flight, even from inside a handed-over
// call. A call that throws is reported through `onException` and the worker
// goes on.
class OwnerHandOver {
public:
    explicit OwnerHandOver(QObject* owner,
                           std::function<void(const std::exception&)> onException = {});

    // True when the call ran; false when cancelled before it could.
    bool Run(std::function<void()> call);
    void Cancel();
    // Accepts calls again after a Cancel (a port that is opened anew).
    void Reset();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable done;
        bool cancelled = false;
    };

    QObject* owner_;  // outlives the workers: it joins them before it goes
    std::function<void(const std::exception&)> onException_;
    std::shared_ptr<State> state_;
    std::mutex stateMutex_;  // guards the state_ pointer against Reset
};

}  // namespace tarnel
