#include "link_fixture.h"

namespace tarnel {
namespace {

using test::bytes;
using Link = test::LinkTest;

TEST_F(Link, RtuRequestsArePacedWithRtsAroundTheFrameWithoutBlocking) {
    openSerial();
    bool sent = false;
    link.SendReadHoldingRegisters(1, 0, 10, [&] { sent = true; });
    EXPECT_EQ(serial.steps, QStringList{"RTS on@0"}) << "nothing waits on the caller's thread";
    EXPECT_FALSE(sent);
    clock.runUntilIdle();
    EXPECT_TRUE(sent);
    // 10 ms lead, then every byte followed by 2 ms, RTS dropped after the last pause.
    EXPECT_EQ(serial.steps, (QStringList{"RTS on@0", "01@10", "03@12", "00@14", "00@16", "00@18",
                                         "0A@20", "C5@22", "CD@24", "RTS off@26"}));
}

TEST_F(Link, ReadInputRegistersGoesOutAtOnce) {
    openSerial();
    int sent = 0;
    link.SendReadInputRegisters(1, 1, 125, [&] { ++sent; });
    EXPECT_EQ(serial.steps, (QStringList{"RTS on@0", "01@0", "04@0", "00@0", "01@0", "00@0", "7D@0",
                                         "61@0", "EB@0", "RTS off@0"}));
    EXPECT_EQ(sent, 1);
}

TEST_F(Link, AFrameSentWhileAnotherGoesOutWaitsForIt) {
    openSerial();
    QStringList done;
    link.SendWriteSingleRegister(1, 0, 0x00, 0x05, [&] { done << "first"; });
    link.SendReadInputRegisters(1, 33799, 1, [&] { done << "second"; });
    clock.runUntilIdle();
    EXPECT_EQ(done, (QStringList{"first", "second"}));
    EXPECT_EQ(serial.written, bytes("01 06 00 00 00 05") + serial.written.mid(6, 2) +
                                  bytes("01 04 84 07 00 01") + serial.written.right(2));
    EXPECT_EQ(serial.steps.filter("RTS").size(), 4);
    EXPECT_EQ(serial.steps.at(9), "RTS off@16") << "8 bytes, 2 ms after each";
    EXPECT_EQ(serial.steps.at(10), "RTS on@16");
}

TEST_F(Link, TheSerialPathLeavesTheTransactionCounterAlone) {
    openSerial();
    link.SendReadInputRegisters(1, 1, 1);
    EXPECT_EQ(link.TransactionId(), 1000);
}

TEST_F(Link, TcpRequestsCarryTheCounterWithoutPausesOrRts) {
    connectTcp();
    bool sent = false;
    link.SendReadInputRegisters(1, 1, 125, [&] { sent = true; });
    link.SendWriteRegisters(1, 33800, 5, bytes("10 7B 01 7C 16"));
    EXPECT_TRUE(sent);
    ASSERT_EQ(tcp.sent.size(), 2);
    EXPECT_EQ(tcp.sent[0], bytes("03 E8 00 00 00 06 01 04 00 01 00 7D"));
    EXPECT_EQ(tcp.sent[1], bytes("03 E9 00 00 00 0D 01 10 84 08 00 03 06 10 7B 01 7C 16 00"));
    EXPECT_TRUE(serial.steps.isEmpty());
    EXPECT_EQ(clock.armedTimers(), 0) << "no pause in TCP mode";
}

TEST_F(Link, TheCounterStartsAgainAt1000OnEveryConnect) {
    connectTcp();
    link.SendReadInputRegisters(1, 1, 1);
    link.SendReadInputRegisters(1, 1, 1);
    tcp.hangUp();
    connectTcp();
    link.SendReadInputRegisters(1, 1, 1);
    EXPECT_EQ(tcp.sent.last().first(2), bytes("03 E8"));
}

TEST_F(Link, TheTransactionIdentifierWrapsAfter65535) {
    connectTcp();
    for (int i = 0; i < 65536 - 1000; ++i)
        link.SendReadInputRegisters(1, 1, 1);
    EXPECT_EQ(tcp.sent.last().first(2), bytes("FF FF"));
    link.SendReadInputRegisters(1, 1, 1);
    EXPECT_EQ(tcp.sent.last().first(2), bytes("00 00"));
    EXPECT_EQ(link.TransactionId(), 65537);
}

TEST_F(Link, SetClockRefusesOtherCountsAndTakesTheCounterInTcp) {
    openSerial();
    EXPECT_FALSE(link.SendSetClock(1, 16, 3));
    EXPECT_EQ(log.lines(), QStringList{"Not allowable register count!"});
    EXPECT_TRUE(serial.steps.isEmpty());
    link.closeSerial();
    connectTcp();
    EXPECT_FALSE(link.SendSetClock(1, 16, 5));
    EXPECT_EQ(link.TransactionId(), 1001);
    EXPECT_TRUE(tcp.sent.isEmpty());
    EXPECT_TRUE(link.SendSetClock(1, 16, 4));
    // The virtual clock starts on Monday 5 January 2026, 10:00:00.
    EXPECT_EQ(tcp.sent.last(),
              bytes("03 E9 00 00 00 0F 01 10 00 10 00 04 08 00 00 0A 01 05 01 1A 00"));
}

TEST_F(Link, APayloadAbove238BytesIsRefusedWithALine) {
    openSerial();
    EXPECT_FALSE(link.SendWriteRegisters(1, 33800, 239, QByteArray(239, '\x10')));
    EXPECT_TRUE(serial.steps.isEmpty());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("Request not sent"));
}

TEST_F(Link, GuardPrepareAndTakeReply) {
    EXPECT_FALSE(link.requireLink());
    EXPECT_EQ(log.lines(), QStringList{"Serial or TCP port for modbus is not open..."});
    openSerial();
    EXPECT_TRUE(link.requireLink());
    serial.deliver(bytes("FF"));
    link.prepareRequest();
    EXPECT_EQ(serial.purges, 1);
    EXPECT_TRUE(link.SerialRxBuffer().isEmpty());
    serial.deliver(bytes("01 04 02"));
    serial.deliver(bytes("00 0A 39 37"));
    EXPECT_EQ(link.takeReply(), bytes("01 04 02 00 0A 39 37"));
    EXPECT_EQ(log.lines().last(), "RCVD:01 04 02 00 0A 39 37 ");
}

TEST_F(Link, InTcpModeTheReplyIsTakenInRtuForm) {
    connectTcp();
    link.prepareRequest();
    EXPECT_EQ(serial.purges, 0) << "no serial port to purge";
    tcp.deliver(bytes("00 01 00 00 00 05 01 04 02 00 0A"));
    EXPECT_EQ(link.takeReply(), bytes("01 04 02 00 0A 39 37"));
    tcp.deliver(bytes("00 01 00 00 00"));
    link.clearBuffers();
    tcp.deliver(bytes("00 01 00 00 00"));
    EXPECT_TRUE(link.takeReply().isEmpty());
    EXPECT_EQ(log.lines().mid(1), (QStringList{"Error, raw TCP data: 00 01 00 00 00 ", "RCVD:"}));
}

TEST_F(Link, AFloodingPeerCannotGrowTheBuffersBeyondTheirCap) {
    openSerial();
    const QByteArray chunk(4096, '\x55');
    for (int i = 0; i < 40; ++i)
        serial.deliver(chunk);
    EXPECT_EQ(link.SerialRxBuffer().size(), GatewayLink::kMaxBuffer);
}

TEST_F(Link, ReportShowsCrcErrorsInTheStatusBar) {
    link.report(ValidateResponse(bytes("01 04 02 00 0A 00 00")).report);
    EXPECT_EQ(log.lines(), QStringList{"Error in CRC field\r"});
    EXPECT_EQ(status.text(StatusPanels::Crc), "Error in CRC field");
}

}  // namespace
}  // namespace tarnel
