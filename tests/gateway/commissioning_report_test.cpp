#include <gtest/gtest.h>

#include "gateway/commissioning_report.h"

namespace tarnel {
namespace {

TableEntry entry(int number, const char* id, uint8_t status) {
    TModbusDevice device;
    device.id = id;
    device.address = static_cast<uint8_t>(number);
    device.mbusStatus = status;
    device.register10High = 1;
    return {number, device};
}

// A table of two entries read whole, meter 30201567 found on the bus but not
// in it, and entry 1 reporting M-Bus status 04.
CommissioningReport wholeReport() {
    CommissioningReport report;
    report.site = "Plant room <2>";
    report.table.answered = true;
    report.table.count = 2;
    report.table.entries = {entry(1, "12345678", 0x04), entry(2, "21030045", 0)};
    report.points = PointsList(report.table.entries, false);
    report.bus = BusSurvey{"TCP 127.0.0.1:502, Modbus address 1", {}, {}};
    report.bus->meters = {{.id = "12345678", .address = "1", .manufacturer = "ABC"},
                          {.id = "30201567", .address = "3", .manufacturer = "GSW"}};
    report.status.replies = 14;
    return report;
}

// The open points, the incomplete line and the page, across what the reads
// missed: no "not activated" claim unless the whole table was read, and no
// meter-level point at all when the bus was not scanned on this link.
TEST(CommissioningReport, OpenPointsAndTheIncompleteLineFollowTheReads) {
    const QString notActivated = "Meter 30201567 at address 3 is on the bus but not activated.";
    const QString status04 = "Entry 1 (meter 12345678) reports M-Bus status 04.";
    const struct {
        const char* name;
        void (*change)(CommissioningReport&);
        QString incomplete;
        QStringList open;
    } cases[] = {
        {"whole", [](CommissioningReport&) {}, "", {notActivated, status04}},
        {"entry 2 unread",
         [](CommissioningReport& r) { r.table.entries.pop_back(); },
         "Incomplete: entry 2 of 2 was not read",
         {status04}},
        {"count unanswered",
         [](CommissioningReport& r) {
             r.table = {};
             r.points = {};
         },
         "Incomplete: the gateway did not answer the count of its devices",
         {}},
        {"a status step unanswered",
         [](CommissioningReport& r) { r.status.unanswered = {"IP"}; },
         "Incomplete: the gateway did not answer: IP",
         {notActivated, status04}},
        {"both",
         [](CommissioningReport& r) {
             r.table.entries.pop_back();
             r.status.unanswered = {"IP", "serial number"};
         },
         "Incomplete: entry 2 of 2 was not read; the gateway did not answer: IP, serial number",
         {status04}},
        {"no status answer at all",
         [](CommissioningReport& r) {
             r.status.replies = 0;
             r.status.unanswered = {"IP"};
         },
         "Incomplete: the gateway gave no valid answer to its status read",
         {notActivated, status04}},
        {"bus not scanned on this link",
         [](CommissioningReport& r) { r.bus.reset(); },
         "",
         {status04}},
    };
    for (const auto& c : cases) {
        CommissioningReport report = wholeReport();
        c.change(report);
        EXPECT_EQ(IncompleteLine(report), c.incomplete) << c.name;
        EXPECT_EQ(OpenPoints(report), c.open) << c.name;
        const QString html = CommissioningReportHtml(report);
        EXPECT_EQ(html.contains("<b>" + c.incomplete.toHtmlEscaped() + "</b>"),
                  !c.incomplete.isEmpty())
            << c.name;
        EXPECT_EQ(html.contains("<p>The bus was not scanned on this link.</p>"), !report.bus)
            << c.name;
        // Listed once on the bus and once in the table, as far as each was read.
        EXPECT_EQ(html.count("<tr><td nowrap>12345678</td>"),
                  int(report.bus.has_value()) + int(!report.table.entries.empty()))
            << c.name;
    }
}

// Whatever a user typed or a meter sent is text on the page, never markup.
TEST(CommissioningReport, EscapesEveryText) {
    CommissioningReport report = wholeReport();
    report.installer = "<script>alert(1)</script>";
    report.link = "TCP a&b:502";
    report.bus->meters[1] = {.id = "30201567",
                             .address = "3",
                             .manufacturer = "GSW",
                             .value = "1.000",
                             .unit = "<b>m3</b>"};
    report.status.answers = {"Firmware: <1.2>"};
    const QString html = CommissioningReportHtml(report);
    EXPECT_TRUE(html.contains("<b>Site:</b> Plant room &lt;2&gt;</p>"));
    EXPECT_TRUE(html.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
    EXPECT_TRUE(html.contains("TCP a&amp;b:502"));
    EXPECT_TRUE(html.contains("&lt;b&gt;m3&lt;/b&gt;"));
    EXPECT_TRUE(html.contains("Firmware: &lt;1.2&gt;"));
    EXPECT_FALSE(html.contains("<script>"));
}

}  // namespace
}  // namespace tarnel
