#include "link_fixture.h"

namespace tarnel {
namespace {

using test::bytes;
using Link = test::LinkTest;

TEST_F(Link, WithoutFastRepliesRtuRequestsArePacedWithoutBlocking) {
    link.setFastReplies(false);
    openSerial();
    exchange(ReadHoldingRegistersRequest(1, 0, 10));
    EXPECT_EQ(serial.steps, QStringList{"RTS on@0"}) << "nothing waits on the caller's thread";
    clock.advance(30);
    // 10 ms lead, then every byte followed by 2 ms, RTS dropped after the last pause.
    EXPECT_EQ(serial.steps, (QStringList{"RTS on@0", "01@10", "03@12", "00@14", "00@16", "00@18",
                                         "0A@20", "C5@22", "CD@24", "RTS off@26"}));
    EXPECT_TRUE(deadline->isActive()) << "the reply time starts once the request has left";
}

TEST_F(Link, WithFastRepliesARequestGoesOutInOneWriteAfterItsLead) {
    openSerial();
    exchange(ReadHoldingRegistersRequest(1, 0, 10));
    clock.advance(10);
    EXPECT_EQ(serial.steps,
              (QStringList{"RTS on@0", "frame 01 03 00 00 00 0A C5 CD@10", "RTS off@10"}));
    exchange(ReadInputRegistersRequest(1, 1, 125));
    serial.deliver(bytes("01 03 00 00 00"));  // not a whole reply: the exchange goes on
    EXPECT_EQ(serial.steps.size(), 3);
}

TEST_F(Link, TheSerialPathLeavesTheTransactionCounterAlone) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    EXPECT_EQ(link.TransactionId(), 1000);
}

TEST_F(Link, TcpRequestsCarryTheCounterWithoutPausesOrRts) {
    connectTcp();
    exchange(ReadInputRegistersRequest(1, 1, 125));
    exchange(*WriteRegistersRequest(1, 33800, 5, bytes("10 7B 01 7C 16")));
    ASSERT_EQ(tcp.sent.size(), 1) << "the second request waits for the first one's end";
    EXPECT_EQ(tcp.sent[0], bytes("03 E8 00 00 00 06 01 04 00 01 00 7D"));
    clock.advance(600);
    ASSERT_EQ(tcp.sent.size(), 2);
    EXPECT_EQ(tcp.sent[1], bytes("03 E9 00 00 00 0D 01 10 84 08 00 03 06 10 7B 01 7C 16 00"));
    EXPECT_TRUE(serial.steps.isEmpty());
}

TEST_F(Link, TheTransactionCounterStartsAt1000OnEveryConnectAndWraps) {
    connectTcp();
    link.setFastReplies(false);
    exchange(ReadInputRegistersRequest(1, 1, 1));
    tcp.hangUp();
    connectTcp();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    EXPECT_EQ(tcp.sent.last().first(2), bytes("03 E8"));
    for (int i = 0; i < 65536 - 1001; ++i) {
        clock.advance(600);
        exchange(ReadInputRegistersRequest(1, 1, 1));
    }
    EXPECT_EQ(tcp.sent.last().first(2), bytes("FF FF"));
    clock.advance(600);
    exchange(ReadInputRegistersRequest(1, 1, 1));
    EXPECT_EQ(tcp.sent.last().first(2), bytes("00 00"));
    EXPECT_EQ(link.TransactionId(), 65537);
}

TEST_F(Link, GuardAndPurgeBeforeEachRequest) {
    EXPECT_FALSE(link.requireLink());
    EXPECT_EQ(log.lines(), QStringList{"Serial or TCP port for modbus is not open..."});
    exchange(ReadInputRegistersRequest(1, 1, 1));
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].end, ExchangeEnd::LinkLost) << "no link, no exchange";
    openSerial();
    EXPECT_TRUE(link.requireLink());
    exchange(ReadInputRegistersRequest(1, 1, 1));
    EXPECT_EQ(serial.purges, 1) << "the link purges just before it sends";
    serial.deliver(bytes("01 04 02 00 0A 39 37"));
    link.closeSerial();
    connectTcp();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    EXPECT_EQ(serial.purges, 1) << "no serial port to purge";
}

// The device goes away between its event thread's checks: the purge before
// the next request fails. The link goes down and the exchange ends lost.
TEST_F(Link, APurgeThatFailsIsADeviceGoneNotAnError) {
    openSerial();
    log.clear();
    serial.purgeError = "Error clearing buffers (5), Input/output error";
    exchange(ReadInputRegistersRequest(1, 1, 1));
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].end, ExchangeEnd::LinkLost);
    EXPECT_FALSE(link.SerialOpen());
    EXPECT_EQ(log.lines(),
              (QStringList{"Serial device COM1 went away...", "Serial port for modbus closed"}));
}

TEST_F(Link, AFloodingPeerCannotGrowTheReplyBeyondItsCap) {
    openSerial();
    link.setFastReplies(false);
    exchange(ReadInputRegistersRequest(1, 1, 1));
    const QByteArray chunk(4096, '\x55');
    for (int i = 0; i < 40; ++i)
        serial.deliver(chunk);
    clock.advance(600);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].reply.size(), GatewayLink::kMaxBuffer);
}

TEST_F(Link, ReportShowsCrcErrorsInTheStatusBar) {
    link.report(ValidateResponse(bytes("01 04 02 00 0A 00 00")).report);
    EXPECT_EQ(log.lines(), QStringList{"Error in CRC field\r"});
    EXPECT_EQ(status.text(StatusPanels::Crc), "Error in CRC field");
}

}  // namespace
}  // namespace tarnel
