#include "gateway_fixture.h"

namespace tarnel {
namespace {

using Commands = test::GatewayTest;

TEST(LineCode, BaudHighNibbleParityLowBits) {
    EXPECT_EQ(LineCode("2400", "None"), 0x22);
    EXPECT_EQ(LineCode("9600", "Even"), 0x40);
    EXPECT_EQ(LineCode("19200", "Odd"), 0x51);
    EXPECT_EQ(LineCode("115200", "Even"), 0x80);
    EXPECT_EQ(LineCode("19200", ""), 0xFF);
    EXPECT_EQ(LineCode("19200", "odd"), 0xFF);
    EXPECT_EQ(LineCode("14400", "Even"), 0xFF);
}

TEST_F(Commands, UpdateSendsTheReadoutPeriodInSeconds) {
    EXPECT_FALSE(commands.setReadoutPeriod(1, 720));
    EXPECT_EQ(log.lines(), QStringList{"Updating readout time in minutes..."});
    settle();
    EXPECT_EQ(requests(), QStringList{"01 06 00 03 A8 C0 06 5A"});
    EXPECT_TRUE(log.lines().last().startsWith("RCVD:01 06 00 03 A8 C0 "));
    commands.setReadoutPeriod(1, 1);
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 00 03 00 3C"));
}

TEST_F(Commands, OutOfRangeInputsAreCorrected) {
    EXPECT_EQ(commands.setReadoutPeriod(1, 0), 720);
    EXPECT_EQ(commands.writeTimeouts(1, 100, true, false), 30);
    settle();
    EXPECT_TRUE(requests().at(0).startsWith("01 06 00 03 A8 C0"));
    EXPECT_TRUE(requests().at(1).startsWith("01 06 00 04 00 1E"));
}

TEST_F(Commands, BaudAndParityForEitherPort) {
    commands.writeBaudAndParity(1, "19200", "Odd", false);
    settle();
    EXPECT_EQ(requests().last(), "01 06 80 12 00 51 C1 F3");
    EXPECT_EQ(commands.writeBaudAndParity(1, "19200", "Odd", true), "2400");
    settle();
    EXPECT_EQ(requests().last(), "01 06 80 13 00 21 91 D7");
    // 9600 Bd is the M-Bus side's limit, not above it: sent as it is (9600 Even = 0x40).
    EXPECT_EQ(commands.writeBaudAndParity(1, "9600", "Even", true), std::nullopt);
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 80 13 00 40 "))
        << requests().last().toStdString();
}

TEST_F(Commands, InputErrorsLogTheirLineAndSendNothing) {
    EXPECT_FALSE(commands.writeBaudAndParity(1, "19200", "", false));
    commands.writeTimeouts(1, 10, false, false);
    commands.setModbusAddress(1, 255);
    commands.setModbusAddress(1, std::nullopt);
    commands.setFlags(1, {});
    EXPECT_EQ(log.lines(),
              (QStringList{"Wrong baud or parity selected...", "Error in timeouts...",
                           "Invalid new modbus address entered...", "Modbus address not entered"}));
    EXPECT_FALSE(commands.writeBaudAndParity(1, "fast", "Even", true));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "warning");
    settle();
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(Commands, FlagsAndTheSetBit) {
    GatewayCommands::Flags factory;
    factory.factoryDefault = true;
    factory.set = true;
    commands.setFlags(1, factory);
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 00 07 00 92"));
    GatewayCommands::Flags nke;
    nke.nke = true;
    commands.setFlags(1, nke);
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 00 06 00 01"));
}

TEST_F(Commands, NewModbusAddressZeroIsSent) {
    commands.setModbusAddress(1, 0);
    settle();
    EXPECT_TRUE(requests().last().startsWith("01 06 80 11 00 00"));
    EXPECT_EQ(log.lines().first(), "Changing primary address of device...");
}

TEST_F(Commands, TheClockFromThePcsDateAndTime) {
    commands.setClock(1);
    settle();
    // The virtual clock starts on Monday 5 January 2026 at 10:00:00.
    EXPECT_TRUE(requests().last().startsWith("01 10 00 10 00 04 08 00 00 0A 01 05 01 1A 00"));
    EXPECT_EQ(log.lines().first(), "Setting datetime of device...");
}

TEST_F(Commands, NoLinkNoCommand) {
    link.closeSerial();
    log.clear();
    commands.setClock(1);
    EXPECT_EQ(log.lines(), QStringList{"Serial or TCP port for modbus is not open..."});
}

}  // namespace
}  // namespace tarnel
