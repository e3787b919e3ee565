// The fault matrix: every operation of the tool against every fault the
// simulated gateway puts on its replies, over the serial line and TCP, each
// case on a fresh window and gateway on the virtual clock. Whatever the
// gateway did, the operation ends with its lines, gives its controls and
// timers back, leaves nothing in flight on the link, and shows no value the
// gateway did not send.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <algorithm>
#include <optional>

#include "fault_matrix_cases.h"
#include "link/gateway_link.h"

namespace tarnel::test {
namespace {

// How the operation fares with a fault.
enum class Outcome {
    Served,    // the fault is one the tool copes with: as without it
    Failed,    // the faulted requests bring nothing
    LinkLost,  // the link goes away: the operation stops with its line
};

// What the summary line is to count as the gateway's errors.
enum class GatewayError { None, Exception, Crc, TimeOut };

struct FaultColumn {
    const char* name;
    sim::FaultKind kind;
    int value;
    bool rtu;
    bool tcp;
    Outcome outcome;
    GatewayError error;
};

constexpr int kLateByMs = 100;  // a late reply comes this long after its wait ended

const FaultColumn kFaults[] = {
    {"no reply", sim::FaultKind::NoReply, 0, true, true, Outcome::Failed, GatewayError::TimeOut},
    {"wrong CRC", sim::FaultKind::WrongCrc, 0, true, false, Outcome::Failed, GatewayError::Crc},
    {"filler", sim::FaultKind::Filler, 0, true, false, Outcome::Served, GatewayError::None},
    {"leading 0x00", sim::FaultKind::LeadingZero, 0, true, false, Outcome::Failed,
     GatewayError::Crc},
    {"leading 0x00", sim::FaultKind::LeadingZero, 0, false, true, Outcome::Failed,
     GatewayError::None},
    {"exception 1", sim::FaultKind::Exception, 1, true, true, Outcome::Failed,
     GatewayError::Exception},
    {"exception 2", sim::FaultKind::Exception, 2, true, true, Outcome::Failed,
     GatewayError::Exception},
    {"exception 3", sim::FaultKind::Exception, 3, true, true, Outcome::Failed,
     GatewayError::Exception},
    {"exception 4", sim::FaultKind::Exception, 4, true, true, Outcome::Failed,
     GatewayError::Exception},
    {"exception 6", sim::FaultKind::Exception, 6, true, true, Outcome::Failed,
     GatewayError::Exception},
    {"late reply", sim::FaultKind::Delay, kLateByMs, true, true, Outcome::Failed,
     GatewayError::TimeOut},
    {"split reply", sim::FaultKind::Split, 30, true, true, Outcome::Served, GatewayError::None},
    {"short TCP answer", sim::FaultKind::ShortTcp, 0, false, true, Outcome::Failed,
     GatewayError::None},
    {"connection closed", sim::FaultKind::Close, 0, false, true, Outcome::LinkLost,
     GatewayError::None},
    {"serial hang-up", sim::FaultKind::HangUp, 0, true, false, Outcome::LinkLost,
     GatewayError::None},
};

// The log lines of the exception codes.
QString exceptionLine(int code) {
    switch (code) {
        case 1:
            return "Error - ILLEGAL FUNCTION\r";
        case 2:
            return "Error - ILLEGAL DATA ADDRESS\r";
        case 3:
            return "Error - ILLEGAL DATA VALUE\r";
        case 4:
            return "Error - SLAVE DEVICE FAILURE\r";
        case 6:
            return "Error - SLAVE DEVICE BUSY\r";
        default:
            return {};
    }
}

// Every control an operation disables while it runs.
const char* const kOperationControls[] = {
    "BitBtn1",  "BitBtn2", "BitBtn19", "buttonReadModbus", "BitBtn22",         "BitBtn21",
    "BitBtn23", "Button4", "editID",   "Butt_activateall", "Butt_command_send"};

const char* const kProgramTimers[] = {"Timer_free_command", "Timer_modbus",     "Timer_auto",
                                      "Timer_status",       "TimerReadDevices", "Timer_mbus",
                                      "Timer_mbusRespond",  "Timer_activateAll"};

bool anyStartsWith(const QStringList& lines, const QString& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.startsWith(start); });
}

qsizetype countStartingWith(const QStringList& lines, const QString& start) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const QString& line) { return line.startsWith(start); });
}

std::string logText(MatrixRun& run) {
    return run.program().log().lines().join('\n').toStdString();
}

// What an operation shows without a fault: what a faulted run may show at most.
struct Reference {
    QStringList shown;
    qsizetype successes = 0;
};

// The link a case runs over.
struct Link {
    const char* name;
    bool tcp;
    bool fastReplies;
};

const Link kLinks[] = {
    {"over the serial line", false, true},
    {"over TCP", true, true},
    {"over the serial line, full waits", false, false},
};

struct Case {
    const Operation& operation;
    const Link& link;
    const FaultColumn* fault;  // none for the reference run
};

// The run of one case up to the operation's end.
struct Ran {
    std::unique_ptr<MatrixRun> run;
    QStringList before;  // shown before the operation started
    bool ended = false;
};

Ran runCase(const Case& c) {
    Ran ran{std::make_unique<MatrixRun>(c.link.tcp, c.link.fastReplies), {}, false};
    MatrixRun& run = *ran.run;
    const Operation& operation = c.operation;
    if (operation.prepare) operation.prepare(run);
    if (operation.shown) ran.before = operation.shown(run);
    if (c.fault) {
        sim::Fault fault;
        fault.kind = c.fault->kind;
        fault.value = c.fault->kind == sim::FaultKind::Delay ? operation.waitMs + c.fault->value
                                                             : c.fault->value;
        fault.count = operation.count;
        fault.function = operation.function;
        fault.registerNumber = operation.registerNumber;
        run.endpoint().faults().Add(fault);
    }
    operation.start(run);
    if (operation.finish) operation.finish(run);
    ran.ended = run.runUntilIdle();
    return ran;
}

// A count of the summary line ("gateway errors"), of a run that ended or was
// stopped (a gateway that answers nothing stops it); nothing without such a
// line.
std::optional<int> summaryCount(MatrixRun& run, const Operation& operation, const QString& what) {
    const QRegularExpression count(what + " (\\d+)");
    const QString stopped = QString(operation.summary).replace(" ended: ", " stopped: ");
    for (const QString& line : run.program().log().lines())
        if (line.startsWith(operation.summary) || line.startsWith(stopped)) {
            const QRegularExpressionMatch match = count.match(line);
            return match.hasMatch() ? match.captured(1).toInt() : -1;
        }
    return std::nullopt;
}

// The operation sent the request the fault is meant for.
bool sentFaultedRequest(MatrixRun& run, const Operation& operation) {
    const size_t pdu = run.overTcp ? 7 : 1;  // after the MBAP header, or the unit
    for (const sim::WireRecord& record : run.endpoint().Records()) {
        const sim::Bytes& bytes = record.bytes;
        if (record.request && bytes.size() >= pdu + 3 && bytes[pdu] == operation.function &&
            (bytes[pdu + 1] << 8 | bytes[pdu + 2]) == operation.registerNumber)
            return true;
    }
    return false;
}

// The operation ended: its lines, its controls, the program's timers.
void checkEnded(const Ran& ran, const Case& c) {
    MatrixRun& run = *ran.run;
    const Operation& operation = c.operation;
    EXPECT_TRUE(ran.ended) << "still running after a simulated hour";
    EXPECT_TRUE(sentFaultedRequest(run, operation))
        << "no request of function " << operation.function << " at " << operation.registerNumber;
    for (const char* name : kProgramTimers)
        EXPECT_FALSE(run.program().timer(name)->isActive()) << name << " still runs";
    for (const char* name : kOperationControls)
        EXPECT_TRUE(run.control<QWidget>(name)->isEnabled()) << name << " stays disabled";
    EXPECT_FALSE(run.control<QCheckBox>("CheckBox1")->isChecked()) << "automatic read on";
    EXPECT_NE(run.control<QPushButton>("Butt_activateall")->text(), "Stop activation");
    const QStringList& lines = run.program().log().lines();
    const bool lost = c.fault && c.fault->outcome == Outcome::LinkLost;
    if (lost) {
        EXPECT_TRUE(lines.contains(operation.lostLine))
            << "no line \"" << operation.lostLine.toStdString() << "\"\n"
            << logText(run);
    } else {
        EXPECT_FALSE(anyStartsWith(lines, "Connection lost: ")) << logText(run);
        if (!operation.endLines.isEmpty()) {
            EXPECT_TRUE(std::any_of(operation.endLines.begin(), operation.endLines.end(),
                                    [&](const QString& end) { return anyStartsWith(lines, end); }))
                << "no line \"" << operation.endLines.join("\" or \"").toStdString() << "\"\n"
                << logText(run);
        }
    }
    for (const FakeDialogs::Shown& shown : run.dialogs.shown)
        EXPECT_TRUE(shown.kind == "confirm") << "a box: " << shown.text.toStdString();
}

// The fault is told: by the line of the check it failed, or in the
// "RCVD:" line of an operation that only logs its reply.
void checkTold(MatrixRun& run, const Case& c) {
    const QStringList& lines = run.program().log().lines();
    const Operation& operation = c.operation;
    const FaultColumn& fault = *c.fault;
    switch (fault.kind) {
        case sim::FaultKind::Exception:
            if (operation.judged) {
                EXPECT_TRUE(lines.contains(exceptionLine(fault.value))) << logText(run);
            } else {
                const QString rcvd = QStringLiteral("RCVD:01 %1 %2 ")
                                         .arg(operation.function | 0x80, 2, 16, QChar('0'))
                                         .arg(fault.value, 2, 16, QChar('0'))
                                         .toUpper();
                EXPECT_TRUE(anyStartsWith(lines, rcvd)) << "no " << rcvd.toStdString() << "\n"
                                                        << logText(run);
            }
            break;
        case sim::FaultKind::WrongCrc:
            if (!operation.judged) break;
            EXPECT_TRUE(lines.contains("Error in CRC field\r")) << logText(run);
            EXPECT_EQ(run.program().status().text(StatusPanels::Crc), "Error in CRC field");
            break;
        case sim::FaultKind::LeadingZero:
            if (operation.judged && !c.link.tcp) {
                EXPECT_TRUE(lines.contains("Error in CRC field\r") ||
                            lines.contains("Garbage leading bytes in the telegram"))
                    << logText(run);
            }
            break;
        case sim::FaultKind::ShortTcp:
            EXPECT_TRUE(anyStartsWith(lines, "Error, raw TCP data: ")) << logText(run);
            break;
        default:
            break;
    }
}

// No value the gateway did not send; all of them when the fault is one
// the tool copes with.
void checkShown(MatrixRun& run, const Ran& ran, const Case& c, const Reference& reference) {
    const Operation& operation = c.operation;
    const Outcome outcome = c.fault->outcome;
    const QStringList shown = operation.shown ? operation.shown(run) : QStringList();
    const qsizetype successes =
        operation.successLine.isEmpty()
            ? 0
            : countStartingWith(run.program().log().lines(), operation.successLine);
    if (outcome == Outcome::Served) {
        EXPECT_EQ(shown, reference.shown) << logText(run);
        EXPECT_EQ(successes, reference.successes) << logText(run);
        return;
    }
    for (const QString& value : shown) {
        if (ran.before.contains(value)) continue;
        EXPECT_TRUE(reference.shown.contains(value))
            << "shows " << value.toStdString() << ", which the gateway did not send";
    }
    // A fault that passes may be made up for by a retry.
    if (operation.count > 0) return;
    if (operation.shown) {
        EXPECT_NE(shown, reference.shown) << "the faulted reply shows its values";
    }
    EXPECT_EQ(successes, 0) << "a success line for a failed request\n" << logText(run);
}

// The scan, the search and the bulk activation end with a summary line
// ("Scan ended: meters found N, ..., gateway errors K (...)"): it counts the
// gateway's errors that the fault made.
void checkSummary(MatrixRun& run, const Case& c) {
    const Operation& operation = c.operation;
    if (operation.summary.isEmpty()) return;
    if (c.fault && c.fault->outcome == Outcome::LinkLost) return;  // its line says so
    const std::optional<int> errors = summaryCount(run, operation, "gateway errors");
    ASSERT_TRUE(errors) << "no line \"" << operation.summary.toStdString() << "...\"\n"
                        << logText(run);
    if (!c.fault) {
        EXPECT_EQ(*errors, 0) << logText(run);
        return;
    }
    const GatewayError error = c.fault->error;
    if (error == GatewayError::Exception && c.fault->value == operation.meterRefusal) {
        // The meter's refusal: counted for rows whose every attempt it
        // refused; a passing one leaves the row activated at its retry.
        EXPECT_EQ(*errors, 0) << logText(run);
        const int refused = summaryCount(run, operation, "refused by the meter").value_or(-1);
        EXPECT_EQ(refused > 0, operation.count == -1) << logText(run);
        return;
    }
    // An operation that only logs the reply does not look at its CRC.
    const bool counted = error == GatewayError::Exception || error == GatewayError::TimeOut ||
                         (error == GatewayError::Crc && operation.judged);
    if (counted) {
        EXPECT_GT(*errors, 0) << logText(run);
    }
}

// Nothing is left in flight: the next request goes out and is answered.
void checkLinkServes(MatrixRun& run) {
    const std::optional<ExchangeResult> probe = run.probeLink();
    ASSERT_TRUE(probe) << "the next request never went out";
    EXPECT_EQ(probe->end, ExchangeEnd::Reply);
    EXPECT_TRUE(probe->reply.startsWith(QByteArray::fromHex("010402")))
        << probe->reply.toHex(' ').toStdString();
}

Reference runReference(const Operation& operation, const Link& link) {
    const Case c{operation, link, nullptr};
    const Ran ran = runCase(c);
    MatrixRun& run = *ran.run;
    checkEnded(ran, c);
    checkSummary(run, c);
    Reference reference;
    if (operation.shown) reference.shown = operation.shown(run);
    if (!operation.successLine.isEmpty())
        reference.successes = countStartingWith(run.program().log().lines(), operation.successLine);
    EXPECT_TRUE(!operation.shown || reference.shown != ran.before)
        << "the operation shows nothing new without a fault\n"
        << logText(run);
    return reference;
}

void runFaulted(const Case& c, const Reference& reference) {
    const Ran ran = runCase(c);
    MatrixRun& run = *ran.run;
    checkEnded(ran, c);
    checkTold(run, c);
    checkShown(run, ran, c, reference);
    checkSummary(run, c);
    checkLinkServes(run);
}

class FaultMatrix : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultMatrix, EveryFaultEndsTheOperationCleanly) {
    const Operation& operation = Operations().at(GetParam());
    for (const Link& link : kLinks) {
        if (link.tcp && operation.serialOnly) continue;
        SCOPED_TRACE(link.name);
        const Reference reference = runReference(operation, link);
        for (const FaultColumn& fault : kFaults) {
            if (!(link.tcp ? fault.tcp : fault.rtu)) continue;
            SCOPED_TRACE(fault.name);
            runFaulted({operation, link, &fault}, reference);
        }
    }
}

std::string caseName(const ::testing::TestParamInfo<size_t>& info) {
    std::string name = Operations().at(info.param).name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrix, ::testing::Range<size_t>(0, Operations().size()),
                         caseName);

}  // namespace
}  // namespace tarnel::test
