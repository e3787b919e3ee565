#include "ops/meter_telegrams.h"

namespace tarnel {

void MeterTelegrams::keep(const QString& id, const QByteArray& telegram) {
    byId_.insert(id, telegram);
    emit kept(id);
}

std::optional<QByteArray> MeterTelegrams::lastOf(const QString& id) const {
    const auto found = byId_.constFind(id);
    if (found == byId_.constEnd()) return std::nullopt;
    return *found;
}

}  // namespace tarnel
