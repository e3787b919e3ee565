#pragma once

#include <QDateTime>
#include <QString>

namespace tarnel {

// The time of day as log lines and grid cells show it ("14:05:09").
inline QString LongTimeText(const QDateTime& when) {
    return when.time().toString("HH:mm:ss");
}

// The date as file names and log lines show it ("07.12.2026").
inline QString ShortDateText(const QDateTime& when) {
    return when.date().toString("dd.MM.yyyy");
}

}  // namespace tarnel
