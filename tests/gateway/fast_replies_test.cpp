// Fast replies change when an operation moves on, never what it shows:
// every operation, on both links and under the reply faults, logs the same
// lines and fills the same rows with fast replies on as with them off.
#include <gtest/gtest.h>

#include "rig.h"

namespace tarnel {
namespace {

using test::Rig;

struct Outcome {
    QStringList lines;
    QStringList rows;
    qint64 ms = 0;
};

using Operation = std::function<void(Rig&)>;

Outcome run(bool tcp, bool fast, const Operation& operation,
            const std::function<void(Rig&)>& faults = {}) {
    auto rig = std::make_unique<Rig>(tcp, fast);
    if (faults) faults(*rig);
    const qint64 start = rig->clock.elapsed();
    operation(*rig);
    qint64 end = start;
    // The time of the last line is when the operation ended.
    QObject::connect(&rig->log, &Log::lineAppended, [&] { end = rig->clock.elapsed(); });
    rig->clock.runUntilIdle(3'600'000);
    return {rig->log.lines(), Rig::rowsOf(rig->registers) + Rig::rowsOf(rig->meters), end - start};
}

const struct {
    const char* name;
    Operation start;
} kOperations[] = {
    {"register read",
     [](Rig& r) {
         r.view.read({1, 1, 125, true, 600});
     }},
    {"command", [](Rig& r) { r.commands.setReadoutPeriod(1, 5); }},
    {"status sequence", [](Rig& r) { r.gatewayStatus.readStatus(1, 600); }},
    {"scan",
     [](Rig& r) {
         r.scan.start({1, 0, 3, 1000, 600, 1}, false);
     }},
};

TEST(FastReplies, SameLinesAndRowsInAFractionOfTheTime) {
    for (const bool tcp : {false, true}) {
        for (const auto& operation : kOperations) {
            const Outcome off = run(tcp, false, operation.start);
            const Outcome on = run(tcp, true, operation.start);
            const std::string what =
                std::string(operation.name) + (tcp ? " over TCP" : " over RTU");
            EXPECT_EQ(on.lines, off.lines) << what;
            EXPECT_EQ(on.rows, off.rows) << what;
            EXPECT_GT(off.lines.size(), 1) << what;
            EXPECT_LT(on.ms * 2, off.ms) << what << ": " << on.ms << " ms against " << off.ms;
        }
    }
}

TEST(FastReplies, RepliesThatCannotBeFramedEndAsWithout) {
    const struct {
        const char* name;
        sim::FaultKind kind;
        int value;
    } faults[] = {
        {"late reply", sim::FaultKind::Delay, 700},
        {"split reply", sim::FaultKind::Split, 30},
        {"two replies in one", sim::FaultKind::Double, 0},
        {"leading zero", sim::FaultKind::LeadingZero, 0},
        {"wrong CRC", sim::FaultKind::WrongCrc, 0},
        {"another unit", sim::FaultKind::WrongUnit, 0},
        {"another transaction", sim::FaultKind::WrongTid, 0},
    };
    for (const bool tcp : {false, true}) {
        for (const auto& fault : faults) {
            const auto plan = [&](Rig& r) { r.addFault(fault.kind, fault.value); };
            const std::string what = std::string(fault.name) + (tcp ? " over TCP" : " over RTU");
            for (const auto& operation : {kOperations[0], kOperations[2]}) {
                const Outcome off = run(tcp, false, operation.start, plan);
                const Outcome on = run(tcp, true, operation.start, plan);
                EXPECT_EQ(on.lines, off.lines) << what << ", " << operation.name;
                EXPECT_EQ(on.rows, off.rows) << what << ", " << operation.name;
            }
        }
    }
}

TEST(FastReplies, ALateReplyNeverAnswersTheNextRequest) {
    // Every reply 700 ms late against a time-out of 600 ms: each step of the
    // status read gets nothing, rather than the step before's answer, and the
    // third stops the read (its one line). On the serial line the late
    // replies are named as they are dropped.
    for (const bool tcp : {false, true}) {
        for (const bool fast : {false, true}) {
            const Outcome outcome = run(tcp, fast, kOperations[2].start,
                                        [](Rig& r) { r.addFault(sim::FaultKind::Delay, 700, -1); });
            QStringList lines = outcome.lines;
            const qsizetype dropped =
                lines.removeIf([](const QString& line) { return line.startsWith("Ignored "); });
            EXPECT_EQ(lines.size(), 2) << (tcp ? "TCP" : "RTU") << (fast ? ", fast" : "");
            EXPECT_EQ(lines.first(), "Reading settings of device:");
            EXPECT_EQ(dropped > 0, !tcp) << "the late replies are named as they are dropped";
        }
    }
}

}  // namespace
}  // namespace tarnel
