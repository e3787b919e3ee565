#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace tarnel::cli {

// Ctrl-C (SIGINT) and SIGTERM as an event of the event loop. The signals are
// blocked in every thread (block() runs before the first thread starts, and
// threads inherit the mask) and read from a signalfd, so that nothing runs
// in a signal handler and no thread is ended by one.
class Interrupt : public QObject {
    Q_OBJECT
public:
    // Blocks both signals in the calling thread and the threads it starts.
    static void block();

    // Needs the application object; after block().
    Interrupt();
    ~Interrupt() override;
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

    // A signal came.
    bool raised() const { return raised_; }

signals:
    // The first signal: stop what runs.
    void stopAsked();

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool raised_ = false;
};

}  // namespace tarnel::cli
