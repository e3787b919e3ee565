#include "ops/gateway_finder.h"

#include <gtest/gtest.h>

#include "base/virtual_clock.h"
#include "sim/in_memory_transports.h"

namespace tarnel {
namespace {

TEST(JudgeLine, ByTheBytesThatCame) {
    const struct {
        const char* bytes;
        LineJudgement judgement;
    } cases[] = {
        {"", LineJudgement::Silent},
        {"01 04 02 00 0A 39 37", LineJudgement::Right},     // a read's reply
        {"01 04 02 00 0A 39 37 00", LineJudgement::Right},  // with a 0x00 filler
        {"11 AB 01 9F 35", LineJudgement::Right},           // an exception, another unit
        {"01 04 02 00 0A 39 38", LineJudgement::Wrong},     // bad CRC
        {"00 00 00 00 00 00 00", LineJudgement::Wrong},     // parity errors read as 0x00
        {"FF 7E", LineJudgement::Wrong},                    // too short for a frame
        {"A7 B5 85 A5 81 81 C5", LineJudgement::Wrong},     // a request at the wrong speed
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeLine(QByteArray::fromHex(c.bytes)), c.judgement) << c.bytes;
}

TEST(GatewayProbe, OrdersTimesAndHosts) {
    const QList<SerialTransport::Line> lines = SerialLineOrder({9600, 0, 1});
    EXPECT_EQ(LineName(lines[0]), "9600 None 1");
    EXPECT_EQ(LineName(lines[1]), "19200 Even 1");  // the factory line
    EXPECT_EQ(LineName(lines[2]), "19200 None 1");
    EXPECT_EQ(LineName(lines[3]), "19200 None 2");
    EXPECT_EQ(LineName(lines.last()), "300 Odd 1");
    EXPECT_EQ(lines.size(), 9 * 4);        // each line once
    EXPECT_EQ(SweepTimeoutMs(19200), 51);  // 71 bytes of 11 bits and 10 ms
    EXPECT_EQ(SweepTimeoutMs(9600), 92);
    EXPECT_EQ(SweepTimeoutMs(115200), 30);
    EXPECT_EQ(TcpUnitOrder().mid(0, 4), (QList<int>{1, 255, 0, 2}));
    EXPECT_EQ(TcpUnitOrder().size(), 249);
    EXPECT_EQ(HostRange("127.0.0.2-4"), (QStringList{"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    EXPECT_EQ(HostRange("gateway.local"), QStringList{"gateway.local"});
    EXPECT_FALSE(HostRange("127.0.0.9-2"));
    EXPECT_FALSE(HostRange("127.0.0.1-300"));
}

// The finder against the simulated gateway in-process, on the virtual clock.
struct Finder : ::testing::Test {
    VirtualClock clock;
    sim::SimBus bus{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway{bus, clock};
    sim::SimEndpoint rtu{gateway, clock, sim::Framing::Rtu};
    sim::SimEndpoint tcpEndpoint{gateway, clock, sim::Framing::Tcp};
    sim::InMemorySerial serial{rtu, clock};
    sim::InMemoryTcp tcp{tcpEndpoint, clock};
    BusyRule busy;
    GatewayFinder finder{serial, tcp, clock, busy};
    std::optional<FinderResult> result;
    QStringList tried;

    Finder() {
        QObject::connect(&finder, &GatewayFinder::finished,
                         [this](const FinderResult& r) { result = r; });
        QObject::connect(&finder, &GatewayFinder::progress,
                         [this](const FinderProgress& p) { tried << p.trying; });
    }
    FinderResult run(const GatewayFinder::Settings& settings) {
        EXPECT_TRUE(finder.start(settings));
        clock.runUntilIdle();
        EXPECT_TRUE(result.has_value());
        return result.value_or(FinderResult{});
    }
};

TEST_F(Finder, FindsTheLineAndAddressFromTheDefaults) {
    rtu.SetLine(sim::LineSettings{9600, 'N', 1});
    gateway.SetUnitAddress(17);
    const FinderResult found = run({.serialPorts = {"ttyUSB0"}});
    ASSERT_EQ(found.found.size(), 1);
    const FoundDevice& device = found.found[0];
    EXPECT_TRUE(device.gateway);
    EXPECT_EQ(LineName(device.line), "9600 None 1");
    EXPECT_EQ(device.unit, 17);
    EXPECT_EQ(device.identification.product, "Corvane-64");
    EXPECT_EQ(device.activeDevices, 0);
    EXPECT_FALSE(busy.running(Operation::FindGateway));
    EXPECT_FALSE(serial.isOpen());
    // Every line before it was judged wrong by one probe; only 9600 None
    // was swept, from the likely address up to 17.
    EXPECT_EQ(tried.filter("9600 None 1").size(), 1 + 17);
    EXPECT_EQ(found.tries, 36 + 17 + 1);  // a probe a line, 17 addresses, the count
}

TEST_F(Finder, APlainDeviceIsListedNotTakenForTheGateway) {
    gateway.SetPlain(true);
    const FinderResult found = run({.serialPorts = {"ttyUSB0"}});
    ASSERT_EQ(found.found.size(), 1);
    EXPECT_FALSE(found.found[0].gateway);
    EXPECT_EQ(found.found[0].unit, 1);
    EXPECT_EQ(found.found[0].answered, "exception 1 to device identification");
}

TEST_F(Finder, OnTcpTheUnitsInTheirOrder) {
    gateway.SetUnitAddress(3);
    const FinderResult found = run({.tcpHosts = {"127.0.0.2"}});
    ASSERT_EQ(found.found.size(), 1);
    EXPECT_TRUE(found.found[0].tcp);
    EXPECT_EQ(found.found[0].unit, 3);
    EXPECT_EQ(tried.mid(1, 5), (QStringList{"127.0.0.2:502, unit 1", "127.0.0.2:502, unit 255",
                                            "127.0.0.2:502, unit 0", "127.0.0.2:502, unit 2",
                                            "127.0.0.2:502, unit 3"}));
}

TEST_F(Finder, StopsAtOnceAndRefusesWhileAnotherOperationRuns) {
    gateway.SetUnitAddress(200);
    ASSERT_TRUE(finder.start({.serialPorts = {"ttyUSB0"}}));
    clock.advance(500);
    finder.stop();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->ending, Ending::Stopped);
    EXPECT_FALSE(serial.isOpen());
    ASSERT_TRUE(busy.begin(Operation::Scan));
    EXPECT_FALSE(finder.start({.serialPorts = {"ttyUSB0"}}));
}

}  // namespace
}  // namespace tarnel
