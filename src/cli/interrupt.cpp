#include "cli/interrupt.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tarnel::cli {
namespace {

sigset_t stopSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);  // the terminal or the SSH session closed
    return mask;
}

}  // namespace

void Interrupt::block() {
    const sigset_t mask = stopSignals();
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
}

Interrupt::Interrupt() {
    const sigset_t mask = stopSignals();
    fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        if (raised_) return;  // the stop runs once
        raised_ = true;
        emit stopAsked();
    });
}

Interrupt::~Interrupt() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tarnel::cli
