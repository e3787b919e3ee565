// The log's words for the gateway operations that no run through the
// simulated gateway shows.
#include "gateway/gateway_lines.h"

#include <gtest/gtest.h>

#include "ops/mbus_lines.h"

namespace tarnel {
namespace {

using namespace gateway_event;

TEST(GatewayLines, EventsNoRunShows) {
    const struct {
        GatewayEvent event;
        QStringList lines;
    } cases[] = {
        {Sent{Request::DeleteInputs}, {"De-activating selected device..."}},
        {Sent{Request::DeleteAll}, {"Deleting ALL devices in memory..."}},
        {Stopped{Task::StatusRead}, {"Status read stopped."}},
        {BadRowAddress{7, std::nullopt}, {"Error in Primary address at row 7"}},
        {ClearRegisters{}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GatewayEventLines(c.event), c.lines) << c.lines.join('|').toStdString();
}

// The read-out tells a stop or a lost link only once it reads entries: before,
// the console's request was stopped and says so itself.
TEST(GatewayLines, TheReadOutsClosingLines) {
    const struct {
        Ending ending;
        bool answered;
        int count;
        QStringList lines;
    } cases[] = {
        {Ending::Stopped, true, 3, {"Device table read stopped."}},
        {Ending::LinkLost, true, 3, {"Connection lost: device table read stopped."}},
        {Ending::Stopped, false, 0, {}},
        {Ending::LinkLost, false, 0, {}},
        {Ending::Done, true, 3, {}},
    };
    for (const auto& c : cases) {
        TableReadResult result;
        result.ending = c.ending;
        result.answered = c.answered;
        result.count = c.count;
        EXPECT_EQ(TableReadLines(result), c.lines) << c.lines.join('|').toStdString();
    }
}

// A run the gateway left unanswered says so once, first, naming the run as
// its other lines do.
TEST(GatewayLines, ASilentGatewaysLine) {
    MbusRunResult scan;
    SearchResult search;
    TableReadResult table;
    ActivationResult activation;
    StatusResult status;
    scan.ending = search.ending = table.ending = activation.ending = status.ending =
        Ending::GatewaySilent;
    const struct {
        QStringList lines;
        QString run;
    } cases[] = {
        {MbusRunLines(scan), "scan"},
        {SearchLines(search), "secondary search"},
        {TableReadLines(table), "device table read"},
        {ActivationLines(activation), "activation"},
        {StatusLines(status), "status read"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.lines.value(0), "No answer from the gateway to 3 requests in a row: " + c.run +
                                        " stopped. Check the link settings, the Modbus address "
                                        "and the wiring.");
        EXPECT_EQ(c.lines.filter("No answer").size(), 1) << c.run.toStdString();
    }
}

}  // namespace
}  // namespace tarnel
