#include <gtest/gtest.h>

#include "base/virtual_clock.h"
#include "sim/faults.h"
#include "sim/modbus_framing.h"
#include "sim/sim_endpoint.h"
#include "support/hex.h"

namespace tarnel::sim {
namespace {

Bytes bytes(const char* hex) {
    const QByteArray b = test::bytes(hex);
    return {b.begin(), b.end()};
}

TEST(SimFraming, RtuRequestLengthsByFunction) {
    EXPECT_EQ(RequestLength(bytes("01 03 00 00 00 0A C5"), Framing::Rtu), std::nullopt);
    EXPECT_EQ(RequestLength(bytes("01 03 00 00 00 0A C5 CD 01"), Framing::Rtu), 8u);
    EXPECT_EQ(RequestLength(bytes("01 10 84 08 00 03 06"), Framing::Rtu), std::nullopt);
    EXPECT_EQ(RequestLength(bytes("01 10 84 08 00 03 06 10 7B 01 7C 16 00 AA BB"), Framing::Rtu),
              15u);
    EXPECT_EQ(RequestLength(bytes("01 2B 0E 02 00 AA BB"), Framing::Rtu), 7u);
    EXPECT_EQ(RequestLength(bytes("03 E8 00 00 00 06 01 04 00 01 00"), Framing::Tcp), std::nullopt);
    EXPECT_EQ(RequestLength(bytes("03 E8 00 00 00 06 01 04 00 01 00 7D FF"), Framing::Tcp), 12u);
}

TEST(SimFraming, ParseChecksTheRtuCrc) {
    const auto request = ParseRequest(bytes("01 03 00 00 00 0A C5 CD"), Framing::Rtu);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->unit, 1);
    EXPECT_EQ(request->pdu, bytes("03 00 00 00 0A"));
    EXPECT_FALSE(ParseRequest(bytes("01 03 00 00 00 0A C5 CE"), Framing::Rtu));
    const auto tcp = ParseRequest(bytes("03 E9 00 00 00 06 07 04 00 01 00 7D"), Framing::Tcp);
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->transaction, 1001);
    EXPECT_EQ(tcp->unit, 7);
}

TEST(SimFraming, RepliesInBothFramings) {
    ModbusFrame request;
    request.transaction = 1000;
    request.unit = 1;
    EXPECT_EQ(ReplyFrame(request, bytes("04 02 00 0A"), Framing::Rtu),
              bytes("01 04 02 00 0A 39 37"));
    EXPECT_EQ(ReplyFrame(request, bytes("84 02"), Framing::Rtu), bytes("01 84 02 C2 C1"));
    EXPECT_EQ(ReplyFrame(request, bytes("04 02 00 0A"), Framing::Tcp),
              bytes("03 E8 00 00 00 05 01 04 02 00 0A"));
}

TEST(SimFaults, ParsedFromTheCommandLine) {
    std::string error;
    const auto fault = ParseFault("exception,value=2,function=4,register=0x8407,count=-1", &error);
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->kind, FaultKind::Exception);
    EXPECT_EQ(fault->value, 2);
    EXPECT_EQ(fault->function, 4);
    EXPECT_EQ(fault->registerNumber, 0x8407);
    EXPECT_EQ(fault->count, -1);
    EXPECT_FALSE(ParseFault("lightning", &error));
    EXPECT_EQ(error, "unknown fault 'lightning'");
    EXPECT_FALSE(ParseFault("crc,count=two", &error));
    EXPECT_EQ(ParseFault("double", &error)->kind, FaultKind::Double);
    EXPECT_EQ(ParseFault("wrong-tid", &error)->kind, FaultKind::WrongTid);
    const auto unit = ParseFault("wrong-unit,value=7", &error);
    ASSERT_TRUE(unit) << error;
    EXPECT_EQ(unit->kind, FaultKind::WrongUnit);
    EXPECT_EQ(unit->value, 7);
}

TEST(SimFaults, APlanHitsTheMatchingRequestsAsOftenAsItSays) {
    FaultPlan plan;
    Fault twice;
    twice.kind = FaultKind::NoReply;
    twice.count = 2;
    twice.function = 4;
    plan.Add(twice);
    EXPECT_TRUE(plan.Take(3, 0).empty());
    EXPECT_EQ(plan.Take(4, 1).size(), 1u);
    EXPECT_EQ(plan.Take(4, 2).size(), 1u);
    EXPECT_TRUE(plan.Take(4, 3).empty());
    Fault always;
    always.kind = FaultKind::Filler;
    always.count = -1;
    always.registerNumber = 33799;
    plan.Add(always);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(plan.Take(4, 33799).size(), 1u);
}

struct Endpoint : ::testing::Test {
    VirtualClock clock;
    SimBus bus;
    SimGateway gateway{bus, clock};
    SimEndpoint rtu{gateway, clock, Framing::Rtu};
    SimEndpoint tcp{gateway, clock, Framing::Tcp};

    void plan(SimEndpoint& endpoint, FaultKind kind, int value = 0) {
        Fault fault;
        fault.kind = kind;
        fault.value = value;
        endpoint.faults().Add(fault);
    }
    // A request the gateway answers with an exception, so that the faults
    // shape a reply whatever the register model says.
    Exchange ask(SimEndpoint& endpoint) {
        plan(endpoint, FaultKind::Exception, 2);
        return endpoint.Answer(endpoint.framing() == Framing::Rtu
                                   ? bytes("01 03 00 00 00 0A C5 CD")
                                   : bytes("03 E8 00 00 00 06 01 03 00 00 00 0A"));
    }
};

TEST_F(Endpoint, FaultsShapeTheReplyFrame) {
    EXPECT_EQ(ask(rtu).chunks.at(0).bytes, bytes("01 83 02 C0 F1"));
    plan(rtu, FaultKind::WrongCrc);
    EXPECT_EQ(ask(rtu).chunks.at(0).bytes, bytes("01 83 02 C0 0E"));
    plan(rtu, FaultKind::Filler);
    EXPECT_EQ(ask(rtu).chunks.at(0).bytes, bytes("01 83 02 C0 F1 00"));
    plan(rtu, FaultKind::LeadingZero);
    EXPECT_EQ(ask(rtu).chunks.at(0).bytes, bytes("00 01 83 02 C0 F1"));
    plan(rtu, FaultKind::Delay, 250);
    EXPECT_EQ(ask(rtu).chunks.at(0).delayMs, 250);
    plan(rtu, FaultKind::Split, 40);
    const Exchange split = ask(rtu);
    ASSERT_EQ(split.chunks.size(), 2u);
    EXPECT_EQ(split.chunks[0].bytes, bytes("01 83"));
    EXPECT_EQ(split.chunks[1].delayMs, 40);
    plan(rtu, FaultKind::NoReply);
    EXPECT_TRUE(ask(rtu).chunks.empty());
    plan(tcp, FaultKind::ShortTcp);
    EXPECT_EQ(ask(tcp).chunks.at(0).bytes.size(), 5u);
    plan(tcp, FaultKind::Close);
    EXPECT_TRUE(ask(tcp).close);
}

TEST_F(Endpoint, OtherUnitsAndBadFramesGetNoReplyButAreRecorded) {
    EXPECT_TRUE(rtu.Answer(bytes("02 03 00 00 00 0A C5 FE")).chunks.empty());
    EXPECT_TRUE(rtu.Answer(bytes("01 03 00 00 00 0A 00 00")).chunks.empty());
    const auto records = rtu.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].request);
    EXPECT_EQ(records[0].bytes, bytes("02 03 00 00 00 0A C5 FE"));
}

// A read of 32768 (64 slots, none active) with a fault on its reply. The
// frames are worked out by hand: CRC-16/MODBUS, low byte first.
struct HeaderFault {
    Framing framing;
    FaultKind kind;
    int value;
    const char* reply;
};

struct ReplyHeaderFaults : Endpoint, ::testing::WithParamInterface<HeaderFault> {};

TEST_P(ReplyHeaderFaults, ChangeOrRepeatTheReplyFrame) {
    const HeaderFault& c = GetParam();
    SimEndpoint& endpoint = c.framing == Framing::Rtu ? rtu : tcp;
    plan(endpoint, c.kind, c.value);
    const Exchange exchange =
        endpoint.Answer(c.framing == Framing::Rtu ? bytes("01 04 80 00 00 01 18 0A")
                                                  : bytes("00 FF 00 00 00 06 01 04 80 00 00 01"));
    ASSERT_EQ(exchange.chunks.size(), 1u);
    EXPECT_EQ(exchange.chunks[0].bytes, bytes(c.reply));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyHeaderFaults,
    ::testing::Values(
        HeaderFault{Framing::Rtu, FaultKind::Double, 0,
                    "01 04 02 40 00 88 F0 01 04 02 40 00 88 F0"},
        HeaderFault{Framing::Tcp, FaultKind::Double, 0,
                    "00 FF 00 00 00 05 01 04 02 40 00 00 FF 00 00 00 05 01 04 02 40 00"},
        HeaderFault{Framing::Tcp, FaultKind::WrongTid, 0, "01 00 00 00 00 05 01 04 02 40 00"},
        HeaderFault{Framing::Rtu, FaultKind::WrongTid, 0, "01 04 02 40 00 88 F0"},  // no id on RTU
        HeaderFault{Framing::Rtu, FaultKind::WrongUnit, 0, "02 04 02 40 00 CC F0"},
        HeaderFault{Framing::Rtu, FaultKind::WrongUnit, 7, "07 04 02 40 00 00 F0"},
        HeaderFault{Framing::Tcp, FaultKind::WrongUnit, 0, "00 FF 00 00 00 05 02 04 02 40 00"}));

// Address 0 written to 32785 over RTU: the reply still goes out under unit 1;
// from then on every unit id is answered under its own id, and unit 0 stays
// the broadcast: carried out, not answered.
TEST_F(Endpoint, ModbusAddressZeroAnswersEveryUnitButTheBroadcast) {
    EXPECT_EQ(rtu.Answer(bytes("01 06 80 11 00 00 F0 0F")).chunks.at(0).bytes,
              bytes("01 06 80 11 00 00 F0 0F"));
    const std::pair<const char*, const char*> reads[] = {
        {"05 04 80 00 00 01 19 8E", "05 04 02 40 00 79 30"},
        {"FF 04 80 00 00 01 0D D4", "FF 04 02 40 00 A1 24"},
        {"01 04 80 00 00 01 18 0A", "01 04 02 40 00 88 F0"},
    };
    for (const auto& [request, reply] : reads)
        EXPECT_EQ(rtu.Answer(bytes(request)).chunks.at(0).bytes, bytes(reply)) << request;
    EXPECT_TRUE(rtu.Answer(bytes("00 06 00 04 00 0C C9 DF")).chunks.empty());
    EXPECT_EQ(gateway.Handle(bytes("03 00 04 00 01")), bytes("03 02 00 0C"));  // carried out
}

}  // namespace
}  // namespace tarnel::sim
