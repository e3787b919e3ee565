#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace tarnel::test {

PtyPair::PtyPair() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slavePath_ = QString::fromLocal8Bit(::ttyname(slave_));
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    hangUp();
    ::close(slave_);
}

void PtyPair::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(master_, bytes.constData() + done, bytes.size() - done);
        if (put > 0)
            done += put;
        else if (put < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error("pty write failed");
    }
}

qsizetype PtyPair::writeSome(const QByteArray& bytes) {
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    const ssize_t put = ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size()));
    ::fcntl(master_, F_SETFL, flags);
    return put > 0 ? put : 0;
}

QByteArray PtyPair::read(int count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QByteArray got;
    char buffer[4096];
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd ready{master_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, n);
    }
    return got;
}

void PtyPair::hangUp() {
    if (master_ < 0) return;
    ::close(master_);
    master_ = -1;
}

}  // namespace tarnel::test
