#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include "gateway/points_list.h"

namespace tarnel {

// What a commissioning report records: who handed over which site when, the
// gateway as its status read described it, the meters found on the bus, the
// gateway's table of activated meters and its points list.
struct CommissioningReport {
    QString site, installer;
    QDateTime madeAt;
    int slave = 1;
    QString link;                // "TCP 192.168.1.3:502", "/dev/ttyUSB0 19200,8,Even"
    bool version2 = false;       // entries of 24 registers
    QStringList status;          // the status read's lines
    QList<QStringList> meters;   // rows of the meter grid (its columns)
    QList<QStringList> devices;  // rows of the device grid (its columns)
    QVector<ModbusPoint> points;
};

// Open points: a meter on the bus that is not in the gateway's table (by
// its ID), and an entry whose M-Bus status byte is not 0.
QStringList OpenPoints(const CommissioningReport& report);

// The report as one HTML page (UTF-8), for a browser or for the PDF layout.
QString CommissioningReportHtml(const CommissioningReport& report);

}  // namespace tarnel
