#include "serial/owner_hand_over.h"

#include <QtGlobal>

namespace tarnel {

OwnerHandOver::OwnerHandOver(QObject* owner, std::function<void(const std::exception&)> onException)
    : owner_(owner), onException_(std::move(onException)), state_(std::make_shared<State>()) {}

bool OwnerHandOver::Run(std::function<void()> call) {
    std::shared_ptr<State> state;
    {
        std::lock_guard guard(stateMutex_);
        state = state_;
    }
    auto ran = std::make_shared<bool>(false);
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled) return false;
    }
    // Everything the queued call needs is copied into it: after a Cancel it
    // may run (and do nothing) when the worker is long gone.
    auto onException = onException_;
    QMetaObject::invokeMethod(
        owner_,
        [state, ran, call = std::move(call), onException] {
            {
                std::lock_guard lock(state->mutex);
                if (state->cancelled) return;
            }
            try {
                call();
            } catch (const std::exception& error) {
                if (onException)
                    onException(error);
                else
                    qWarning("serial port event handler failed: %s", error.what());
            }
            {
                std::lock_guard lock(state->mutex);
                *ran = true;
            }
            state->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(state->mutex);
    state->done.wait(lock, [&] { return *ran || state->cancelled; });
    return *ran;
}

void OwnerHandOver::Cancel() {
    std::shared_ptr<State> state;
    {
        std::lock_guard guard(stateMutex_);
        state = state_;
    }
    {
        std::lock_guard lock(state->mutex);
        state->cancelled = true;
    }
    state->done.notify_all();
}

void OwnerHandOver::Reset() {
    std::lock_guard guard(stateMutex_);
    state_ = std::make_shared<State>();
}

}  // namespace tarnel
