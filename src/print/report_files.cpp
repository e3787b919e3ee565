#include "print/report_files.h"

#include "base/whole_file.h"
#include "print/pdf_pages.h"

namespace tarnel {

QString WriteCommissioningReport(const CommissioningReport& report, const ReportFiles& files) {
    const QString html = CommissioningReportHtml(report);
    if (!files.html.isEmpty() && !WriteWholeFile(files.html, html.toUtf8()))
        return "cannot write " + files.html;
    if (files.pdf.isEmpty()) return {};
    const QString title = report.site.trimmed().isEmpty()
                              ? QStringLiteral("Commissioning report")
                              : "Commissioning report, " + report.site.trimmed();
    QString error;
    const QByteArray pdf = HtmlPdf(html, {title, QStringLiteral("Tarnel"), 8, true, true}, &error);
    if (pdf.isEmpty()) return "cannot lay out " + files.pdf + ": " + error;
    if (!WriteWholeFile(files.pdf, pdf)) return "cannot write " + files.pdf;
    return {};
}

}  // namespace tarnel
