#include "serial/serial_threads.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

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

// Whether the driver counted a line error since `before`.
bool lineErrorsSince(const LineErrorCounts& before, const LineErrorCounts& now) {
    return now.frame != before.frame || now.overrun != before.overrun ||
           now.parity != before.parity || now.bufferOverrun != before.bufferOverrun;
}

}  // namespace

void TSerialEventThread::run() {
    const bool watchRx = watched_ & (ceRxChar | ceError);
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
        if ((watched_ & ceError) && lineErrorsSince(counts, now)) events |= ceError;
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

}  // namespace tarnel
