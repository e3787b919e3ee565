#include "base/virtual_clock.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>

namespace tarnel {
namespace {

// A worker that neither blocks on the clock nor ends for this long (real time)
// is a bug in the test or in the code under test: a clear abort beats a hang.
constexpr auto kStuckWorker = std::chrono::seconds(10);
// How often a running worker's calls to the owner thread are delivered: it may
// wait for one without blocking on the clock.
constexpr auto kDeliveryInterval = std::chrono::milliseconds(1);

}  // namespace

class VirtualTimer final : public Timer {
public:
    VirtualTimer(VirtualClock& clock, QObject* parent) : Timer(parent), clock_(clock) {}
    ~VirtualTimer() override { clock_.disarm(this); }

    void start(int msec) override {
        setInterval(msec);
        clock_.arm(this, msec);
    }
    void stop() override { clock_.disarm(this); }
    bool isActive() const override { return clock_.isArmed(this); }
    void fire() { emit timeout(); }

private:
    VirtualClock& clock_;
};

class VirtualGate final : public Gate {
public:
    explicit VirtualGate(VirtualClock& clock) : clock_(clock) {}

    void open() override { clock_.openGate(*this); }
    void reset() override { clock_.resetGate(*this); }
    bool isOpen() const override { return clock_.isGateOpen(*this); }
    bool wait(int msec) override { return clock_.waitGate(*this, msec); }

private:
    friend class VirtualClock;
    VirtualClock& clock_;
    bool open_ = false;  // guarded by the clock's mutex
};

VirtualClock::VirtualClock(QDateTime start)
    : start_(std::move(start)), owner_(std::this_thread::get_id()) {}

VirtualClock::~VirtualClock() = default;

Timer* VirtualClock::createTimer(QObject* parent, const QString& objectName) {
    auto* timer = new VirtualTimer(*this, parent);
    timer->setObjectName(objectName);
    return timer;
}

void VirtualClock::sleep(int msec) {
    std::unique_lock lock(mutex_);
    const qint64 until = now_ + std::max(msec, 0);
    if (std::this_thread::get_id() == owner_) {
        moveTo(until);
        return;
    }
    if (until > now_) block(lock, Waiter{until, nullptr, false});
}

QDateTime VirtualClock::now() const {
    return start_.addMSecs(elapsed());
}

qint64 VirtualClock::elapsed() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::unique_ptr<Gate> VirtualClock::createGate() {
    return std::make_unique<VirtualGate>(*this);
}

void VirtualClock::workerStarted() {
    std::lock_guard lock(mutex_);
    ++workers_;
    ++running_;
    ++progress_;
    hadWorkers_ = true;
}

void VirtualClock::workerEnded() {
    // Notified under the lock: once settle() sees the worker gone, the test may
    // destroy the clock.
    std::lock_guard lock(mutex_);
    Q_ASSERT(workers_ > 0 && running_ > 0);
    --workers_;
    --running_;
    ++progress_;
    settled_.notify_all();
}

void VirtualClock::advance(qint64 msec) {
    std::unique_lock lock(mutex_);
    const qint64 target = now_ + std::max<qint64>(msec, 0);
    while (true) {
        settle(lock);
        const auto timer = earliestTimer();
        const qint64 timerAt = timer == armed_.end() ? target : std::min(timer->second.at, target);
        // Pauses and gate timeouts due by the next timer end first, at their
        // own time, and their workers run before the timer fires.
        if (const auto deadline = nextDeadline(); deadline && *deadline <= timerAt) {
            moveTo(*deadline);
            continue;
        }
        if (timer == armed_.end() || timer->second.at > target) break;
        VirtualTimer* due = timer->first;
        moveTo(timer->second.at);
        if (due->isSingleShot())
            armed_.erase(timer);
        else
            timer->second = Due{now_ + std::max(due->interval(), 1), armOrder_++};
        lock.unlock();
        due->fire();
        lock.lock();
    }
    moveTo(target);
}

qint64 VirtualClock::runUntilIdle(qint64 limitMsec) {
    std::unique_lock lock(mutex_);
    const qint64 begin = now_;
    const qint64 limit = begin + limitMsec;
    while (true) {
        settle(lock);
        std::optional<qint64> next = nextDeadline();
        if (const auto timer = earliestTimer(); timer != armed_.end())
            next = std::min(next.value_or(kNoLimit), timer->second.at);
        if (!next || *next > limit) break;
        const qint64 step = std::max<qint64>(*next - now_, 0);
        lock.unlock();
        advance(step);
        lock.lock();
    }
    return now_ - begin;
}

void VirtualClock::settle() {
    std::unique_lock lock(mutex_);
    settle(lock);
}

int VirtualClock::armedTimers() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(armed_.size());
}

int VirtualClock::sleepingThreads() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(waiters_.begin(), waiters_.end(),
                                          [](const Waiter* waiter) { return !waiter->gate; }));
}

void VirtualClock::arm(VirtualTimer* timer, int msec) {
    std::lock_guard lock(mutex_);
    armed_[timer] = Due{now_ + std::max(msec, 0), armOrder_++};
}

void VirtualClock::disarm(VirtualTimer* timer) {
    std::lock_guard lock(mutex_);
    armed_.erase(timer);
}

bool VirtualClock::isArmed(const VirtualTimer* timer) const {
    std::lock_guard lock(mutex_);
    return armed_.count(const_cast<VirtualTimer*>(timer)) != 0;
}

void VirtualClock::openGate(VirtualGate& gate) {
    std::lock_guard lock(mutex_);
    gate.open_ = true;
    bool woke = false;
    for (Waiter* waiter : waiters_) {
        if (waiter->gate != &gate) continue;
        wake(*waiter, true);
        woke = true;
    }
    if (!woke) return;
    std::erase_if(waiters_, [](const Waiter* waiter) { return waiter->woken; });
    wake_.notify_all();
}

void VirtualClock::resetGate(VirtualGate& gate) {
    std::lock_guard lock(mutex_);
    gate.open_ = false;
}

bool VirtualClock::isGateOpen(const VirtualGate& gate) const {
    std::lock_guard lock(mutex_);
    return gate.open_;
}

bool VirtualClock::waitGate(VirtualGate& gate, int msec) {
    std::unique_lock lock(mutex_);
    if (gate.open_) return true;
    if (std::this_thread::get_id() == owner_) {
        // Only the owner's own timers could open the gate, and they do not fire
        // while it waits: a limited wait passes its time as sleep() does, an
        // unlimited one gives up at once rather than deadlock.
        if (msec > 0) moveTo(now_ + msec);
        return gate.open_;
    }
    if (msec == 0) return false;
    return block(lock, Waiter{msec < 0 ? kNoLimit : now_ + msec, &gate, false});
}

std::map<VirtualTimer*, VirtualClock::Due>::iterator VirtualClock::earliestTimer() {
    return std::min_element(armed_.begin(), armed_.end(), [](const auto& a, const auto& b) {
        return a.second.at < b.second.at ||
               (a.second.at == b.second.at && a.second.order < b.second.order);
    });
}

std::optional<qint64> VirtualClock::nextDeadline() const {
    std::optional<qint64> next;
    for (const Waiter* waiter : waiters_) {
        if (waiter->until != kNoLimit && (!next || waiter->until < *next)) next = waiter->until;
    }
    return next;
}

void VirtualClock::moveTo(qint64 at) {
    now_ = std::max(now_, at);
    bool woke = false;
    for (Waiter* waiter : waiters_) {
        if (waiter->until > now_) continue;
        wake(*waiter, false);
        woke = true;
    }
    if (!woke) return;
    std::erase_if(waiters_, [](const Waiter* waiter) { return waiter->woken; });
    wake_.notify_all();
}

void VirtualClock::wake(Waiter& waiter, bool opened) {
    // Counted as running from here, not from when its thread gets the CPU, so
    // that a settle() right after cannot miss it.
    waiter.woken = true;
    waiter.opened = opened;
    if (!waiter.counted) return;
    ++running_;
    ++progress_;
}

bool VirtualClock::block(std::unique_lock<std::mutex>& lock, Waiter waiter) {
    // A thread that blocks while no worker runs is not a worker (see the class
    // comment): it must not be counted as running once it wakes.
    waiter.counted = running_ > 0;
    if (waiter.counted) {
        --running_;
        ++progress_;
        settled_.notify_all();
    }
    waiters_.push_back(&waiter);
    wake_.wait(lock, [&waiter] { return waiter.woken; });  // the waker unlists it
    return waiter.opened;
}

void VirtualClock::settle(std::unique_lock<std::mutex>& lock) {
    // A clock that never had a worker keeps its old behaviour: nothing posted
    // is delivered behind the test's back.
    if (!hadWorkers_) return;
    auto stuckAt = std::chrono::steady_clock::now() + kStuckWorker;
    quint64 progress = progress_;
    while (true) {
        if (running_ == 0) {
            // A worker posts its call before it blocks on the answer: deliver
            // the call, and stop only if no worker woke meanwhile (it may have
            // woken, posted its next call and blocked again while we delivered).
            const quint64 before = progress_;
            deliverPostedEvents(lock);
            if (running_ == 0 && progress_ == before) return;
            continue;
        }
        if (!settled_.wait_for(lock, kDeliveryInterval, [this] { return running_ == 0; }))
            deliverPostedEvents(lock);
        if (progress_ != progress) {
            progress = progress_;
            stuckAt = std::chrono::steady_clock::now() + kStuckWorker;
        } else if (std::chrono::steady_clock::now() > stuckAt) {
            qFatal(
                "VirtualClock: a worker thread has run for %lld s of real time without "
                "blocking in sleep() or Gate::wait() or ending",
                static_cast<long long>(kStuckWorker.count()));
        }
    }
}

void VirtualClock::deliverPostedEvents(std::unique_lock<std::mutex>& lock) {
    if (std::this_thread::get_id() != owner_) return;
    lock.unlock();
    QCoreApplication::sendPostedEvents();
    lock.lock();
}

}  // namespace tarnel
