#include "print/report_files.h"

#include <exception>

#include "base/owner_thread.h"
#include "base/whole_file.h"
#include "print/pdf_pages.h"

namespace tarnel {

QString WriteCommissioningReport(const CommissioningReport& report, const ReportFiles& files) {
    const QString html = CommissioningReportHtml(report);
    if (!files.html.isEmpty()) {
        if (const FileWritten written = WriteWholeFile(files.html, html.toUtf8()); !written)
            return "cannot write " + files.html + ": " + written.reason;
    }
    if (files.pdf.isEmpty()) return {};
    const QString title = report.site.trimmed().isEmpty()
                              ? QStringLiteral("Commissioning report")
                              : "Commissioning report, " + report.site.trimmed();
    QString error;
    const QByteArray pdf = HtmlPdf(html, {title, QStringLiteral("Tarnel"), 8, true, true}, &error);
    if (pdf.isEmpty()) return "cannot lay out " + files.pdf + ": " + error;
    if (const FileWritten written = WriteWholeFile(files.pdf, pdf); !written)
        return "cannot write " + files.pdf + ": " + written.reason;
    return {};
}

ReportWriter::~ReportWriter() {
    if (thread_) thread_->wait();
}

bool ReportWriter::start(const CommissioningReport& report, const ReportFiles& files,
                         QObject* context, Done done) {
    if (writing_) return false;
    writing_ = true;
    if (thread_) thread_->wait();  // the last run, past its `done`, may still be returning
    clock_.workerStarted();
    // `writing_` is cleared on the asking thread, just before `done` runs.
    thread_.reset(QThread::create([this, report, files, context, done = std::move(done)] {
        QString error;
        try {
            error = WriteCommissioningReport(report, files);
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        }
        RunOnOwner(context, [this, error, done] {
            writing_ = false;
            done(error);
        });
        clock_.workerEnded();
    }));
    thread_->start();
    return true;
}

}  // namespace tarnel
