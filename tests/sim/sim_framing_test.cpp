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
    EXPECT_EQ(RequestLength(bytes("01 10 84 08 00 03 06 10 7B 01 7C 16 00 AA BB"), Framing::Rtu), 15u);
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
    EXPECT_EQ(ReplyFrame(request, bytes("04 02 00 0A"), Framing::Rtu), bytes("01 04 02 00 0A 39 37"));
    EXPECT_EQ(ReplyFrame(request, bytes("84 02"), Framing::Rtu), bytes("01 84 02 C2 C1"));
    EXPECT_EQ(ReplyFrame(request, bytes("04 02 00 0A"), Framing::Tcp), bytes("03 E8 00 00 00 05 01 04 02 00 0A"));
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
    for (int i = 0; i < 5; ++i) EXPECT_EQ(plan.Take(4, 33799).size(), 1u);
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
        return endpoint.Answer(endpoint.framing() == Framing::Rtu ? bytes("01 03 00 00 00 0A C5 CD")
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

}  // namespace
}  // namespace tarnel::sim
