#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "ops/meter_row.h"

namespace tarnel {

// The meters the scans and searches found on one gateway's bus: which link
// and gateway they ran on, when the last of them ended, and each meter once
// (by its ID), as the meter grid lists it. A hand-over lists the bus only
// from here, and only for the link it is made on: the grid holds whatever
// was loaded, imported or found elsewhere.
struct BusSurvey {
    QString link;  // `key()` of the link and gateway
    QDateTime madeAt;
    QList<MeterRow> meters;

    // The link's identity (`GatewayLink::identity`) and the gateway's Modbus
    // address: two gateways on one RS-485 line have two buses.
    static QString key(const QString& linkIdentity, int slave);
};

// The survey of the last link a scan or search ran on.
class BusSurveys {
public:
    // A scan or search on `link` listed `meters`: on the same link they join
    // the survey (a meter found again replaces its row), on another they
    // start a new one. A run that listed nothing still says the bus was
    // looked at.
    void record(const QString& link, const QDateTime& endedAt, const QList<MeterRow>& meters);
    // The survey made on `link`, if any.
    std::optional<BusSurvey> on(const QString& link) const;

private:
    std::optional<BusSurvey> survey_;
};

}  // namespace tarnel
