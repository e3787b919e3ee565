#include "gateway/commissioning_report.h"

#include <QSet>

#include "base/grid_layouts.h"

namespace tarnel {
namespace {

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

}  // namespace

QStringList OpenPoints(const CommissioningReport& report) {
    QSet<QString> activated;
    for (const QStringList& device : report.devices)
        activated.insert(device.value(0).trimmed());
    QStringList open;
    for (const QStringList& meter : report.meters) {
        const QString id = meter.value(0).trimmed();
        if (!id.isEmpty() && !activated.contains(id))
            open << QStringLiteral("Meter %1 at address %2 is on the bus but not activated.")
                        .arg(id, meter.value(1).trimmed());
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
    QString gateway = table({"Modbus address", "Link", "Entries"},
                            {{QString::number(report.slave), report.link,
                              report.version2 ? "v 0.2 (24 registers)" : "v 0.3 (28 registers)"}});
    QStringList status;
    for (const QString& line : report.status)
        status << line.trimmed().toHtmlEscaped();
    gateway += "<p>" + status.join("<br>\n") + "</p>\n";
    html += section("Gateway", gateway);
    html += section("Meters on the bus", table(loopsGridLayout().headers, report.meters));
    html += section("Activated meters", table(devicesGridLayout().headers.mid(0, 11), [&] {
                        QList<QStringList> rows;
                        for (const QStringList& row : report.devices)
                            rows << row.mid(0, 11);
                        return rows;
                    }()));
    html += section("Modbus points (function 4, input registers)",
                    table({"Entry", "Addr", "ID", "Medium", "Point", "Address", "Register", "Type",
                           "Scale", "Unit", "Value"},
                          pointRows(report.points)));
    const QStringList open = OpenPoints(report);
    QString openList = open.isEmpty() ? "<p>None.</p>\n" : "<ul>\n";
    for (const QString& item : open)
        openList += "<li>" + item.toHtmlEscaped() + "</li>\n";
    if (!open.isEmpty()) openList += "</ul>\n";
    html += section("Open points", openList);
    html += "<p><br><br>Signature: ______________________________ &nbsp; Date: ____________</p>\n";
    return html + "</body></html>\n";
}

}  // namespace tarnel
