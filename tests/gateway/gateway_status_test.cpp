#include <QRegularExpression>

#include "gateway_fixture.h"

namespace tarnel {
namespace {

using Status = test::GatewayTest;

TEST(ParseDottedAddress, FourDecimalPartsBelow256) {
    EXPECT_EQ(ParseDottedAddress("10.0.0.1"), (std::array<uint8_t, 4>{10, 0, 0, 1}));
    EXPECT_FALSE(ParseDottedAddress("192.168.1.300"));
    EXPECT_FALSE(ParseDottedAddress("10.256.0.1"));
    EXPECT_EQ(ParseDottedAddress("255.255.255.0"), (std::array<uint8_t, 4>{255, 255, 255, 0}));
    EXPECT_FALSE(ParseDottedAddress("10.0.0"));
    EXPECT_FALSE(ParseDottedAddress("10..0.1"));
    EXPECT_FALSE(ParseDottedAddress("10.0.0.1.2"));
    EXPECT_EQ(IpSettingRegister("Mask"), 55404);
    EXPECT_EQ(IpSettingRegister("Net number (optional)"), 55420);
    EXPECT_FALSE(IpSettingRegister("mask"));
}

TEST_F(Status, TheWholeSequenceOneLineAnAnswer) {
    bool version3 = false;
    gatewayStatus.setVersion = [&](bool v3) { version3 = v3; };
    gatewayStatus.readStatus(1, 600);
    clock.runUntilIdle();
    const QStringList sent = requests();
    ASSERT_EQ(sent.size(), 14);
    EXPECT_EQ(sent[0], "01 04 80 00 00 01 18 0A");
    EXPECT_TRUE(sent[5].startsWith("01 2B 0E 02 00"));
    EXPECT_TRUE(sent[13].startsWith("01 03 D8 7C 00 02"));
    const QStringList lines = log.lines();
    EXPECT_EQ(lines.first(), "Reading settings of device:");
    EXPECT_EQ(lines.last(), "Reading settings finished!");
    EXPECT_TRUE(lines.filter(QRegularExpression("^Active devices: \\d+/\\d+$")).size() == 1)
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter(QRegularExpression("^Modbus card version: \\d+\\.\\d+$")).size(), 1);
    EXPECT_EQ(lines.filter(QRegularExpression("^IP: \\d+\\.\\d+\\.\\d+\\.\\d+$")).size(), 1);
    EXPECT_EQ(lines.filter(QRegularExpression("^NETWORK NUMBER \\(Identification\\): ")).size(), 1);
    EXPECT_TRUE(lines.join('\n').contains("Corvane-64"));
    EXPECT_TRUE(version3) << "the simulator has 28-register entries";
}

TEST_F(Status, VersionAnswersSetTheBoxes) {
    std::optional<bool> version3;
    gatewayStatus.setVersion = [&](bool v3) { version3 = v3; };
    // The gateway does not answer the version read; the test does.
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoReply;
    silent.count = -1;
    silent.registerNumber = 60000;
    rtu.faults().Add(silent);
    for (const auto& [reply, line, v3] :
         {std::tuple{"01 04 02 00 02", "Modbus card version: 0.2", false},
          std::tuple{"01 04 02 01 05", "Modbus card version: 1.5", true}}) {
        // Answer step 5 by hand: the gateway's reply is replaced by the one under test.
        gatewayStatus.readStatus(1, 600);
        for (int step = 1; step < 5; ++step)
            clock.advance(600);
        clock.advance(1);
        serial.received(RtuFrame(test::bytes(reply)));
        clock.advance(599);
        EXPECT_TRUE(log.lines().contains(line)) << line;
        EXPECT_EQ(version3, v3);
        clock.runUntilIdle();
        log.clear();
    }
}

TEST_F(Status, AFailedAnswerStillWritesTheFirstStepsLineWithZeros) {
    sim::Fault exception;
    exception.kind = sim::FaultKind::Exception;
    exception.value = 4;
    exception.count = -1;
    exception.function = 4;
    rtu.faults().Add(exception);
    std::optional<bool> version3;
    gatewayStatus.setVersion = [&](bool v3) { version3 = v3; };
    gatewayStatus.readStatus(1, 600);
    clock.runUntilIdle();
    EXPECT_FALSE(version3.has_value()) << "a failed answer leaves the version boxes";
    const QStringList lines = log.lines();
    EXPECT_TRUE(lines.contains("Active devices: 0/0"));
    EXPECT_TRUE(lines.contains("0x5B"));
    EXPECT_TRUE(lines.contains("Modbus card version: 0.0"));
    EXPECT_TRUE(lines.contains("Error - SLAVE DEVICE FAILURE\r"));
    EXPECT_EQ(lines.last(), "Reading settings finished!");
}

// Three steps in a row without an answer stop the read: nothing more is sent.
TEST_F(Status, ASilentGatewayStopsTheReadAfterThreeSteps) {
    std::optional<StatusResult> end;
    QObject::connect(&gatewayStatus, &GatewayStatus::finished,
                     [&](const StatusResult& result) { end = result; });
    rtu.faults().Add({sim::FaultKind::NoReply, 0, -1, std::nullopt, std::nullopt});
    ASSERT_TRUE(gatewayStatus.readStatus(1, 600));
    settle();
    // The second waited behind fences the gateway did not answer either
    // and never went out.
    EXPECT_EQ(operationRequests(rtu).size(), 2);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->ending, Ending::GatewaySilent);
    EXPECT_EQ(end->unanswered.size(), GatewayStatus::kSteps);
}

TEST_F(Status, ProgramIpListenPortAndSerialNumber) {
    QList<CommandResult> replies;
    QObject::connect(&view, &RegisterView::commandFinished,
                     [&](const CommandResult& result) { replies << result; });
    EXPECT_TRUE(gatewayStatus.programIp(1, "Mask", ParseDottedAddress("10.0.0.1")));
    settle();
    EXPECT_EQ(requests().last(), "01 10 D8 6C 00 02 04 0A 00 00 01 CD CF");
    EXPECT_EQ(log.lines().first(), "Program Mask...");
    EXPECT_TRUE(gatewayStatus.setListenPort(1, 502));
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 DA C2 01 F6"));
    EXPECT_TRUE(gatewayStatus.setSerialNumber(1, "12345678"));
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 10 D8 22 00 02 04 12 34 56 78"));
    ASSERT_EQ(replies.size(), 3) << "one reply a write";
    for (const CommandResult& reply : replies)
        EXPECT_TRUE(reply.acknowledged);
    // Read the address back with the status sequence.
    log.clear();
    gatewayStatus.readStatus(1, 600);
    clock.runUntilIdle();
    EXPECT_TRUE(log.lines().contains("MASK: 10.0.0.1"));
}

TEST_F(Status, NetworkInputErrors) {
    EXPECT_FALSE(gatewayStatus.programIp(1, "Mask", ParseDottedAddress("192.168.1.300")));
    EXPECT_FALSE(gatewayStatus.programIp(1, "Router", ParseDottedAddress("10.0.0.1")));
    EXPECT_FALSE(gatewayStatus.setListenPort(1, 49));
    EXPECT_FALSE(gatewayStatus.setListenPort(1, 65536));  // its low 16 bits would be 0
    EXPECT_FALSE(gatewayStatus.setListenPort(1, std::nullopt));
    EXPECT_FALSE(gatewayStatus.setSerialNumber(1, "1234567"));
    EXPECT_FALSE(gatewayStatus.setSerialNumber(1, "1234x678"));
    settle();
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_EQ(log.lines(),
              (QStringList{"Not an IP address: four numbers 0 to 255 with dots, such as "
                           "192.168.1.10.",
                           "Select the IP setting type to program first.",
                           "Invalid modbus TCP port entered...",
                           "Invalid modbus TCP port entered: the port is 50 to 65535.",
                           "Modbus TCP port not entered", "Wrong ID - must be 8-digit...",
                           "Exception converting ID - 'x' is not a digit"}));
    EXPECT_TRUE(gatewayStatus.setListenPort(1, 65535));
    EXPECT_TRUE(gatewayStatus.setListenPort(1, 50));
}

}  // namespace
}  // namespace tarnel
