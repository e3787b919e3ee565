#pragma once

#include <QObject>

#include "gateway/commissioning_report.h"
#include "gateway/device_table.h"
#include "ops/results.h"

namespace tarnel {

class Program;

// What a report's reading gathered. A report is written only when the reads
// ran to their end (`Ending::Done`) and the gateway answered something; one
// that missed a part says so (`IncompleteLine`).
struct ReportReadResult {
    Ending ending = Ending::Done;
    bool answered = false;  // the gateway answered the status or the table's count
    CommissioningReport report;
};

// Reads what a commissioning report records, anew: the gateway's status,
// then its table of activated meters; the meters on the bus are those the
// scans and searches found over the same link. One `finished` follows a
// start.
class ReportReading : public QObject {
    Q_OBJECT
public:
    ReportReading(Program& program, QObject* parent = nullptr);

    // `report` brings site, installer and link; false when the status read
    // could not start (the busy rule refused it).
    bool start(const CommissioningReport& report, const DeviceTable::Settings& settings);

signals:
    void finished(const ReportReadResult& result);

private:
    void statusRead(const StatusResult& status);
    void tableRead(const TableReadResult& table);
    void finish(Ending ending);

    Program& program_;
    DeviceTable::Settings settings_;
    ReportReadResult result_;
    QMetaObject::Connection waiting_;
};

}  // namespace tarnel
