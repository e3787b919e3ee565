#include "base/virtual_clock.h"

#include <algorithm>

namespace tarnel {

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
        now_ = until;
        wake_.notify_all();
        return;
    }
    const auto sleeper = sleepers_.insert(until);
    wake_.wait(lock, [&] { return now_ >= until; });
    sleepers_.erase(sleeper);
}

QDateTime VirtualClock::now() const {
    return start_.addMSecs(elapsed());
}

qint64 VirtualClock::elapsed() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::advance(qint64 msec) {
    qint64 target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + std::max<qint64>(msec, 0);
    }
    while (VirtualTimer* timer = takeDue(target))
        timer->fire();
    std::lock_guard lock(mutex_);
    now_ = std::max(now_, target);
    wake_.notify_all();
}

qint64 VirtualClock::runUntilIdle(qint64 limitMsec) {
    const qint64 begin = elapsed();
    const qint64 limit = begin + limitMsec;
    while (true) {
        qint64 next;
        {
            std::lock_guard lock(mutex_);
            if (armed_.empty()) break;
            next = std::min_element(armed_.begin(), armed_.end(), [](const auto& a, const auto& b) {
                       return a.second.at < b.second.at;
                   })->second.at;
        }
        if (next > limit) break;
        advance(next - elapsed());
    }
    return elapsed() - begin;
}

int VirtualClock::armedTimers() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(armed_.size());
}

int VirtualClock::sleepingThreads() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(sleepers_.size());
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

VirtualTimer* VirtualClock::takeDue(qint64 limit) {
    std::lock_guard lock(mutex_);
    auto earliest = armed_.end();
    for (auto it = armed_.begin(); it != armed_.end(); ++it) {
        const bool earlier =
            earliest == armed_.end() || it->second.at < earliest->second.at ||
            (it->second.at == earliest->second.at && it->second.order < earliest->second.order);
        if (earlier) earliest = it;
    }
    // Sleepers due before the next timer wake first, at their own time.
    const qint64 nextTimer =
        earliest == armed_.end() ? limit : std::min(earliest->second.at, limit);
    if (!sleepers_.empty() && *sleepers_.begin() <= nextTimer) {
        now_ = std::max(now_, *sleepers_.begin());
        wake_.notify_all();
    }
    if (earliest == armed_.end() || earliest->second.at > limit) return nullptr;

    VirtualTimer* timer = earliest->first;
    now_ = std::max(now_, earliest->second.at);
    if (timer->isSingleShot())
        armed_.erase(earliest);
    else
        earliest->second = Due{now_ + std::max(timer->interval(), 1), armOrder_++};
    return timer;
}

}  // namespace tarnel
