// The link's one request in flight: when an exchange ends, which reply it
// takes, and what a late reply, a cancel or a lost link do.
#include "link_fixture.h"

namespace tarnel {
namespace {

using test::bytes;
using Exchanges = test::LinkTest;

const QByteArray kReply = bytes("01 04 02 00 0A 39 37");  // to a read of one input register

TEST_F(Exchanges, AWholeReplyEndsTheExchangeAtOnceOnlyWithFastReplies) {
    for (const bool fast : {true, false}) {
        results.clear();
        link.setFastReplies(fast);
        openSerial();
        exchange(ReadInputRegistersRequest(1, 1, 1));
        clock.advance(5);
        serial.deliver(kReply);
        EXPECT_EQ(results.size(), fast ? 1 : 0);
        clock.advance(595);
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results[0].end, ExchangeEnd::Reply);
        EXPECT_EQ(results[0].reply, kReply);
        EXPECT_FALSE(deadline->isActive());
        link.closeSerial();
    }
}

TEST_F(Exchanges, RepliesThatCannotBeFramedAreLeftToTheTimeOutAndGivenAsTheyCame) {
    const QByteArray cases[] = {
        bytes("00") + kReply,           // a leading 0x00
        bytes("01 04 02 00 0A 00 00"),  // a wrong CRC
        kReply + kReply,                // two replies in one
        bytes("02 04 02 00 0A 39 37"),  // another unit
    };
    openSerial();
    for (const QByteArray& received : cases) {
        results.clear();
        clock.advance(1000);  // past any settle time
        exchange(ReadInputRegistersRequest(1, 1, 1));
        serial.deliver(received);
        clock.advance(599);
        EXPECT_TRUE(results.isEmpty()) << received.toHex(' ').toStdString();
        clock.advance(1);
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results[0].end, ExchangeEnd::TimedOut);
        EXPECT_EQ(results[0].reply, received);
    }
}

TEST_F(Exchanges, AReplySplitInTwoEndsWhenItIsWhole) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    serial.deliver(kReply.first(3));
    clock.advance(40);
    EXPECT_TRUE(results.isEmpty());
    serial.deliver(kReply.sliced(3));
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].reply, kReply);
}

TEST_F(Exchanges, ALateSerialReplyIsDroppedWhileTheLineSettles) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    clock.advance(600);  // timed out
    exchange(ReadInputRegistersRequest(1, 2, 1));
    const qsizetype written = serial.written.size();
    EXPECT_EQ(written, 8) << "the next request waits for the line to settle";
    clock.advance(100);
    serial.deliver(kReply);  // the late reply to the first request
    clock.advance(GatewayLink::kSettleMs - 1);
    EXPECT_EQ(serial.written.size(), written) << "quiet is counted from the last byte";
    clock.advance(1);
    EXPECT_EQ(serial.written.size(), 16);
    clock.advance(600);
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[1].end, ExchangeEnd::TimedOut);
    EXPECT_TRUE(results[1].reply.isEmpty()) << "the late reply is not the second one's";
}

TEST_F(Exchanges, ALineThatNeverGoesQuietDelaysTheNextRequestOnlySoLong) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    clock.advance(600);  // timed out
    exchange(ReadInputRegistersRequest(1, 2, 1));
    for (int ms = 0; ms < GatewayLink::kMaxSettleMs; ms += 50) {
        EXPECT_EQ(serial.written.size(), 8) << ms;
        serial.deliver(bytes("FF"));  // noise, every 50 ms
        clock.advance(50);
    }
    EXPECT_EQ(serial.written.size(), 16) << "sent once the longest settle has passed";
}

TEST_F(Exchanges, OnTcpOnlyTheReplyOfTheRequestsTransactionIsTaken) {
    connectTcp();
    exchange(ReadInputRegistersRequest(1, 1, 1));  // transaction 1000
    clock.advance(600);
    exchange(ReadInputRegistersRequest(1, 1, 1));  // 1001: goes out at once
    ASSERT_EQ(tcp.sent.size(), 2);
    tcp.deliver(bytes("03 E8 00 00 00 05 01 04 02 00 07"));  // late, for 1000
    tcp.deliver(bytes("03 E9 00 00 00 05 02 04 02 00 07"));  // another unit
    EXPECT_EQ(results.size(), 1);
    tcp.deliver(bytes("03 E9 00 00 00 05 01 04 02 00 0A"));
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[1].end, ExchangeEnd::Reply);
    EXPECT_EQ(results[1].reply, kReply) << "in RTU form";
}

TEST_F(Exchanges, ATcpReplyWhoseLengthDisagreesIsReportedRawAndNotUsed) {
    connectTcp();
    for (const char* received :
         {"03 E8 00 00 00 05 01 04 02 00 0A 00 00", "03 E9 00 00 00 09 01 04", "03 EA 00 00 00"}) {
        results.clear();
        exchange(ReadInputRegistersRequest(1, 1, 1));
        tcp.deliver(bytes(received));
        clock.advance(600);
        ASSERT_EQ(results.size(), 1);
        EXPECT_TRUE(results[0].reply.isEmpty()) << received;
        EXPECT_EQ(results[0].lines,
                  QStringList{"Error, raw TCP data: " + QString(received).toUpper() + " "});
    }
}

TEST_F(Exchanges, CancelEndsTheOwnersExchangesAndTheNextOneGoesOn) {
    openSerial();
    QObject other;
    Timer* otherDeadline = clock.createTimer(&other);
    QList<ExchangeEnd> others;
    exchange(ReadInputRegistersRequest(1, 1, 1));
    link.exchange(&other, ReadInputRegistersRequest(1, 2, 1), *otherDeadline, 600,
                  [&](const ExchangeResult& result) { others << result.end; });
    exchange(ReadInputRegistersRequest(1, 3, 1));
    EXPECT_TRUE(link.busy(&owner));
    link.cancel(&owner);
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[0].end, ExchangeEnd::Cancelled);
    EXPECT_EQ(results[1].end, ExchangeEnd::Cancelled);
    EXPECT_FALSE(link.busy(&owner));
    EXPECT_FALSE(deadline->isActive());
    clock.advance(GatewayLink::kSettleMs);
    EXPECT_EQ(serial.written.size(), 16) << "the other owner's request went out";
    serial.deliver(bytes("01 04 02 00 0A 39 37"));
    EXPECT_EQ(others, QList<ExchangeEnd>{ExchangeEnd::Reply});
}

TEST_F(Exchanges, ALostLinkEndsEveryExchangeAndSaysSo) {
    const struct {
        const char* how;
        std::function<void(test::LinkTest&)> up, down;
    } cases[] = {
        {"unplugged", [](auto& t) { t.openSerial(); }, [](auto& t) { t.serial.unplug(); }},
        {"closed", [](auto& t) { t.openSerial(); }, [](auto& t) { t.link.closeSerial(); }},
        {"hung up", [](auto& t) { t.connectTcp(); }, [](auto& t) { t.tcp.hangUp(); }},
    };
    for (const auto& c : cases) {
        results.clear();
        int lost = 0;
        const auto connection = QObject::connect(&link, &GatewayLink::linkLost, [&] { ++lost; });
        c.up(*this);
        exchange(ReadInputRegistersRequest(1, 1, 1));
        exchange(ReadInputRegistersRequest(1, 2, 1));
        c.down(*this);
        ASSERT_EQ(results.size(), 2) << c.how;
        EXPECT_EQ(results[0].end, ExchangeEnd::LinkLost) << c.how;
        EXPECT_EQ(results[1].end, ExchangeEnd::LinkLost) << c.how;
        EXPECT_EQ(lost, 1) << c.how;
        EXPECT_EQ(clock.armedTimers(), 0) << c.how;
        QObject::disconnect(connection);
    }
}

}  // namespace
}  // namespace tarnel
