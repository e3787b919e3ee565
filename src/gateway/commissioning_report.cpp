#include "gateway/commissioning_report.h"

#include <QSet>

#include "base/grid_layouts.h"

namespace tarnel {
namespace {

constexpr int kDeviceColumns = 11;  // " ID " to "Status ": what a reader of the report needs

// A grid's cell stays on one line, so that a page break never parts a row.
QString cell(const QString& text, const char* tag = "td") {
    return QStringLiteral("<%1 nowrap>%2</%1>").arg(tag, text.trimmed().toHtmlEscaped());
}

QString table(const QStringList& headers, const QList<QStringList>& rows) {
    // The header row as <thead> comes again on every page a table spans.
    QString html = "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">\n<thead><tr>";
    for (const QString& header : headers)
        html += cell(header, "th");
    html += "</tr></thead>\n";
    for (const QStringList& row : rows) {
        html += "<tr>";
        for (const QString& text : row)
            html += cell(text);
        html += "</tr>\n";
    }
    return html + "</table>\n";
}

QString paragraph(const QString& text) {
    return "<p>" + text.toHtmlEscaped() + "</p>\n";
}

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QList<QStringList> deviceRows(const CommissioningReport& report) {
    QList<QStringList> rows;
    for (const TableEntry& entry : report.table.entries) {
        QStringList row;
        for (const std::string& text : DeviceRowTexts(entry.device, report.decimalSeparator))
            row << latin1(text);
        rows << row.mid(0, kDeviceColumns);
    }
    return rows;
}

QList<QStringList> pointRows(const QVector<ModbusPoint>& points) {
    QList<QStringList> rows;
    for (const ModbusPoint& p : points)
        rows << QStringList{QString::number(p.entry),
                            QString::number(p.mbusAddress),
                            p.id,
                            p.medium,
                            p.point,
                            QString::number(p.address),
                            QString::number(p.reference),
                            p.type,
                            p.scale,
                            p.unit,
                            p.value};
    return rows;
}

QString section(const QString& title, const QString& body) {
    return "<h2>" + title.toHtmlEscaped() + "</h2>\n" + body;
}

QString gatewaySection(const CommissioningReport& report) {
    QString gateway =
        table({"Modbus address", "Link", "Entries"},
              {{QString::number(report.slave), report.link,
                report.table.version2 ? "v 0.2 (24 registers)" : "v 0.3 (28 registers)"}});
    QStringList status;
    for (const QString& line : report.status.answers)
        status << line.trimmed().toHtmlEscaped();
    return gateway + "<p>" + status.join("<br>\n") + "</p>\n";
}

QString busSection(const CommissioningReport& report) {
    if (!report.bus) return paragraph("The bus was not scanned on this link.");
    QList<QStringList> meters;
    for (const MeterRow& meter : report.bus->meters)
        meters << meter.texts();
    return paragraph("Found by the scans and searches over this link, the last ended " +
                     report.bus->madeAt.toString("yyyy-MM-dd HH:mm") + ".") +
           table(loopsGridLayout().headers, meters);
}

QString openPointsSection(const CommissioningReport& report) {
    const QStringList open = OpenPoints(report);
    if (open.isEmpty()) return "<p>None.</p>\n";
    QString list = "<ul>\n";
    for (const QString& item : open)
        list += "<li>" + item.toHtmlEscaped() + "</li>\n";
    return list + "</ul>\n";
}

// The box on the first page that says what the reads missed.
QString incompleteBox(const CommissioningReport& report) {
    const QString line = IncompleteLine(report);
    if (line.isEmpty()) return {};
    return "<table border=\"2\" cellspacing=\"0\" cellpadding=\"6\" width=\"100%\"><tr><td><b>" +
           line.toHtmlEscaped() + "</b></td></tr></table>\n";
}

}  // namespace

QString IncompleteLine(const CommissioningReport& report) {
    return IncompleteLine(
        QStringList{TableShortfall(report.table), StatusShortfall(report.status)});
}

QStringList OpenPoints(const CommissioningReport& report) {
    QStringList open;
    // A meter missing from a table that was not read whole may be in it.
    if (report.bus && report.table.complete()) {
        QSet<QString> activated;
        for (const TableEntry& entry : report.table.entries)
            activated.insert(latin1(entry.device.id).trimmed());
        for (const MeterRow& meter : report.bus->meters) {
            const QString id = meter.id.trimmed();
            if (!id.isEmpty() && !activated.contains(id))
                open << QStringLiteral("Meter %1 at address %2 is on the bus but not activated.")
                            .arg(id, meter.address.trimmed());
        }
    }
    for (const ModbusPoint& p : report.points)
        if (p.point == "Status" && p.raw % 256 != 0)
            open << QStringLiteral("Entry %1 (meter %2) reports M-Bus status %3.")
                        .arg(p.entry)
                        .arg(p.id, p.value);
    return open;
}

QString CommissioningReportHtml(const CommissioningReport& report) {
    QString html =
        "<html><head><meta charset=\"utf-8\"><title>Commissioning report</title>"
        "</head><body>\n<h1>Commissioning report</h1>\n";
    // Site and installer are free text of any length: paragraphs, which wrap.
    const auto field = [](const QString& name, const QString& text) {
        return "<p><b>" + name + ":</b> " + text.trimmed().toHtmlEscaped() + "</p>\n";
    };
    html += field("Site", report.site) + field("Installer", report.installer) +
            field("Date", report.madeAt.toString("yyyy-MM-dd HH:mm"));
    html += incompleteBox(report);
    html += section("Gateway", gatewaySection(report));
    html += section("Meters on the bus", busSection(report));
    html += section("Activated meters",
                    table(devicesGridLayout().headers.mid(0, kDeviceColumns), deviceRows(report)));
    html += section("Modbus points (function 4, input registers)",
                    table({"Entry", "Addr", "ID", "Medium", "Point", "Address", "Register", "Type",
                           "Scale", "Unit", "Value"},
                          pointRows(report.points)));
    html += section("Open points", openPointsSection(report));
    html += "<p><br><br>Signature: ______________________________ &nbsp; Date: ____________</p>\n";
    return html + "</body></html>\n";
}

}  // namespace tarnel
