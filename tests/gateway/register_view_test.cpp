#include <QRegularExpression>

#include "gateway_fixture.h"
#include "link/register_map.h"
#include "ops/command_console.h"

namespace tarnel {
namespace {

using RegisterViewTest = test::GatewayTest;

TEST_F(RegisterViewTest, ReadsABlockIntoTheGrid) {
    commands.setReadoutPeriod(1, 1);  // readout period 60 s into holding register 3
    settle();
    log.clear();
    rtu.ClearRecords();
    view.read({1, 3, 1, false, 600});
    EXPECT_EQ(log.lines(), QStringList{"Reading free number of registers..."});
    // A 10 ms lead and 2 ms after each of the 8 bytes, then the time-out.
    clock.advance(26 + 599);
    EXPECT_EQ(log.lines().size(), 1) << "the reply waits for the time-out";
    clock.advance(1);
    EXPECT_EQ(requests(), QStringList{"01 03 00 03 00 01 74 0A"});
    EXPECT_EQ(log.lines().last(), "RCVD:01 03 02 00 3C B8 55 ");
    EXPECT_EQ(grid.rowTexts(1), (QStringList{"3", "00", "", "3C", "", "10:00:01"}));
    EXPECT_EQ(grid.rows(), 3);
}

TEST_F(RegisterViewTest, StartOneHundredCountThreeNumbersTheRowsFromTheRequest) {
    view.read({1, 100, 3, true, 600});
    clock.advance(600);
    EXPECT_EQ(requests().value(0).left(17), "01 04 00 64 00 03");
    // The rows are numbered 100, 101, 102 whatever the reply says.
    if (grid.rows() == 5) {
        EXPECT_EQ(grid.cell(1, 0), "100");
        EXPECT_EQ(grid.cell(3, 0), "102");
    } else {
        EXPECT_TRUE(log.lines().join('\n').contains("Error - ILLEGAL DATA ADDRESS"));
    }
}

TEST_F(RegisterViewTest, InputErrorsSendNothing) {
    view.read({1, std::nullopt, 125, true, 600});
    EXPECT_EQ(log.lines(), QStringList{"Enter proper initial conditions..."});
    link.closeSerial();
    log.clear();
    view.read({1, 1, 125, true, 600});
    EXPECT_EQ(log.lines(), QStringList{"Serial or TCP port for modbus is not open..."});
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(RegisterViewTest, ACountAboveTheProtocolLimitShowsTheGatewaysException) {
    view.read({1, 1, 200, true, 600});
    clock.advance(600);
    EXPECT_EQ(requests().value(0).left(17), "01 04 00 01 00 C8");
    EXPECT_TRUE(log.lines().contains("Error - ILLEGAL DATA VALUE\r"));
    EXPECT_EQ(grid.rows(), 2);
}

TEST_F(RegisterViewTest, AutomaticReadKeepsOnlyTheLatestReply) {
    QObject::connect(&view, &RegisterView::automaticRead, [&] {
        view.read({1, 3, 2, false, 600});
    });
    view.setAutomaticPeriod(5);
    view.setAutomatic(true);
    clock.advance(5000 + 26 + 600);
    EXPECT_EQ(grid.rows(), 4);
    clock.advance(5000);
    EXPECT_EQ(grid.rows(), 4) << "each reply replaces the rows";
    EXPECT_EQ(requests().size(), 2);
    view.setAutomatic(false);
    clock.advance(20000);
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(RegisterViewTest, ACommandReplyAddsNoRows) {
    commands.setClock(1);
    settle();
    EXPECT_EQ(grid.rows(), 2);
    EXPECT_TRUE(log.lines().last().startsWith("RCVD:01 10 00 10 00 04 "));
}

TEST_F(RegisterViewTest, AReadDuringAnotherExchangeLeavesThatExchangesReplyAlone) {
    Timer* freeCommand = clock.createTimer(&owner, "Timer_free_command");
    CommandConsole console{link, *freeCommand};
    // "Read real addresses", then "Read registers" while its reply is on its way.
    console.request(ReadInputRegistersRequest(1, reg::kAddressMap, reg::kAddressMapRegisters), 600,
                    CommandConsole::Awaited::AddressMap, [this](const ExchangeResult& result) {
                        link.report(ParseAddressMapResponse(result.reply));
                    });
    clock.advance(30);
    view.read({1, 3, 1, false, 600});
    settle();
    EXPECT_EQ(log.lines().filter(QRegularExpression("^Modbus \\d+ -> Mbus \\d+$")).size(), 64);
    EXPECT_EQ(grid.rows(), 3) << "and the register read has its own reply";
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(RegisterViewTest, RepliesOverTcp) {
    useTcp();
    view.read({1, 3, 1, false, 600});
    settle();
    EXPECT_EQ(requests(tcpEndpoint), QStringList{"03 E8 00 00 00 06 01 03 00 03 00 01"});
    EXPECT_EQ(grid.rows(), 3);
}

TEST_F(RegisterViewTest, FaultsShowTheirLinesAndAddNoRows) {
    std::optional<RegisterReadResult> read;
    QObject::connect(&view, &RegisterView::readFinished,
                     [&](const RegisterReadResult& result) { read = result; });
    const auto withFault = [&](sim::FaultKind kind, int value = 0) {
        sim::Fault fault;
        fault.kind = kind;
        fault.value = value;
        fault.function = 3;  // the read's, not a fence's
        rtu.faults().Add(fault);
        log.clear();
        read.reset();
        view.read({1, 3, 1, false, 600});
        settle();
        return log.lines();
    };
    EXPECT_EQ(withFault(sim::FaultKind::NoReply).last(), "RCVD:");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ending, Ending::NoAnswer) << "a silent gateway is not an empty read";
    EXPECT_TRUE(withFault(sim::FaultKind::WrongCrc).contains("Error in CRC field\r"));
    EXPECT_EQ(status.text(StatusPanels::Crc), "Error in CRC field");
    EXPECT_TRUE(withFault(sim::FaultKind::Exception, 2).contains("Error - ILLEGAL DATA ADDRESS\r"));
    EXPECT_TRUE(withFault(sim::FaultKind::LeadingZero).contains("Error in CRC field\r"));
    EXPECT_TRUE(
        withFault(sim::FaultKind::WrongUnit)
            .contains("Ignored a reply that does not answer the request: unit 2, expected 1"));
    EXPECT_EQ(grid.rows(), 2);
    withFault(sim::FaultKind::Filler);
    EXPECT_EQ(grid.rows(), 3) << "a trailing filler byte is tolerated";
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ending, Ending::Done);
    EXPECT_EQ(read->start, 3);
    EXPECT_EQ(read->registers.size(), 1);
}

}  // namespace
}  // namespace tarnel
