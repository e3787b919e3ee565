#include "ops/bus_survey.h"

#include <algorithm>

namespace tarnel {

QString BusSurvey::key(const QString& linkIdentity, int slave) {
    return QStringLiteral("%1, Modbus address %2").arg(linkIdentity).arg(slave);
}

void BusSurveys::record(const QString& link, const QDateTime& endedAt,
                        const QList<QStringList>& meters) {
    if (link.isEmpty()) return;
    if (!survey_ || survey_->link != link) survey_ = BusSurvey{link, endedAt, {}};
    survey_->madeAt = endedAt;
    for (const QStringList& meter : meters) {
        const QString id = meter.value(0).trimmed();
        auto same =
            std::find_if(survey_->meters.begin(), survey_->meters.end(),
                         [&id](const QStringList& kept) { return kept.value(0).trimmed() == id; });
        if (same == survey_->meters.end())
            survey_->meters << meter;
        else
            *same = meter;
    }
}

std::optional<BusSurvey> BusSurveys::on(const QString& link) const {
    if (!survey_ || link.isEmpty() || survey_->link != link) return std::nullopt;
    return survey_;
}

}  // namespace tarnel
