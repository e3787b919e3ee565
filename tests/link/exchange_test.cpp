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
        kReply + bytes("01"),           // a trailing byte that is no 0x00 filler
    };
    for (const QByteArray& received : cases) {
        openSerial();  // on a fresh line: no late reply owed
        results.clear();
        exchange(ReadInputRegistersRequest(1, 1, 1));
        serial.deliver(received);
        clock.advance(599);
        EXPECT_TRUE(results.isEmpty()) << received.toHex(' ').toStdString();
        clock.advance(1);
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results[0].end, ExchangeEnd::TimedOut);
        EXPECT_EQ(results[0].reply, received);
        link.closeSerial();
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

// One table across both framings: each reply is confirmed against its
// request before anyone sees it. Replies are written without their CRC (RTU)
// or MBAP header (TCP), which the test adds.
TEST_F(Exchanges, EveryReplyIsConfirmedAgainstItsRequestOnBothLinks) {
    const QString ignored = "Ignored a reply that does not answer the request: ";
    const QByteArray multiple = bytes("01 10 84 08 00 03 06 10 7B 01 7C 16 00");
    const struct {
        QByteArray request;
        const char* reply;
        ExchangeEnd end;
        QString why;
    } cases[] = {
        {ReadInputRegistersRequest(1, 1, 1).adu, "01 04 02 00 0A", ExchangeEnd::Reply, {}},
        {ReadInputRegistersRequest(1, 1, 1).adu, "01 84 02", ExchangeEnd::Reply, {}},
        {ReadInputRegistersRequest(1, 1, 1).adu, "02 04 02 00 0A", ExchangeEnd::Refused,
         "unit 2, expected 1"},
        {ReadInputRegistersRequest(1, 1, 1).adu, "01 03 02 00 0A", ExchangeEnd::Refused,
         "function 3, expected 4"},
        {ReadInputRegistersRequest(1, 1, 1).adu, "01 83 02", ExchangeEnd::Refused,
         "function 3, expected 4"},
        {ReadInputRegistersRequest(1, 1, 2).adu, "01 04 02 00 0A", ExchangeEnd::Refused,
         "byte count 2, expected 4"},
        {ReadHoldingRegistersRequest(7, 55400, 2).adu,
         "07 03 04 C0 A8 01 03",
         ExchangeEnd::Reply,
         {}},
        {WriteSingleRegisterRequest(1, 0, 0x00, 0x07).adu,
         "01 06 00 00 00 07",
         ExchangeEnd::Reply,
         {}},
        {WriteSingleRegisterRequest(1, 0, 0x00, 0x07).adu, "01 06 00 00 00 05",
         ExchangeEnd::Refused, "echo of register 0 value 0x0005, expected register 0 value 0x0007"},
        {multiple, "01 10 84 08 00 03", ExchangeEnd::Reply, {}},
        {multiple, "01 10 84 08 00 02", ExchangeEnd::Refused,
         "echo of register 33800 quantity 0x0002, expected register 33800 quantity 0x0003"},
        {ReadDeviceIdRequest(1, 2).adu,
         "01 2B 0E 02 01 00 00 01 00 02 41 42",
         ExchangeEnd::Reply,
         {}},
        {ReadDeviceIdRequest(1, 2).adu, "01 2B 0E 01 01 00 00 01 00 02 41 42", ExchangeEnd::Refused,
         "identification code 1, expected 2"},
    };
    for (const bool tcpLink : {false, true}) {
        if (tcpLink) connectTcp();
        for (const auto& c : cases) {
            const std::string what = std::string(tcpLink ? "TCP / " : "RTU / ") + c.reply;
            if (!tcpLink) openSerial();  // on a fresh line: no late reply owed
            results.clear();
            log.clear();
            const uint16_t transaction = static_cast<uint16_t>(link.TransactionId());
            link.exchange(&owner, ModbusRequest{c.request}, *deadline, 600,
                          [this](const ExchangeResult& result) { results << result; });
            const QByteArray adu = bytes(c.reply);
            if (tcpLink)
                tcp.deliver(TcpFrame(transaction, adu));
            else
                serial.deliver(RtuFrame(adu));
            // A confirmed reply ends the exchange at once; one refused, at its time.
            EXPECT_EQ(results.size(), c.end == ExchangeEnd::Reply ? 1 : 0) << what;
            clock.advance(600);
            ASSERT_EQ(results.size(), 1) << what;
            EXPECT_EQ(results[0].end, c.end) << what;
            EXPECT_EQ(results[0].reply, c.end == ExchangeEnd::Reply ? RtuFrame(adu) : QByteArray())
                << what;
            EXPECT_EQ(results[0].lines,
                      c.why.isEmpty() ? QStringList() : QStringList{ignored + c.why})
                << what;
            if (!tcpLink) link.closeSerial();
        }
    }
}

TEST_F(Exchanges, AnotherUnitsReplyBeforeTheReplyIsSetAsideAndNamed) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    serial.deliver(bytes("02 04 02 00 0A 7D 37") + kReply);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].end, ExchangeEnd::Reply);
    EXPECT_EQ(results[0].reply, kReply);
    EXPECT_EQ(results[0].lines,
              QStringList{"Ignored a reply that does not answer the request: unit 2, expected 1"});
}

// After an unanswered read, the next read of the same unit and function
// could take its late reply: a fence (one register by function 3) goes
// first, and what came before the fence's reply is dropped with a line. When
// the fence goes unanswered too, the read it guarded ends unanswered unsent.
TEST_F(Exchanges, ALateReplyIsNeverTakenForTheNextRequestOfItsShape) {
    const QByteArray late = bytes("01 04 02 00 07 F8 F2");
    const struct {
        const char* what;
        int lateAt;  // ms after the first read went out; -1 never
        bool fenceAnswered;
        QString line;
    } cases[] = {
        {"while the fence goes out", 605, true,
         "Ignored bytes that came while the request went out: 01 04 02 00 07 F8 F2 "},
        {"during the fence", 700, true,
         "Ignored a reply that does not answer the request: function 4, expected 3"},
        {"never", -1, true, {}},
        {"during an unanswered fence", 700, false,
         "Ignored a reply that does not answer the request: function 4, expected 3"},
    };
    for (const auto& c : cases) {
        openSerial();
        serial.written.clear();
        results.clear();
        const qint64 start = clock.elapsed();
        const auto at = [&](int ms) {
            clock.advance(static_cast<int>(start + ms - clock.elapsed()));
        };
        exchange(ReadInputRegistersRequest(1, 1, 1));
        at(600);
        exchange(ReadInputRegistersRequest(1, 2, 1));
        if (c.lateAt >= 0) {
            at(c.lateAt);
            serial.deliver(late);
        }
        at(720);
        EXPECT_EQ(serial.written.mid(8), bytes("01 03 D8 23 00 01 4F 60")) << c.what;
        if (c.fenceAnswered) serial.deliver(bytes("01 03 02 12 34 B5 33"));
        at(723);  // 3.5 characters of 19200 8E1 after the fence's reply
        at(1300);
        if (!c.fenceAnswered) {  // a second fence after the first one's time
            EXPECT_EQ(serial.written.mid(16), bytes("01 04 E8 6D 00 02 D5 B6")) << c.what;
            at(5000);  // and two more
        }
        if (c.fenceAnswered) {
            EXPECT_EQ(serial.written.mid(16), RtuFrame(bytes("01 04 00 02 00 01"))) << c.what;
            serial.deliver(kReply);
        }
        ASSERT_EQ(results.size(), 2) << c.what;
        EXPECT_EQ(results[1].end, c.fenceAnswered ? ExchangeEnd::Reply : ExchangeEnd::TimedOut)
            << c.what;
        EXPECT_EQ(results[1].reply, c.fenceAnswered ? kReply : QByteArray()) << c.what;
        EXPECT_EQ(log.lines(), c.line.isEmpty() ? QStringList() : QStringList{c.line}) << c.what;
        link.closeSerial();
    }
}

// Frames on the serial line are kept apart by 3.5 characters: 2.005 ms at
// 19200 8E1 (the next whole millisecond on the clock), 1.75 ms above 19200.
TEST_F(Exchanges, TheNextRequestWaitsThreeAndAHalfCharactersAfterTheLastByte) {
    for (const auto& [speed, waitMs] : {std::pair{"19200", 3}, std::pair{"38400", 2}}) {
        link.openSerial(SerialSettingsFromTexts("COM1", speed, "Even", "1"));
        serial.written.clear();
        results.clear();
        exchange(ReadInputRegistersRequest(1, 1, 1));
        serial.deliver(kReply);
        ASSERT_EQ(results.size(), 1) << speed;
        exchange(ReadInputRegistersRequest(1, 1, 1));
        clock.advance(waitMs - 1);
        EXPECT_EQ(serial.written.size(), 8) << speed;
        clock.advance(1);
        EXPECT_EQ(serial.written.size(), 16) << speed;
        link.closeSerial();
    }
}

// Noise that never stops holds a request back for its own time at most.
TEST_F(Exchanges, ALineThatNeverGoesQuietHoldsTheNextRequestItsTimeAtMost) {
    openSerial();
    exchange(ReadInputRegistersRequest(1, 1, 1));
    serial.deliver(kReply);
    exchange(ReadInputRegistersRequest(1, 1, 1));
    for (int ms = 0; ms < 600; ++ms) {
        EXPECT_EQ(serial.written.size(), 8) << ms;
        serial.deliver(bytes("FF"));  // noise, every millisecond
        clock.advance(1);
    }
    EXPECT_EQ(serial.written.size(), 16);
}

TEST_F(Exchanges, BytesThatComeWhileTheRequestGoesOutAreNotItsReply) {
    link.setFastReplies(false);  // paced: 2 ms after each byte
    openSerial();
    exchange(WriteSingleRegisterRequest(1, 0, 0x00, 0x07));
    clock.advance(3);
    const QByteArray echo = RtuFrame(bytes("01 06 00 00 00 07"));
    serial.deliver(echo);  // before the request's last byte
    clock.advance(20);
    EXPECT_EQ(log.lines(), QStringList{"Ignored bytes that came while the request went out: " +
                                       HexBytesText(echo)});
    clock.advance(600);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].end, ExchangeEnd::TimedOut);
    EXPECT_TRUE(results[0].reply.isEmpty());
}

TEST_F(Exchanges, OnTcpOnlyTheReplyOfTheRequestsTransactionIsTaken) {
    connectTcp();
    exchange(ReadInputRegistersRequest(1, 1, 1));  // transaction 1000
    clock.advance(600);
    exchange(ReadInputRegistersRequest(1, 1, 1));  // 1001: goes out at once
    ASSERT_EQ(tcp.sent.size(), 2);
    tcp.deliver(bytes("03 E8 00 00 00 05 01 04 02 00 07"));  // late, for 1000
    EXPECT_EQ(results.size(), 1);
    tcp.deliver(bytes("03 E9 00 00 00 05 01 04 02 00 0A"));
    ASSERT_EQ(results.size(), 2);
    EXPECT_EQ(results[1].end, ExchangeEnd::Reply);
    EXPECT_EQ(results[1].reply, kReply) << "in RTU form";
}

// The first reply of a transaction ends its exchange; a second one with the
// same id, coming before or after the next request went out, never answers
// that request.
TEST_F(Exchanges, ASecondTcpReplyOfOneTransactionIsNotTheNextOnesAnswer) {
    connectTcp();
    for (const bool beforeNext : {true, false}) {
        results.clear();
        const auto transaction = static_cast<uint16_t>(link.TransactionId());
        exchange(ReadInputRegistersRequest(1, 1, 1));
        tcp.deliver(TcpFrame(transaction, bytes("01 04 02 00 0A")));
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(results[0].reply, kReply);
        const QByteArray again = TcpFrame(transaction, bytes("01 04 02 00 07"));
        if (beforeNext) tcp.deliver(again);
        exchange(ReadInputRegistersRequest(1, 1, 1));
        if (!beforeNext) tcp.deliver(again);
        clock.advance(599);
        EXPECT_EQ(results.size(), 1) << beforeNext;
        clock.advance(1);
        ASSERT_EQ(results.size(), 2) << beforeNext;
        EXPECT_EQ(results[1].end, ExchangeEnd::TimedOut) << beforeNext;
        EXPECT_TRUE(results[1].reply.isEmpty()) << beforeNext;
    }
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
    // The cancelled request may still be answered: a fence goes first, once
    // the line has been quiet for 3.5 characters, after its 10 ms lead.
    clock.advance(3 + 10);
    EXPECT_EQ(serial.written.mid(8), bytes("01 03 D8 23 00 01 4F 60"));
    serial.deliver(bytes("01 03 02 12 34 B5 33"));
    clock.advance(3);
    EXPECT_EQ(serial.written.mid(16), RtuFrame(bytes("01 04 00 02 00 01")))
        << "the other owner's request went out";
    serial.deliver(kReply);
    EXPECT_EQ(others, QList<ExchangeEnd>{ExchangeEnd::Reply});
}

// On TCP a request goes out as soon as the one before it ended: a cancel
// drops the owner's waiting requests before it ends the one in flight, so
// none of them is sent only to be reported cancelled.
TEST_F(Exchanges, CancelSendsNoneOfTheOwnersQueuedRequests) {
    connectTcp();
    for (const int start : {1, 2, 3})
        exchange(WriteSingleRegisterRequest(1, start, 0, 5));
    ASSERT_EQ(tcp.sent.size(), 1);
    link.cancel(&owner);
    EXPECT_EQ(tcp.sent.size(), 1);
    ASSERT_EQ(results.size(), 3);
    for (const ExchangeResult& result : results)
        EXPECT_EQ(result.end, ExchangeEnd::Cancelled);
    EXPECT_FALSE(link.busy(&owner));
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
