#include "cli/report_command.h"

#include <iostream>

#include "base/safe_file.h"
#include "cli/cli_session.h"
#include "gateway/program.h"
#include "gateway/report_reading.h"
#include "ops/primary_scan.h"
#include "print/report_files.h"

namespace tarnel::cli {
namespace {

QString linkText(const Options& options) {
    if (options.tcp) return "TCP " + QString::fromStdString(*options.tcp);
    return QString::fromStdString(options.serial.value_or("") + " " + options.baud + ",8," +
                                  options.parity);
}

CommissioningReport blankReport(const Options& options) {
    CommissioningReport report;
    report.site = QString::fromStdString(options.site);
    report.installer = QString::fromStdString(options.installer);
    report.madeAt = QDateTime::currentDateTime();
    report.slave = options.unit;
    report.link = linkText(options);
    return report;
}

// The bus, when --scan asks for it: the report lists the meters it found.
bool scanned(Session& session, const Options& options) {
    if (!options.scanRange) return true;
    Program& program = session.program();
    const PrimaryScan::Settings settings{
        options.unit,       options.scanRange->first, options.scanRange->second,
        options.scanTimeMs, options.timeoutMs,        options.retries};
    // On an empty meter grid: the report lists the meters this scan found.
    const auto scan = session.await(program.scan(), &PrimaryScan::finished,
                                    [&] { return program.scan().start(settings, true).started; });
    return !scan || scan->ending != Ending::LinkLost;
}

// Ctrl-C during the reads: no report is written.
int stopped() {
    Session::note("stopped: no report written");
    return kNoResult;
}

}  // namespace

// The report is written when the reads ran to their end and the gateway
// answered something; one that missed a part says so on its first page and
// exits 1 with the same line. A stop or a lost link writes nothing.
Runner report(const Options& options) {
    if (options.htmlFile.empty() && options.pdfFile.empty())
        throw UsageError{"give the report's file: --pdf FILE or --html FILE"};
    return [=](Session& session) {
        if (!scanned(session, options)) return kLinkError;
        if (session.interrupted()) return stopped();
        Program& program = session.program();
        program.deviceTable().setVersion2(options.version2);
        ReportReading reading(program);
        const auto read = session.await(reading, &ReportReading::finished, [&] {
            return reading.start(blankReport(options),
                                 {options.unit, options.timeoutMs, options.scanTimeMs});
        });
        if (read && read->ending == Ending::LinkLost) return kLinkError;
        if (session.interrupted() || (read && read->ending == Ending::Stopped)) return stopped();
        // A gateway that stopped answering stops the reads: nothing to report.
        const bool silent = read && read->ending == Ending::GatewaySilent;
        if (!read || (read->ending != Ending::Done && !silent)) return kNoResult;
        if (!read->answered || silent) {
            Session::note("no answer from the gateway: no report written");
            return kNoResult;
        }
        const ReportFiles files{FileNameFromBytes(options.pdfFile),
                                FileNameFromBytes(options.htmlFile)};
        if (const QString error = WriteCommissioningReport(read->report, files); !error.isEmpty()) {
            Session::note(error.toStdString());
            return kNoResult;
        }
        for (const QString& path : {files.pdf, files.html})
            if (!path.isEmpty()) session.printLine("Commissioning report written to " + path);
        if (const QString incomplete = IncompleteLine(read->report); !incomplete.isEmpty()) {
            Session::note(incomplete.toStdString());
            return kNoResult;
        }
        return kDone;
    };
}

}  // namespace tarnel::cli
