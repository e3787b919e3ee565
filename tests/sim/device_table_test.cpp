// The simulated gateway's table of activated meters, checked the way the tool
// checks it: every command read back through the bit map (59500), the
// entries (from 1) and the address map (59400), raw register by register.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <bit>

#include "base/virtual_clock.h"
#include "gateway_test_support.h"
#include "mbus/device_entry.h"
#include "sim/scenario.h"
#include "sim/sim_endpoint.h"
#include "sim/sim_gateway.h"
#include "support/files.h"

namespace tarnel::sim {
namespace {

using namespace test_support;

constexpr uint16_t kBitMap = 59500;
constexpr uint16_t kAddressMap = 59400;
constexpr uint16_t kSlotsInUse = 0x8000;
constexpr uint16_t kSearch = 25704;

class DeviceTableTest : public ::testing::Test {
protected:
    std::vector<uint16_t> ReadInput(uint16_t start, uint16_t count) {
        const Bytes reply = gateway.Handle(ReadPdu(4, start, count));
        EXPECT_EQ(reply.size(), 2u + 2 * count) << "read at " << start;
        std::vector<uint16_t> words;
        for (size_t i = 2; i + 1 < reply.size(); i += 2)
            words.push_back(static_cast<uint16_t>(reply[i] << 8 | reply[i + 1]));
        return words;
    }
    uint16_t ReadInput(uint16_t number) { return ReadInput(number, 1).at(0); }
    std::vector<uint16_t> ReadEntry(int k, int registers = 28) {
        return ReadInput(static_cast<uint16_t>(1 + (k - 1) * registers),
                         static_cast<uint16_t>(registers));
    }
    int BitMapCount() {
        int count = 0;
        for (const uint16_t word : ReadInput(kBitMap, 16))
            count += std::popcount(word);
        return count;
    }
    void WriteOk(uint16_t number, uint16_t value) {
        const Bytes pdu = WriteSinglePdu(number, value);
        ASSERT_EQ(gateway.Handle(pdu), pdu) << "write " << number << " = " << value;
    }

    VirtualClock clock;
    SimBus bus{TwoMeters()};
    SimGateway gateway{bus, clock};
};

// --- Every command read back --------------------------------------------------

TEST_F(DeviceTableTest, EveryCommandReadBackThroughTheRawRegisters) {
    bus.meters().push_back(Meter(9, 0x11223344, 0x03, {0x04, 0x13, 0x01, 0x00, 0x00, 0x00}));
    bus.meters().push_back(Meter(3, 0x22222222, 0x03, {0x01, 0x13, 0x09}));
    bus.meters().back().silent = true;

    struct Step {
        const char* what;
        Bytes request;
        Bytes reply;                        // empty: the request echoed
        std::vector<uint8_t> table;         // the addresses in slots 1, 2, ...
        uint16_t bitMap;                    // 59500: slot 1 is bit 15
        uint16_t addressMap0;               // 59400: slots 1 (high byte) and 2
        uint16_t addressMap1;               // 59401: slots 3 and 4
        std::vector<uint16_t> inputs = {};  // entry register 8 by slot; empty: all 0
        bool setInputsFirst = false;        // inputs 1/2 = 01/02 on every entry before the request
    };
    const Step steps[] = {
        {"activate 7", WriteSinglePdu(0, 7), {}, {7}, 0x8000, 0x07FF, 0xFFFF},
        {"activate 5", WriteSinglePdu(0, 5), {}, {7, 5}, 0xC000, 0x0705, 0xFFFF},
        {"activate the silent 3",
         WriteSinglePdu(0, 3),
         Exception(6, 4),
         {7, 5},
         0xC000,
         0x0705,
         0xFFFF},
        {"activate 5 again: read anew in its slot",
         WriteSinglePdu(0, 5),
         {},
         {7, 5},
         0xC000,
         0x0705,
         0xFFFF},
        {"activate 251: no primary address",
         WriteSinglePdu(0, 251),
         Exception(6, 3),
         {7, 5},
         0xC000,
         0x0705,
         0xFFFF},
        {"delete 7: 5 moves to slot 1", WriteSinglePdu(1, 7), {}, {5}, 0x8000, 0x05FF, 0xFFFF},
        {"delete 7 again", WriteSinglePdu(1, 7), Exception(6, 3), {5}, 0x8000, 0x05FF, 0xFFFF},
        {"search and activate: 7 and 9 join 5",
         WriteSinglePdu(kSearch, 0x0040),
         {},
         {5, 7, 9},
         0xE000,
         0x0507,
         0x09FF},
        {"search with another value",
         WriteSinglePdu(kSearch, 0x0041),
         Exception(6, 3),
         {5, 7, 9},
         0xE000,
         0x0507,
         0x09FF},
        {"delete the inputs of 7",
         WriteSinglePdu(2, 7),
         {},
         {5, 7, 9},
         0xE000,
         0x0507,
         0x09FF,
         {0x0102, 0x0000, 0x0102},
         true},
        {"delete the inputs of 3, not in the table",
         WriteSinglePdu(2, 3),
         Exception(6, 3),
         {5, 7, 9},
         0xE000,
         0x0507,
         0x09FF,
         {0x0102, 0x0000, 0x0102}},
        {"delete all", WriteSinglePdu(1, 0x00FF), {}, {}, 0x0000, 0xFFFF, 0xFFFF},
        {"delete 5 from the empty table",
         WriteSinglePdu(1, 5),
         Exception(6, 3),
         {},
         0x0000,
         0xFFFF,
         0xFFFF},
        {"activate 9 into the empty table", WriteSinglePdu(0, 9), {}, {9}, 0x8000, 0x09FF, 0xFFFF},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.setInputsFirst) {
            for (const uint8_t address : step.table)
                ASSERT_TRUE(gateway.SetInputs(address, 0x01, 0x02));
        }
        EXPECT_EQ(gateway.Handle(step.request), step.reply.empty() ? step.request : step.reply);

        const size_t count = step.table.size();
        std::vector<uint16_t> bitMap(16, 0x0000);
        bitMap[0] = step.bitMap;
        EXPECT_EQ(ReadInput(kBitMap, 16), bitMap);
        EXPECT_EQ(BitMapCount(), static_cast<int>(count));
        EXPECT_EQ(ReadInput(kSlotsInUse),
                  static_cast<uint16_t>(0x4000 + count));  // 64 slots, count active
        std::vector<uint16_t> addressMap(32, 0xFFFF);
        addressMap[0] = step.addressMap0;
        addressMap[1] = step.addressMap1;
        EXPECT_EQ(ReadInput(kAddressMap, 32), addressMap);
        for (size_t k = 1; k <= count; ++k) {
            const std::vector<uint16_t> entry = ReadEntry(static_cast<int>(k));
            EXPECT_EQ(entry[0] >> 8, step.table[k - 1]) << "entry " << k;
            EXPECT_EQ(entry[7], step.inputs.empty() ? 0 : step.inputs[k - 1]) << "entry " << k;
        }
        EXPECT_EQ(ReadEntry(static_cast<int>(count) + 1), std::vector<uint16_t>(28, 0));
    }
}

// Registers 1 to 28 of an entry, word by word: address and medium, the
// identification number's BCD bytes, the manufacturer code low byte first,
// VIF and VIFE, inputs, status, the main value high word first.
TEST_F(DeviceTableTest, EntryWordsFollowTheLayout) {
    SimMeter gas = Meter(9, 0x30201567, 0x03, {0x04, 0x93, 0x3B, 0x39, 0x30, 0x00, 0x00});
    gas.status = 0x04;  // 12345 (0x3039) in m3/1000, VIF 0x93 with the VIFE 0x3B
    bus.meters().push_back(gas);
    bus.meters().push_back(Meter(11, 0x00000001, 0x07, {0x04, 0x13, 0xFE, 0xFF, 0xFF, 0xFF}));
    WriteOk(0, 9);
    WriteOk(0, 11);
    ASSERT_TRUE(gateway.SetInputs(9, 0x01, 0x02));
    std::vector<uint16_t> expected(28, 0x0000);
    const uint16_t head[] = {0x0903, 0x3020, 0x1567, 0x2D2C, 0x933B, 0x0000,
                             0x0000, 0x0102, 0x0000, 0x0004, 0x0000, 0x3039};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(ReadEntry(1), expected);
    EXPECT_EQ(ReadInput(29 + 10, 2), (std::vector<uint16_t>{0xFFFF, 0xFFFE}));  // -2
    EXPECT_EQ(ReadInput(29 + 4), 0x1300);  // a plain VIF: second byte 0
}

TEST_F(DeviceTableTest, TheToolsDecoderReadsTheEntries) {
    EXPECT_TRUE(gateway.Activate(5));
    EXPECT_TRUE(gateway.Activate(7));
    std::vector<std::string> lines;
    const auto water = DeviceRowTexts(DecodeDeviceEntry(WordsToBytes(ReadEntry(1)), lines));
    EXPECT_EQ(water[0], "12345678");
    EXPECT_EQ(water[1], "5");
    EXPECT_EQ(water[2], "KAM");
    EXPECT_EQ(water[3], "Water");
    EXPECT_EQ(water[4], "m3");
    EXPECT_EQ(water[5], "10.000");
    EXPECT_EQ(water[10], "Main=0000, Device=00, mbus=00");
    EXPECT_EQ(water[11], "13");
    const auto heat = DeviceRowTexts(DecodeDeviceEntry(WordsToBytes(ReadEntry(2)), lines));
    EXPECT_EQ(heat[0], "87654321");
    EXPECT_EQ(heat[3], "Heat");
    EXPECT_EQ(heat[4], "kWh");
    EXPECT_EQ(heat[5], "12345678.000");
    EXPECT_TRUE(lines.empty());
}

TEST_F(DeviceTableTest, EntriesOf24RegistersInVersion02) {
    gateway.SetEntryRegisters(24);
    EXPECT_EQ(ReadInput(60000), 0x0002);
    gateway.Activate(5);
    gateway.Activate(7);
    EXPECT_EQ(ReadInput(25, 3), (std::vector<uint16_t>{0x0704, 0x8765, 0x4321}));  // entry 2
    EXPECT_EQ(ReadEntry(3, 24), std::vector<uint16_t>(24, 0));
    gateway.SetEntryRegisters(28);
    EXPECT_EQ(ReadInput(60000), 0x0003);
    EXPECT_EQ(ReadInput(29), 0x0704);
}

TEST_F(DeviceTableTest, SearchAndActivateTakesEveryMeterAtTheBusSpeed) {
    bus.meters().push_back(Meter(12, 0x11111111, 0x03, {0x02, 0x13, 0x01, 0x00}));
    bus.meters().back().baud = 300;
    bus.meters().push_back(Meter(3, 0x22222222, 0x03, {0x01, 0x13, 0x09}));
    bus.meters().back().wrongChecksum = true;
    bus.meters().push_back(Meter(6, 0x33333333, 0x03, {}));  // two meters at 6 collide
    bus.meters().push_back(Meter(6, 0x44444444, 0x03, {}));
    WriteOk(kSearch, 0x0040);
    EXPECT_EQ(ReadInput(kAddressMap, 2), (std::vector<uint16_t>{0x0507, 0xFFFF}));
}

TEST_F(DeviceTableTest, EntriesAreReadAnewAfterTheReadoutPeriod) {
    gateway.Activate(5);
    bus.meters()[0].records = {0x04, 0x13, 0x20, 0x4E, 0x00, 0x00};  // 20000 l
    clock.advance(59'000);
    EXPECT_EQ(ReadInput(12), 10000);
    clock.advance(1'000);
    EXPECT_EQ(ReadInput(12), 20000);
}

// --- The time an activation takes -------------------------------------------------

// At 2400 Bd a byte takes 11 / 2400 s: a REQ_UD2 (5 bytes) 23 ms, an RSP_UD
// of 27 bytes 124 ms (123.75), an E5 5 ms; silence counts as no reply 330 bit
// times (138 ms) + 50 ms after the request. At 300 Bd: 184 ms and 990 ms.
TEST_F(DeviceTableTest, TheEchoComesOnceTheMeterIsRead) {
    struct Case {
        const char* what;
        void (*setUp)(SimBus&, SimGateway&);
        uint8_t address;
        Bytes reply;  // empty: the echo
        qint64 delayMs;
    };
    const Case cases[] = {
        {"REQ_UD2 23 + meter 30 + RSP_UD 124", [](SimBus&, SimGateway&) {}, 5, {}, 177},
        {"a meter 400 ms slower",
         [](SimBus& b, SimGateway&) { b.meters()[0].extraDelayMs = 400; },
         5,
         {},
         577},
        {"SND_NKE first: 23 + 30 + E5 5",
         [](SimBus&, SimGateway& g) { g.Handle(WriteSinglePdu(6, 0x0081)); },
         5,
         {},
         235},
        {"bus and meter at 300 Bd: 184 + 30 + 990",
         [](SimBus& b, SimGateway& g) {
             b.meters()[0].baud = 300;
             g.Handle(WriteSinglePdu(0x8013, 0x0000));
         },
         5,
         {},
         1204},
        {"the built-in meter 7: 23 + 430 + 157 bytes 720",
         [](SimBus& b, SimGateway&) { b = SimBus(SimBus::DefaultMeters()); },
         7,
         {},
         1173},
        {"nobody at 9: 23 + time-out 188, exception 4", [](SimBus&, SimGateway&) {}, 9,
         Exception(6, 4), 211},
        {"a meter at another speed stays silent",
         [](SimBus& b, SimGateway&) { b.meters()[0].baud = 9600; }, 5, Exception(6, 4), 211},
        {"a wrong checksum: the whole reply, exception 4",
         [](SimBus& b, SimGateway&) { b.meters()[0].wrongChecksum = true; }, 5, Exception(6, 4),
         177},
        {"not a primary address: exception 3 at once", [](SimBus&, SimGateway&) {}, 251,
         Exception(6, 3), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock caseClock;
        SimBus caseBus(TwoMeters());
        SimGateway caseGateway(caseBus, caseClock);
        c.setUp(caseBus, caseGateway);
        const Bytes request = WriteSinglePdu(0, c.address);
        const SimGateway::Reply reply = caseGateway.Serve(request);
        EXPECT_EQ(reply.pdu, c.reply.empty() ? request : c.reply);
        EXPECT_EQ(reply.delayMs, c.delayMs);
    }
}

TEST_F(DeviceTableTest, ARequestDuringAnActivationWaitsForIt) {
    EXPECT_EQ(gateway.Serve(WriteSinglePdu(0, 5)).delayMs, 177);
    const SimGateway::Reply read = gateway.Serve(ReadPdu(4, kSlotsInUse, 1));
    EXPECT_EQ(read.pdu, (Bytes{0x04, 0x02, 0x40, 0x01}));
    EXPECT_EQ(read.delayMs, 177);
    clock.advance(100);
    EXPECT_EQ(gateway.Serve(ReadPdu(4, kSlotsInUse, 1)).delayMs, 77);
    clock.advance(77);
    EXPECT_EQ(gateway.Serve(ReadPdu(4, kSlotsInUse, 1)).delayMs, 0);
    EXPECT_EQ(gateway.Serve(WriteSinglePdu(1, 0x00FF)).delayMs, 0);  // deleting needs no bus
}

// --- The frames the tool sends, through the RTU framing -----------------------------

TEST_F(DeviceTableTest, TheToolsFramesAnsweredByteForByte) {
    SimEndpoint rtu(gateway, clock, Framing::Rtu);
    // A register reply: 01 04, the byte count, `head`, then `fill` bytes of
    // `filler`, and the CRC of an independent computation.
    const auto registers = [](Bytes head, size_t fill, uint8_t filler) {
        head.insert(head.end(), fill, filler);
        return RtuFrame(0x01, head);
    };
    // Entry 2, registers 1 to 12 (16 zero registers follow): 7 and heat,
    // 87654321, KAM, VIF 06, ..., 12345678 = 0x00BC614E.
    Bytes entry2 = {0x04, 0x38};
    for (const uint8_t byte :
         WordsToBytes({0x0704, 0x8765, 0x4321, 0x2D2C, 0x0600, 0, 0, 0, 0, 0, 0x00BC, 0x614E}))
        entry2.push_back(byte);
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;  // empty: the request echoed, CRC and all
        int delayMs;
    };
    const Case cases[] = {
        {"activate 5", Hex("01 06 00 00 00 05 49 C9"), {}, 177},
        {"activate 7", RtuFrame(0x01, WriteSinglePdu(0, 7)), {}, 177},
        {"bit map", Hex("01 04 E8 6C 00 10 04 7B"), registers({0x04, 0x20, 0xC0, 0x00}, 30, 0x00),
         0},
        {"entry 2", Hex("01 04 00 1D 00 1C 61 C5"), registers(entry2, 32, 0x00), 0},
        {"address map", Hex("01 04 E8 08 00 20 45 B0"),
         registers({0x04, 0x40, 0x05, 0x07}, 62, 0xFF), 0},
        {"delete all", Hex("01 06 00 01 00 FF 98 4A"), {}, 0},
        {"bit map, empty", Hex("01 04 E8 6C 00 10 04 7B"), registers({0x04, 0x20}, 32, 0x00), 0},
        // 251 addresses: 249 silent ones at 23 + 188 ms, 5 and 7 at 177 ms.
        {"search and activate", Hex("01 06 64 68 00 40 16 D6"), {}, 249 * 211 + 2 * 177},
        {"address map after the search", Hex("01 04 E8 08 00 20 45 B0"),
         registers({0x04, 0x40, 0x05, 0x07}, 62, 0xFF), 0},
        {"activate the empty 9: exception 4 after the time-out",
         RtuFrame(0x01, WriteSinglePdu(0, 9)), Hex("01 86 04 43 A3"), 211},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Exchange exchange = rtu.Answer(c.request);
        ASSERT_EQ(exchange.chunks.size(), 1u);
        EXPECT_EQ(exchange.chunks[0].bytes, c.reply.empty() ? c.request : c.reply);
        EXPECT_EQ(exchange.chunks[0].delayMs, c.delayMs);
        clock.advance(c.delayMs);  // the tool waits for the reply
    }
    EXPECT_EQ(Crc16Modbus(Hex("01 04 E8 6C 00 10")), 0x7B04);  // the independent CRC
}

// --- 64 activated meters ------------------------------------------------------------

// The bus of meters64.json carries addresses 1 to 64 in order, so slot k
// holds the meter at k.
TEST_F(DeviceTableTest, SixtyFourMetersFromTheBuiltInScenario) {
    QString error;
    const std::optional<Scenario> scenario = LoadScenario(Scenario::k64File, &error);
    ASSERT_TRUE(scenario) << error.toStdString();
    EXPECT_TRUE(scenario->activateAll);
    const std::optional<std::vector<SimMeter>> meters = ScenarioMeters(*scenario, &error);
    ASSERT_TRUE(meters) << error.toStdString();
    bus = SimBus(*meters);
    EXPECT_EQ(ApplyScenario(*scenario, gateway), 64);

    EXPECT_EQ(BitMapCount(), 64);
    EXPECT_EQ(ReadInput(kBitMap, 16), (std::vector<uint16_t>{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0,
                                                             0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadInput(kSlotsInUse), 0x4040);
    const std::vector<uint16_t> addressMap = ReadInput(kAddressMap, 32);
    for (int k = 1; k <= 64; ++k) {
        const SimMeter& meter = bus.meters()[static_cast<size_t>(k - 1)];
        ASSERT_EQ(meter.address, k);
        const uint16_t pair = addressMap[static_cast<size_t>((k - 1) / 2)];
        EXPECT_EQ(k % 2 ? pair >> 8 : pair & 0xFF, k) << "address map slot " << k;
        const std::vector<uint16_t> entry = ReadEntry(k);
        EXPECT_EQ(entry[0], k << 8 | meter.medium) << "entry " << k;
        EXPECT_EQ(uint32_t{entry[1]} << 16 | entry[2], meter.id) << "entry " << k;
    }
}

TEST_F(DeviceTableTest, SixtyFourMetersInThreeLinesAndAFullTable) {
    VirtualClock benchClock;
    SimBus bench = *SimBus::FromFile(SimBus::kMeters64File);
    SimGateway full(bench, benchClock);
    EXPECT_EQ(full.ActivateAll(), 64);

    bench.meters().push_back(Meter(65, 0x65656565, 0x07, {}));
    const SimGateway::Reply refused = full.Serve(WriteSinglePdu(0, 65));
    EXPECT_EQ(refused.pdu, Exception(6, 4));
    EXPECT_EQ(refused.delayMs, 0);  // a full table needs no bus
    EXPECT_EQ(full.Handle(WriteSinglePdu(0, 64)), WriteSinglePdu(0, 64));  // active: read anew
    EXPECT_EQ(full.ActiveDevices(), 64);
}

TEST(ScenarioFile, MetersBesideItActivationsAndRefusals) {
    QTemporaryDir folder;
    ASSERT_TRUE(test::writeFile(folder.filePath("two.json"),
                                R"({"meters": [{"address": 2, "id": "00000002"},
                                               {"address": 4, "id": "00000004"}]})"));
    struct Case {
        const char* json;
        int activeDevices;  // -1: refused
        const char* error = "";
    };
    const Case cases[] = {
        {R"({})", 3},  // the built-in meters, the first three activated
        {R"({"meters": "two.json", "activate": [4]})", 1},
        {R"({"meters": "two.json", "activate": "all"})", 2},
        {R"({"meters": "two.json"})", 2},
        {R"({"activate": [1, 251]})", -1,
         "activate must be \"all\" or a list of primary addresses 0 to 250"},
        {R"({"activate": "some"})", -1,
         "activate must be \"all\" or a list of primary addresses 0 to 250"},
        {R"({"meters": ""})", -1, "meters must be the path of a meter file"},
    };
    const QString path = folder.filePath("scenario.json");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        ASSERT_TRUE(test::writeFile(path, c.json));
        QString error;
        const std::optional<Scenario> scenario = LoadScenario(path, &error);
        if (c.activeDevices < 0) {
            EXPECT_FALSE(scenario);
            EXPECT_EQ(error, path + ": " + c.error);
            continue;
        }
        ASSERT_TRUE(scenario) << error.toStdString();
        std::optional<std::vector<SimMeter>> meters = ScenarioMeters(*scenario, &error);
        ASSERT_TRUE(meters) << error.toStdString();
        VirtualClock clock;
        SimBus bus(std::move(*meters));
        SimGateway gateway(bus, clock);
        EXPECT_EQ(ApplyScenario(*scenario, gateway), c.activeDevices);
    }
}

}  // namespace
}  // namespace tarnel::sim
