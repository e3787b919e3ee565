// A link that goes away in the middle of an operation ends it at once, with
// one line naming it, its controls enabled again and no timer left running.
#include <gtest/gtest.h>

#include "base/grid_selection.h"
#include "rig.h"

namespace tarnel {
namespace {

using test::Rig;

TEST(LostLink, EveryRunningOperationEndsWithItsLine) {
    const struct {
        const char* name;
        std::function<void(Rig&)> start;
        const char* line;
    } operations[] = {
        {"scan",
         [](Rig& r) {
             r.scan.start({1, 0, 250, 1000, 600, 2}, false);
         },
         "Connection lost: scan stopped."},
        {"read",
         [](Rig& r) {
             r.scan.readMeter({1, r.bus.meters().front().address, ""}, {1, 0, 0, 1000, 600, 2});
         },
         "Connection lost: read stopped."},
        {"status", [](Rig& r) { r.gatewayStatus.readStatus(1, 600); },
         "Connection lost: status read stopped."},
        {"register read",
         [](Rig& r) {
             r.view.read({1, 1, 125, true, 600});
         },
         "Connection lost: register read stopped."},
        {"automatic read",
         [](Rig& r) {
             QObject::connect(&r.view, &RegisterView::automaticRead, [&r] {
                 r.view.read({1, 1, 125, true, 600});
             });
             r.view.setAutomatic(true);
             r.clock.advance(1000);
         },
         "Connection lost: automatic read stopped."},
    };
    const struct {
        const char* name;
        bool tcp;
        std::function<void(Rig&)> lose;
    } losses[] = {
        {"serial closed", false, [](Rig& r) { r.link.closeSerial(); }},
        {"serial device gone", false,
         [](Rig& r) { emit r.serial.lost("Serial device went away..."); }},
        {"socket closed", true, [](Rig& r) { r.tcp.abort(); }},
    };
    for (const bool fast : {false, true}) {
        for (const auto& loss : losses) {
            for (const auto& operation : operations) {
                const std::string what =
                    std::string(operation.name) + ", " + loss.name + (fast ? ", fast replies" : "");
                Rig rig(loss.tcp, fast);
                std::vector<Ending> endings;
                bool automaticEnded = false;
                QObject::connect(&rig.scan, &PrimaryScan::finished,
                                 [&](const MbusRunResult& r) { endings.push_back(r.ending); });
                QObject::connect(&rig.gatewayStatus, &GatewayStatus::finished,
                                 [&](const StatusResult& r) { endings.push_back(r.ending); });
                QObject::connect(&rig.view, &RegisterView::readFinished,
                                 [&](const RegisterReadResult& r) { endings.push_back(r.ending); });
                QObject::connect(&rig.view, &RegisterView::automaticReadEnded,
                                 [&] { automaticEnded = true; });
                operation.start(rig);  // over TCP with fast replies a read is over in 1 ms
                rig.log.clear();
                loss.lose(rig);
                EXPECT_EQ(rig.log.lines().filter("Connection lost").join('|'),
                          QString(operation.line))
                    << what;
                rig.clock.runUntilIdle(60'000);
                EXPECT_EQ(rig.log.lines().filter("Connection lost").size(), 1) << what;
                EXPECT_EQ(rig.log.lines().filter("Searching").size(), 0) << what;
                for (const Timer* timer : rig.owner.findChildren<Timer*>())
                    EXPECT_FALSE(timer->isActive())
                        << what << ": " << timer->objectName().toStdString();
                EXPECT_FALSE(rig.scan.findChild<Timer*>("MbusPoll")->isActive()) << what;
                EXPECT_FALSE(rig.scan.running()) << what;
                EXPECT_FALSE(rig.busy.running(Operation::Scan)) << what;
                // One result, and it says the link went.
                EXPECT_EQ(endings, std::vector<Ending>{Ending::LinkLost}) << what;
                if (std::string(operation.name) == "automatic read") {
                    EXPECT_TRUE(automaticEnded) << what;
                }
            }
        }
    }
}

}  // namespace
}  // namespace tarnel
