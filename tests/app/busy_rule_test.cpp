// Which buttons each running operation disables, and the line that refuses
// an operation asked for anyway.
#include <QLineEdit>
#include <QPushButton>

#include "ops/busy_rule.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

const QStringList kControls = {"BitBtn1",          "BitBtn2",           "BitBtn19",
                               "buttonReadModbus", "BitBtn22",          "BitBtn21",
                               "editID",           "BitBtn23",          "Button4",
                               "Butt_activateall", "Butt_command_send", "Butt_find_gateway"};

struct BusyRuleTest : test::WindowTest {
    QStringList disabled() const {
        QStringList names;
        for (const QString& name : kControls)
            if (!control<QWidget>(name)->isEnabled()) names << name;
        names.sort();
        return names;
    }
};

TEST_F(BusyRuleTest, EachRunningOperationDisablesWhatItExcludes) {
    start();
    BusyRule& busy = form->program().busy();
    const struct {
        Operation running;
        QStringList disabled;
    } cases[] = {
        {Operation::Scan,
         {"BitBtn1", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID", "BitBtn23",
          "Button4", "Butt_activateall", "Butt_find_gateway"}},
        {Operation::Search,
         {"BitBtn1", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID", "BitBtn23",
          "Button4", "Butt_activateall", "Butt_find_gateway"}},
        {Operation::BulkAddressChange,
         {"BitBtn1", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID", "BitBtn23",
          "Button4", "Butt_find_gateway"}},
        {Operation::TableReadOut,
         {"BitBtn1", "BitBtn2", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID",
          "BitBtn23", "Butt_activateall", "Butt_find_gateway"}},
        {Operation::BulkActivation,
         {"BitBtn1", "BitBtn2", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID",
          "BitBtn23", "Button4", "Butt_command_send", "Butt_find_gateway"}},
        // The finder opens ports of its own: it excludes everything but STOP.
        {Operation::FindGateway,
         {"BitBtn1", "BitBtn19", "buttonReadModbus", "BitBtn22", "BitBtn21", "editID", "BitBtn23",
          "Button4", "Butt_activateall", "Butt_command_send", "Butt_find_gateway"}},
        {Operation::MeterRequest, {"Butt_find_gateway"}},
    };
    for (const auto& c : cases) {
        QStringList expected = c.disabled;
        expected.sort();
        ASSERT_TRUE(busy.begin(c.running));
        EXPECT_EQ(disabled(), expected) << BusyRule::name(c.running).toStdString();
        busy.end(c.running);
        EXPECT_TRUE(disabled().isEmpty()) << BusyRule::name(c.running).toStdString();
    }
    // Two at once: a button comes back only when neither excludes it.
    ASSERT_TRUE(busy.begin(Operation::MeterRequest));
    ASSERT_TRUE(busy.begin(Operation::TableReadOut));
    busy.end(Operation::MeterRequest);
    EXPECT_FALSE(control<QWidget>("BitBtn1")->isEnabled());
    busy.end(Operation::TableReadOut);
}

TEST_F(BusyRuleTest, AnOperationAskedForWhileAnExcludingOneRunsIsRefusedWithOneLine) {
    start();
    BusyRule& busy = form->program().busy();
    Log& log = form->program().log();
    ASSERT_TRUE(busy.begin(Operation::TableReadOut));
    log.clear();
    form->BitBtn2Click();
    EXPECT_EQ(log.lines(), QStringList{"STOP refused: the device table read is running."});
    busy.end(Operation::TableReadOut);
    ASSERT_TRUE(busy.begin(Operation::Search));
    log.clear();
    EXPECT_FALSE(busy.allows(Operation::Scan)) << "asking logs nothing";
    EXPECT_FALSE(busy.begin(Operation::Scan));
    EXPECT_EQ(log.lines(), QStringList{"Scan refused: the secondary search is running."});
    EXPECT_FALSE(busy.running(Operation::Scan));
}

}  // namespace
}  // namespace tarnel
