#include "ops/meter_row.h"

#include <algorithm>

#include "mbus/loops_grid.h"

namespace tarnel {

QStringList MeterRow::texts() const {
    return {id, address, manufacturer, value, unit, medium, status, time};
}

MeterRow MeterRowOf(const LoopsRow& row, const QByteArray& telegram, const QString& link) {
    const QStringList texts = LoopsRowTexts(row);
    return {texts[0], texts[1], texts[2], texts[3], texts[4],
            texts[5], texts[6], texts[7], telegram, link};
}

void MergeById(QList<MeterRow>& into, const QList<MeterRow>& rows) {
    for (const MeterRow& row : rows) {
        const QString id = row.id.trimmed();
        auto same = std::find_if(into.begin(), into.end(),
                                 [&id](const MeterRow& kept) { return kept.id.trimmed() == id; });
        if (same == into.end())
            into << row;
        else
            *same = row;
    }
}

}  // namespace tarnel
