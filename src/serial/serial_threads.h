#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "serial/owner_hand_over.h"
#include "serial/serial_device.h"
#include "serial/serial_types.h"

namespace tarnel {

// An eventfd that wakes a thread out of poll().
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;
    int fd() const { return fd_; }
    void Signal();
    void Drain();

private:
    int fd_;
};

// Watches an open device for received bytes, line errors and a hang-up of
// the other side, and hands each event to the owner's thread, waiting until it
// has been handled. It waits in poll() on the device and a wake-up descriptor:
// no busy polling. After an event that left bytes unread it stops watching
// for input (so it does not spin) until the owner reads or purges, or more
// bytes arrive.
class TSerialEventThread {
public:
    // `dispatch` runs on the owner's thread with the event bits seen and
    // whether the line hung up; the thread ends after a hang-up.
    using Dispatch = std::function<void(TSerialEvents events, bool hangup)>;

    TSerialEventThread(const SerialDevice& device, TSerialEvents watched, OwnerHandOver& handOver,
                       Dispatch dispatch);
    ~TSerialEventThread();

    // The owner has read or thrown away input: watch for input again.
    void InputConsumed() { wake_.Signal(); }
    // Ends the thread and waits for it. Cancel the hand-over first.
    void Stop();

private:
    void run();

    const SerialDevice& device_;
    const TSerialEvents watched_;
    OwnerHandOver& handOver_;
    const Dispatch dispatch_;
    WakeUp wake_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tarnel
