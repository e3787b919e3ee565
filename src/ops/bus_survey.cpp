#include "ops/bus_survey.h"

namespace tarnel {

QString BusSurvey::key(const QString& linkIdentity, int slave) {
    return QStringLiteral("%1, Modbus address %2").arg(linkIdentity).arg(slave);
}

void BusSurveys::record(const QString& link, const QDateTime& endedAt,
                        const QList<MeterRow>& meters) {
    if (link.isEmpty()) return;
    if (!survey_ || survey_->link != link) survey_ = BusSurvey{link, endedAt, {}};
    survey_->madeAt = endedAt;
    MergeById(survey_->meters, meters);
}

std::optional<BusSurvey> BusSurveys::on(const QString& link) const {
    if (!survey_ || link.isEmpty() || survey_->link != link) return std::nullopt;
    return survey_;
}

}  // namespace tarnel
