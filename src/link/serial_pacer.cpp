#include "link/serial_pacer.h"

#include <memory>

namespace tarnel {

SerialPacer::SerialPacer(SerialTransport& serial, Clock& clock, QObject* parent)
    : QObject(parent), serial_(serial), timer_(clock.createTimer(this)) {
    connect(timer_, &Timer::timeout, this, &SerialPacer::step);
}

void SerialPacer::send(const QByteArray& frame, int leadPauseMs, int bytePauseMs, bool whole,
                       std::function<void()> written, std::function<void()> sent) {
    queue_.push_back(
        Job{frame, leadPauseMs, bytePauseMs, whole, std::move(written), std::move(sent)});
    if (!active_) start();
}

void SerialPacer::reset() {
    timer_->stop();
    queue_.clear();
    active_ = false;
    ++generation_;
}

void SerialPacer::start() {
    active_ = true;
    next_ = 0;
    ++generation_;
    try {
        serial_.setRts(true);
    } catch (const std::exception& error) {
        fail(error);
        return;
    }
    if (queue_.front().leadPauseMs > 0)
        timer_->start(queue_.front().leadPauseMs);
    else
        step();
}

void SerialPacer::step() {
    const Job& job = queue_.front();
    if (job.whole) {
        writeWhole();
        return;
    }
    try {
        // Without pauses the whole frame goes out at once.
        do {
            if (next_ >= job.frame.size() || !serial_.isOpen()) {
                finish();
                return;
            }
            serial_.writeByte(static_cast<uint8_t>(job.frame.at(next_++)));
            if (next_ == job.frame.size() && job.written) job.written();
        } while (job.bytePauseMs == 0);
    } catch (const std::exception& error) {
        fail(error);
        return;
    }
    timer_->start(job.bytePauseMs);
}

void SerialPacer::writeWhole() {
    const quint64 generation = generation_;
    // The driver may report the frame sent from inside the write.
    auto written = std::make_shared<std::function<void()>>(std::move(queue_.front().written));
    const auto tellWritten = [written] {
        if (!*written) return;
        const std::function<void()> once = std::move(*written);
        *written = nullptr;
        once();
    };
    try {
        const bool accepted =
            serial_.writeFrame(queue_.front().frame, [this, generation, tellWritten] {
                tellWritten();
                if (active_ && generation == generation_) finish();
            });
        if (!accepted) {
            finish();
            return;
        }
        tellWritten();
    } catch (const std::exception& error) {
        fail(error);
    }
}

void SerialPacer::dropRts() {
    try {
        if (serial_.isOpen()) serial_.setRts(false);
    } catch (const std::exception& error) {
        emit fault(QString::fromUtf8(error.what()));
    }
}

void SerialPacer::finish() {
    dropRts();
    const std::function<void()> sent = std::move(queue_.front().sent);
    queue_.pop_front();
    active_ = false;
    if (sent) sent();  // may send the next request at once
    if (!active_ && !queue_.empty()) start();
}

void SerialPacer::fail(const std::exception& error) {
    // The port refused a byte: the rest of the frame is dropped.
    emit fault(QString::fromUtf8(error.what()));
    next_ = queue_.front().frame.size();
    finish();
}

}  // namespace tarnel
