#include "gateway/face_events.h"

namespace tarnel {
namespace {

using namespace face_event;

QString named(HandOver what) {
    return what == HandOver::PointsList ? QStringLiteral("Points list")
                                        : QStringLiteral("Commissioning report");
}

// Why a reading that did not run to its end wrote nothing; a refusal has
// said its own line already.
QString endedWhy(HandOver what, Ending ending) {
    if (ending == Ending::LinkLost) return QStringLiteral(": the link was lost.");
    if (ending != Ending::Stopped) return QStringLiteral(".");
    return what == HandOver::PointsList ? QStringLiteral(": the table read was stopped.")
                                        : QStringLiteral(": the reading was stopped.");
}

struct Words {
    QStringList operator()(const NotWritten& e) const {
        return {named(e.what) + " not written" + endedWhy(e.what, e.ending)};
    }
    QStringList operator()(const NothingRead& e) const {
        return {e.what == HandOver::PointsList
                    ? QStringLiteral("Points list not written: no entry of the gateway's table "
                                     "was read.")
                    : QStringLiteral("Commissioning report not written: the gateway did not "
                                     "answer.")};
    }
    QStringList operator()(const Incomplete& e) const { return {e.line + "."}; }
    QStringList operator()(const Declined& e) const { return {named(e.what) + " not written."}; }
    QStringList operator()(const FileRefused& e) const {
        return {QStringLiteral("Can not write file, no rights..."), e.path + ": " + e.reason};
    }
    QStringList operator()(const PointsWritten& e) const {
        return {QStringLiteral("Points list of %1 points written to %2 and %3.")
                    .arg(e.points)
                    .arg(e.csv, e.yaml)};
    }
    QStringList operator()(const ReportFailed& e) const {
        return {"Commissioning report not written: " + e.error + "."};
    }
    QStringList operator()(const ReportWritten& e) const {
        QStringList lines{
            QStringLiteral("Commissioning report written to %1 and %2.").arg(e.pdf, e.html)};
        if (!e.shown)
            lines << QStringLiteral("No program to show PDF files was found: open %1 yourself.")
                         .arg(e.pdf);
        return lines;
    }
    QStringList operator()(const LogSaved& e) const { return {"Log saved to " + e.path}; }
    QStringList operator()(const TableFault& e) const {
        return {(e.transfer ? QStringLiteral("Exception on clear table - ")
                            : QStringLiteral("Exception - ")) +
                e.what};
    }
};

}  // namespace

QStringList FaceEventLines(const FaceEvent& event) {
    return std::visit(Words{}, event);
}

}  // namespace tarnel
