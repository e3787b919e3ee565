#pragma once

#include <QString>

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

}  // namespace tarnel
