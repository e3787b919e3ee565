#pragma once

#include <QObject>
#include <deque>
#include <functional>

#include "base/clock.h"
#include "link/transport.h"

namespace tarnel {

// Puts RTU frames on the serial line the way the gateway's RS-485 side needs
// them: RTS raised, an optional lead pause, the frame, RTS dropped after it.
// Paced, every byte is followed by its pause, as the gateway has always been
// written to; whole, the frame goes out in one write and RTS drops once the
// driver has sent the last byte. On the link's thread it waits with the
// clock's timers and never blocks; a frame sent while another is still going
// out waits for it.
class SerialPacer : public QObject {
    Q_OBJECT
public:
    SerialPacer(SerialTransport& serial, Clock& clock, QObject* parent = nullptr);

    // `written` runs once the frame's last byte has been handed to the
    // driver: a reply can begin no earlier. `sent` runs once the frame has
    // left (also when the port failed or closed on the way, so that no
    // operation waits for ever).
    void send(const QByteArray& frame, int leadPauseMs, int bytePauseMs, bool whole,
              std::function<void()> written, std::function<void()> sent);
    bool busy() const { return active_; }
    // The port went away: frames not yet out are dropped, without `sent`.
    void reset();

signals:
    // The port refused a byte or the RTS line, in the system's words.
    void fault(const QString& what);

private:
    struct Job {
        QByteArray frame;
        int leadPauseMs;
        int bytePauseMs;
        bool whole;
        std::function<void()> written;
        std::function<void()> sent;
    };

    void start();
    void step();
    void writeWhole();
    void finish();
    void fail(const std::exception& error);
    void dropRts();

    SerialTransport& serial_;
    Timer* timer_;
    std::deque<Job> queue_;
    qsizetype next_ = 0;      // index of the next byte of the front job
    bool active_ = false;     // the front job is going out
    quint64 generation_ = 0;  // of the front job, for the driver's late "sent"
};

}  // namespace tarnel
