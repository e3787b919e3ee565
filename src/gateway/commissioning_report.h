#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "gateway/points_list.h"
#include "ops/bus_survey.h"
#include "ops/results.h"

namespace tarnel {

// What a commissioning report records: who handed over which site when, and
// what was read for it over one link: the gateway's status, its table of
// activated meters with the points list, and the meters a scan or search
// found on the bus over the same link (none when the bus was not scanned
// there). Built from the reads' results alone, never from a grid.
struct CommissioningReport {
    QString site, installer;
    QDateTime madeAt;
    int slave = 1;
    QString link;  // "TCP 192.168.1.3:502", "/dev/ttyUSB0 19200,8,Even"
    StatusResult status;
    TableReadResult table;
    std::optional<BusSurvey> bus;
    QVector<ModbusPoint> points;
    char decimalSeparator = '.';  // of the value texts
};

// What the reads missed, as one line ("Incomplete: entry 2 of 64 was not
// read; the gateway did not answer: IP"); empty when they read everything.
QString IncompleteLine(const CommissioningReport& report);

// Open points: a meter on the bus that is not in the gateway's table (by its
// ID; claimed only when the whole table was read), and an entry whose M-Bus
// status byte is not 0.
QStringList OpenPoints(const CommissioningReport& report);

// The report as one HTML page (UTF-8), for a browser or for the PDF layout.
QString CommissioningReportHtml(const CommissioningReport& report);

}  // namespace tarnel
