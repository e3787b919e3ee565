#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

#include "base/clock.h"
#include "gateway/commissioning_report.h"

namespace tarnel {

// The commissioning report's files: the same page as PDF (A4, for print and
// hand-over) and as HTML. An empty path is not written.
struct ReportFiles {
    QString pdf;
    QString html;
};

// Writes each file whole (a failure leaves an older file as it was). Empty
// when all were written, else why not ("cannot write FILE: REASON").
QString WriteCommissioningReport(const CommissioningReport& report, const ReportFiles& files);

// Writes the report's files on a worker thread of its own, so that the
// thread that asked goes on with its events while the pages are laid out.
// The worker is a QThread (the text layout arms Qt timers of its own) and,
// like a `Worker`, announced to the clock.
class ReportWriter {
public:
    // What WriteCommissioningReport returned.
    using Done = std::function<void(const QString& error)>;

    explicit ReportWriter(Clock& clock) : clock_(clock) {}
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // True from start() until `done` was called.
    bool writing() const { return writing_; }
    // Starts the writing unless one is going on; `done` is called on the
    // thread of `context`, which owns the writer (a writer destroyed waits
    // for its worker, and the call still queued goes with `context`).
    bool start(const CommissioningReport& report, const ReportFiles& files, QObject* context,
               Done done);

private:
    Clock& clock_;
    std::unique_ptr<QThread> thread_;
    bool writing_ = false;
};

}  // namespace tarnel
