#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>

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

}  // namespace tarnel
