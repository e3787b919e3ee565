#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "mbus/telegram_decoder.h"

namespace tarnel {

// A meter as a scan, a read or the search decoded it: the meter grid's
// columns, the telegram it came in and the link it came over.
struct MeterRow {
    QString id{};
    QString address{};
    QString manufacturer{};
    QString value{};
    QString unit{};
    QString medium{};
    QString status{};
    QString time{};
    QByteArray telegram{};
    QString link{};  // `BusSurvey::key` of the link and gateway

    // The meter grid's columns, in its order.
    QStringList texts() const;
};

// The decoder's row (8-bit characters as Latin-1) with its telegram and link.
MeterRow MeterRowOf(const LoopsRow& row, const QByteArray& telegram, const QString& link);

// Adds `rows` to `into` the way the meter grid lists meters by their ID: a
// meter already there is replaced in its place, a new one goes last.
void MergeById(QList<MeterRow>& into, const QList<MeterRow>& rows);

}  // namespace tarnel
