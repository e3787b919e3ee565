#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <optional>

namespace tarnel {

// The last telegram each meter answered with, by its identification number:
// what the scan, a meter's read and the search decoded and listed. The whole
// telegram is kept, so every record can be shown, not only the grid's value.
class MeterTelegrams : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void keep(const QString& id, const QByteArray& telegram);
    std::optional<QByteArray> lastOf(const QString& id) const;

signals:
    void kept(const QString& id);

private:
    QHash<QString, QByteArray> byId_;
};

}  // namespace tarnel
