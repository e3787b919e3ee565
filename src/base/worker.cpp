#include "base/worker.h"

#include <exception>
#include <stdexcept>

namespace tarnel {

Worker::Worker(Clock& clock) : clock_(clock) {}

Worker::~Worker() {
    join();
}

void Worker::start(std::function<void()> function) {
    if (running_) throw std::logic_error("Worker::start: the previous run has not ended");
    join();
    error_.clear();
    running_ = true;
    clock_.workerStarted();
    try {
        thread_ = std::thread([this, function = std::move(function)] { run(function); });
    } catch (...) {
        running_ = false;
        clock_.workerEnded();
        throw;
    }
}

void Worker::join() {
    if (thread_.joinable()) thread_.join();
}

void Worker::run(const std::function<void()>& function) {
    try {
        function();
    } catch (const std::exception& error) {
        error_ = QString::fromUtf8(error.what());
    } catch (...) {
        error_ = QStringLiteral("unknown exception");
    }
    // Done before workerEnded(): whoever the clock lets go on then sees the
    // run over.
    running_ = false;
    clock_.workerEnded();
}

}  // namespace tarnel
