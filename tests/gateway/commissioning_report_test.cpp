#include <gtest/gtest.h>

#include "gateway/commissioning_report.h"

namespace tarnel {
namespace {

// A meter found on the bus but not in the table, and an entry whose M-Bus
// status is not 0, are the open points; the page escapes what it shows.
TEST(CommissioningReport, OpenPointsAndThePage) {
    CommissioningReport report;
    report.site = "Plant room <2>";
    report.installer = "A. Fitter";
    report.meters = {{"12345678", "1", "ABC"}, {"30201567", "3", "GSW"}};
    report.devices = {{"12345678", "1", "ABC", "Water"}};
    ModbusPoint status;
    status.entry = 1;
    status.id = "12345678";
    status.point = "Status";
    status.raw = 0x0104;  // register 10: high byte kept, M-Bus status 04 (power low)
    status.value = "04";
    report.points = {status};
    EXPECT_EQ(OpenPoints(report),
              (QStringList{"Meter 30201567 at address 3 is on the bus but not activated.",
                           "Entry 1 (meter 12345678) reports M-Bus status 04."}));
    const QString html = CommissioningReportHtml(report);
    EXPECT_TRUE(html.contains("<b>Site:</b> Plant room &lt;2&gt;</p>"));
    EXPECT_TRUE(html.contains("<li>Meter 30201567 at address 3 is on the bus but not activated."));
    EXPECT_TRUE(html.contains("Signature:"));
    report.points[0].raw = 0x0100;
    report.meters.removeLast();
    EXPECT_TRUE(OpenPoints(report).isEmpty());
    EXPECT_TRUE(CommissioningReportHtml(report).contains("<h2>Open points</h2>\n<p>None.</p>"));
}

}  // namespace
}  // namespace tarnel
