#include "print/report_files.h"

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

}  // namespace tarnel
