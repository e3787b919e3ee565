#include "serial/serial_threads.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace tarnel {

WakeUp::WakeUp() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0)
        throw ESerialPortError("Can't create the wake-up event (" + osErrorText(errno) + ")");
}

WakeUp::~WakeUp() {
    ::close(fd_);
}

void WakeUp::Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeUp::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd_, &count, sizeof count);
}

// ---------------------------------------------------------------------------

TSerialEventThread::TSerialEventThread(const SerialDevice& device, TSerialEvents watched,
                                       OwnerHandOver& handOver, Dispatch dispatch)
    : device_(device),
      watched_(watched),
      handOver_(handOver),
      dispatch_(std::move(dispatch)),
      thread_([this] { run(); }) {}

TSerialEventThread::~TSerialEventThread() {
    Stop();
}

void TSerialEventThread::Stop() {
    stop_ = true;
    wake_.Signal();
    if (thread_.joinable()) thread_.join();
}

namespace {

// Line errors counted by the driver since `before`, as error event bits.
TSerialEvents lineErrorEvents(const LineErrorCounts& before, const LineErrorCounts& now) {
    TSerialEvents events = 0;
    if (now.frame != before.frame || now.overrun != before.overrun || now.parity != before.parity ||
        now.bufferOverrun != before.bufferOverrun)
        events |= ceError;
    if (now.breaks != before.breaks) events |= ceBreak;
    return events;
}

}  // namespace

void TSerialEventThread::run() {
    const bool watchRx = watched_ & (ceRxChar | ceError | ceBreak);
    bool watchInput = watchRx;
    int unread = 0;
    LineErrorCounts counts = device_.errorCounts();
    while (!stop_) {
        // A device whose input is not watched still reports a hang-up.
        pollfd fds[2] = {{device_.fd(), static_cast<short>(watchInput ? POLLIN : 0), 0},
                         {wake_.fd(), POLLIN, 0}};
        // While bytes the owner has not read wait, look only for more of them.
        const int timeout = watchRx && !watchInput ? 100 : -1;
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (stop_) break;
        if (fds[1].revents & POLLIN) {
            wake_.Drain();
            watchInput = watchRx;
            continue;
        }
        const bool hangup = fds[0].revents & (POLLHUP | POLLERR | POLLNVAL);
        const int waiting = device_.inputCount();
        TSerialEvents events = 0;
        if ((watched_ & ceRxChar) && waiting > 0 && (watchInput || waiting > unread))
            events |= ceRxChar;
        const LineErrorCounts now = device_.errorCounts();
        events |= lineErrorEvents(counts, now) & watched_;
        counts = now;
        if (events != 0 || hangup) {
            const Dispatch dispatch = dispatch_;
            handOver_.Run([dispatch, events, hangup] { dispatch(events, hangup); });
        }
        if (hangup) break;
        unread = device_.inputCount();
        watchInput = watchRx && unread == 0;
    }
}

// ---------------------------------------------------------------------------

void TSerialWriteQueue::RemoveFront(long count) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + std::min<long>(count, Fill()));
}

TSerialWriteThread::TSerialWriteThread(SerialDevice& device, int capacity, OwnerHandOver& handOver,
                                       std::function<void()> txEmpty,
                                       std::function<void(uint32_t)> error)
    : device_(device),
      handOver_(handOver),
      txEmpty_(std::move(txEmpty)),
      error_(std::move(error)),
      queue_(capacity),
      thread_([this] { run(); }) {}

TSerialWriteThread::~TSerialWriteThread() {
    Stop();
}

void TSerialWriteThread::Stop() {
    {
        std::lock_guard lock(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    wake_.Signal();
    if (thread_.joinable()) thread_.join();
}

bool TSerialWriteThread::Enqueue(const uint8_t* data, long count, int timeoutMs) {
    std::unique_lock lock(lock_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return stop_ || queue_.Room(count); }) ||
        stop_)
        return false;
    queue_.Append(data, count);
    changed_.notify_all();
    return true;
}

void TSerialWriteThread::Flush() {
    {
        std::lock_guard lock(lock_);
        queue_.Clear();
        ++generation_;
    }
    changed_.notify_all();
    wake_.Signal();
}

int TSerialWriteThread::Fill() const {
    std::lock_guard lock(lock_);
    return queue_.Fill();
}

long TSerialWriteThread::writeSome(const std::vector<uint8_t>& bytes) {
    const ssize_t put = ::write(device_.fd(), bytes.data(), bytes.size());
    if (put >= 0) return put;
    if (errno != EAGAIN && errno != EINTR) return -errno;
    pollfd fds[2] = {{device_.fd(), POLLOUT, 0}, {wake_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return -errno;
    if (fds[1].revents & POLLIN) wake_.Drain();
    return 0;
}

void TSerialWriteThread::run() {
    std::unique_lock lock(lock_);
    while (true) {
        changed_.wait(lock, [&] { return stop_ || queue_.Fill() > 0; });
        if (stop_) return;
        const std::vector<uint8_t> bytes = queue_.Bytes();
        const uint64_t generation = generation_;
        lock.unlock();
        const long put = writeSome(bytes);
        lock.lock();
        if (put < 0) {
            // The line is gone or broken: drop what waits and say so.
            queue_.Clear();
            lock.unlock();
            const auto error = error_;
            handOver_.Run([error] { error(ceIoError); });
            lock.lock();
            continue;
        }
        if (generation == generation_) queue_.RemoveFront(put);
        changed_.notify_all();
        if (put > 0 && queue_.Fill() == 0) {
            lock.unlock();
            const auto txEmpty = txEmpty_;
            handOver_.Run([txEmpty] { txEmpty(); });
            lock.lock();
        }
    }
}

}  // namespace tarnel
