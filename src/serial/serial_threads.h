#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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

// The write queue: a byte block of fixed capacity and its fill.
class TSerialWriteQueue {
public:
    explicit TSerialWriteQueue(int capacity) : capacity_(capacity) {}
    int Capacity() const { return capacity_; }
    int Fill() const { return static_cast<int>(bytes_.size()); }
    bool Room(long count) const { return count <= capacity_ - Fill(); }
    void Append(const uint8_t* data, long count) {
        bytes_.insert(bytes_.end(), data, data + count);
    }
    void RemoveFront(long count);
    void Clear() { bytes_.clear(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    int capacity_;
    std::vector<uint8_t> bytes_;
};

// Drains the write queue into the device when the port does not write
// directly, and reports on the owner's thread when the queue has run empty
// (`txEmpty`) or a write failed (`error`, with the error bits).
class TSerialWriteThread {
public:
    TSerialWriteThread(SerialDevice& device, int capacity, OwnerHandOver& handOver,
                       std::function<void()> txEmpty, std::function<void(uint32_t)> error);
    ~TSerialWriteThread();

    // Queues the bytes, waiting at most `timeoutMs` for room; false when the
    // queue stayed too full.
    bool Enqueue(const uint8_t* data, long count, int timeoutMs);
    // Throws away what has not been written yet.
    void Flush();
    int Fill() const;
    // Ends the thread and waits for it. Cancel the hand-over first.
    void Stop();

private:
    void run();
    // Writes what the device takes now, or waits until it can take some or
    // the thread is woken: bytes written, 0, or -errno.
    long writeSome(const std::vector<uint8_t>& bytes);

    SerialDevice& device_;
    OwnerHandOver& handOver_;
    const std::function<void()> txEmpty_;
    const std::function<void(uint32_t)> error_;
    mutable std::mutex lock_;  // the write lock: guards the queue
    std::condition_variable changed_;
    TSerialWriteQueue queue_;
    uint64_t generation_ = 0;  // bumped by Flush
    bool stop_ = false;
    WakeUp wake_;
    std::thread thread_;
};

}  // namespace tarnel
