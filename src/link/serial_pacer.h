#pragma once

#include <QObject>
#include <deque>
#include <functional>

#include "base/clock.h"
#include "link/transport.h"

namespace tarnel {

class Log;

// Puts RTU frames on the serial line the way the gateway's RS-485 side needs
// them: RTS raised, an optional lead pause, every byte followed by its pause,
// RTS dropped after the last pause. On the link's own thread it paces with the
// clock's timers and never blocks; a frame sent while another is still going
// out waits for it. Elsewhere (the search worker) it paces with the clock's
// pauses, blocking that thread.
class SerialPacer : public QObject {
    Q_OBJECT
public:
    SerialPacer(SerialTransport& serial, Clock& clock, Log& log, QObject* parent = nullptr);

    // `sent` runs once the frame has left (also when the port failed or
    // closed on the way, so that no operation waits for ever).
    void send(const QByteArray& frame, int leadPauseMs, int bytePauseMs,
              std::function<void()> sent);
    bool busy() const { return active_; }

private:
    struct Job {
        QByteArray frame;
        int leadPauseMs;
        int bytePauseMs;
        std::function<void()> sent;
    };

    void sendBlocking(const Job& job);
    void start();
    void step();
    void finish();
    void fail(const std::exception& error);

    SerialTransport& serial_;
    Clock& clock_;
    Log& log_;
    Timer* timer_;
    std::deque<Job> queue_;
    qsizetype next_ = 0;   // index of the next byte of the front job
    bool active_ = false;  // the front job is going out
};

}  // namespace tarnel
