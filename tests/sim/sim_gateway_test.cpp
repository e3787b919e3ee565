// The simulated gateway's registers, driven through Modbus PDUs as the tool
// sends them, with a virtual clock for the bus timing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/virtual_clock.h"
#include "gateway_test_support.h"
#include "mbus/telegram_decoder.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

using namespace test_support;

constexpr uint16_t kMbusStatus = 0x8407;
constexpr uint16_t kMbusBuffer = 0x8408;
constexpr uint16_t kBitMap = 59500;
constexpr uint16_t kAddressMap = 59400;

class SimGatewayTest : public ::testing::Test {
protected:
    std::vector<uint16_t> Read(uint8_t function, uint16_t start, uint16_t count) {
        const Bytes reply = gateway.Handle(ReadPdu(function, start, count));
        EXPECT_EQ(reply.size(), 2u + 2 * count) << "function " << int(function) << " at " << start;
        std::vector<uint16_t> words;
        for (size_t i = 2; i + 1 < reply.size(); i += 2)
            words.push_back(static_cast<uint16_t>(reply[i] << 8 | reply[i + 1]));
        return words;
    }
    std::vector<uint16_t> ReadInput(uint16_t start, uint16_t count) {
        return Read(4, start, count);
    }
    uint16_t ReadInput(uint16_t number) { return ReadInput(number, 1).at(0); }
    std::vector<uint16_t> ReadHolding(uint16_t start, uint16_t count) {
        return Read(3, start, count);
    }

    void WriteOk(uint16_t number, uint16_t value) {
        const Bytes pdu = WriteSinglePdu(number, value);
        ASSERT_EQ(gateway.Handle(pdu), pdu) << "write " << number << " = " << value;
    }
    Bytes Send(const Bytes& telegram) {
        return gateway.Handle(WriteMultiplePdu(kMbusBuffer, telegram));
    }

    VirtualClock clock;
    SimBus bus{TwoMeters()};
    SimGateway gateway{bus, clock};
};

// --- M-Bus pass-through -----------------------------------------------------

TEST_F(SimGatewayTest, PassThroughStateSequenceAndReplyBytes) {
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0000);  // idle
    const Bytes written = WriteMultiplePdu(kMbusBuffer, ReqUd2(5));
    EXPECT_EQ(gateway.Handle(written), Bytes(written.begin(), written.begin() + 5));

    const size_t replyLength = bus.meters()[0].RspUd().size();
    const qint64 requestMs = SimGateway::BusTimeMs(5, 2400);
    const qint64 readyMs =
        requestMs + bus.meters()[0].replyDelayMs + SimGateway::BusTimeMs(replyLength, 2400);
    EXPECT_EQ(requestMs, 23);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0100);  // sending
    clock.advance(requestMs);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0200);  // waiting
    clock.advance(readyMs - requestMs - 1);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0200);
    EXPECT_EQ(ReadInput(kMbusBuffer), 0x0000);  // nothing to read yet
    clock.advance(1);
    // Reply ready, 27 bytes: 68 15 15 68, C A CI, the 12-byte header, 6 record bytes, CS 16.
    ASSERT_EQ(ReadInput(kMbusStatus), 0x041B);
    ASSERT_EQ(replyLength, 27u);
    EXPECT_EQ(ReadInput(kMbusBuffer, 14),
              (std::vector<uint16_t>{0x6815, 0x1568, 0x0805, 0x7278, 0x5634, 0x122D, 0x2C01, 0x0700,
                                     0x0000, 0x0004, 0x1310, 0x2700, 0x0042, 0x1600}));

    const auto registers = static_cast<uint16_t>((replyLength + 1) / 2);
    Bytes telegram = WordsToBytes(ReadInput(kMbusBuffer, registers));
    ASSERT_EQ(telegram.size(), 2u * registers);
    if (replyLength % 2) {
        EXPECT_EQ(telegram.back(), 0x00);  // padded with 0x00
    }
    telegram.resize(replyLength);
    const DecodedTelegram decoded = DecodeMbusTelegram(telegram, "10:00:00");
    ASSERT_TRUE(decoded.ok);
    ASSERT_TRUE(decoded.row);
    EXPECT_EQ((*decoded.row)[0], "12345678");
    EXPECT_EQ((*decoded.row)[1], "5");
    EXPECT_EQ((*decoded.row)[2], "KAM");
    EXPECT_EQ((*decoded.row)[3], "10.000");
    EXPECT_EQ((*decoded.row)[4], "m3");
}

TEST_F(SimGatewayTest, PassThroughNoReplyAfterTheBusTimeOut) {
    Send(ReqUd2(9));
    const qint64 silentUntil = SimGateway::BusTimeMs(5, 2400) + SimGateway::NoReplyTimeoutMs(2400);
    EXPECT_EQ(SimGateway::NoReplyTimeoutMs(2400), 188);
    clock.advance(silentUntil - 1);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0200);
    clock.advance(1);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0300);  // no reply, length 0
    EXPECT_EQ(ReadInput(kMbusBuffer, 4), std::vector<uint16_t>(4, 0));
}

TEST_F(SimGatewayTest, PassThroughSlowMeterMissedByAShortWait) {
    bus.meters()[0].extraDelayMs = 600;
    Send(ReqUd2(5));
    clock.advance(300);  // the tool's shortest scan time
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0200);
    clock.advance(700);
    EXPECT_EQ(ReadInput(kMbusStatus) >> 8, 4);
}

TEST_F(SimGatewayTest, PassThroughNewTelegramDiscardsThePreviousReply) {
    Send(ReqUd2(5));
    clock.advance(1000);
    ASSERT_EQ(ReadInput(kMbusStatus) >> 8, 4);
    Send(ReqUd2(9));
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0100);
    EXPECT_EQ(ReadInput(kMbusBuffer), 0x0000);
    clock.advance(1000);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0300);
}

TEST_F(SimGatewayTest, PassThroughUsesTheMbusPortSpeed) {
    bus.meters()[1].baud = 300;
    Send(ReqUd2(7));
    clock.advance(5000);
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0300);  // not heard at 2400 Bd

    WriteOk(0x8013, 0x0000);  // 300 Bd, even parity
    EXPECT_EQ(gateway.MbusBaud(), 300);
    Send(ReqUd2(7));
    clock.advance(SimGateway::BusTimeMs(5, 300));
    EXPECT_EQ(ReadInput(kMbusStatus), 0x0200);
    clock.advance(5000);
    EXPECT_EQ(ReadInput(kMbusStatus) >> 8, 4);
}

TEST_F(SimGatewayTest, TelegramFromWriteStripsOnlyThePadByte) {
    EXPECT_EQ(SimGateway::TelegramFromWrite({0x10, 0x7B, 0x05, 0x80, 0x16, 0x00}), ReqUd2(5));
    const Bytes baud = {0x68, 0x03, 0x03, 0x68, 0x53, 0x05, 0xBB, 0x13, 0x16};  // 2400 Bd
    Bytes padded = baud;
    padded.push_back(0x00);
    EXPECT_EQ(SimGateway::TelegramFromWrite(padded), baud);
    EXPECT_EQ(SimGateway::TelegramFromWrite({0xE5, 0x00}), (Bytes{0xE5, 0x00}));
    // Bytes whose length field counts the trailing 0x00 keep it.
    const Bytes counted = {0x68, 0x04, 0x04, 0x68, 0x53, 0x05, 0x51, 0xAA, 0x16, 0x00};
    EXPECT_EQ(SimGateway::TelegramFromWrite(counted), counted);
}

// --- Settings and status -----------------------------------------------------

TEST_F(SimGatewayTest, SettingsAreKeptAndReadBack) {
    WriteOk(3, 720 * 60);
    WriteOk(4, 12);
    WriteOk(5, 99);
    WriteOk(6, 0x0081);
    WriteOk(7, 0x0081);
    EXPECT_EQ(ReadHolding(3, 5), (std::vector<uint16_t>{0xA8C0, 12, 99, 0x0081, 0x0081}));

    const Bytes clockData = {0x09, 0x07, 0x0E, 0x02, 0x05, 0x03, 0x18, 0x00};
    const Bytes clockWrite = WriteMultiplePdu(16, clockData);
    EXPECT_EQ(gateway.Handle(clockWrite), Bytes(clockWrite.begin(), clockWrite.begin() + 5));
    EXPECT_EQ(WordsToBytes(ReadHolding(16, 4)), clockData);

    WriteOk(0x8012, 0x0051);  // 19200 Bd odd
    WriteOk(0x8013, 0x0022);  // 2400 Bd none
    EXPECT_EQ(ReadHolding(0x8011, 3), (std::vector<uint16_t>{0x0001, 0x0051, 0x0022}));

    const Bytes mask = WriteMultiplePdu(55404, {0x0A, 0x00, 0x00, 0x01});
    EXPECT_EQ(gateway.Handle(mask), Bytes(mask.begin(), mask.begin() + 5));
    EXPECT_EQ(ReadHolding(55404, 2), (std::vector<uint16_t>{0x0A00, 0x0001}));
    EXPECT_EQ(ReadHolding(55400, 2), (std::vector<uint16_t>{0xC0A8, 0x0103}));  // 192.168.1.3
    EXPECT_EQ(ReadHolding(55420, 2), (std::vector<uint16_t>{0x0000, 0x0000}));  // the last pair
    EXPECT_EQ(gateway.Handle(ReadPdu(3, 55422, 1)), Exception(3, 2));
    gateway.Handle(WriteMultiplePdu(55330, {0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(ReadHolding(55330, 2), (std::vector<uint16_t>{0x1234, 0x5678}));
    EXPECT_EQ(ReadHolding(56002, 1).at(0), 502);
    WriteOk(56002, 0x01F7);
    EXPECT_EQ(ReadHolding(56002, 1).at(0), 0x01F7);
}

TEST_F(SimGatewayTest, SettingsOutOfRangeAreRefused) {
    const auto refused = [this](uint16_t number, uint16_t value) {
        EXPECT_EQ(gateway.Handle(WriteSinglePdu(number, value)), Exception(6, 3))
            << number << " = " << value;
    };
    refused(3, 0);
    refused(4, 100);
    refused(6, 0x0083);
    refused(7, 0x0002);
    refused(0x8011, 255);
    refused(0x8011, 0x0101);
    refused(0x8012, 0x0023);  // parity 3
    refused(0x8013, 0x0050);  // 19200 Bd on the M-Bus port
    refused(55330, 0x12A4);   // not BCD
    refused(56002, 0);
    refused(0, 251);  // not a primary address
    EXPECT_EQ(gateway.Handle(WriteMultiplePdu(16, {60, 0, 0, 1, 1, 1, 24, 0})),
              Exception(16, 3));            // second 60
    EXPECT_EQ(ReadHolding(4, 1).at(0), 5);  // unchanged
}

TEST_F(SimGatewayTest, NewModbusAddressAfterTheReply) {
    const Bytes write = WriteSinglePdu(0x8011, 0x0007);
    EXPECT_EQ(gateway.UnitAddress(), 1);
    EXPECT_EQ(gateway.Handle(write), write);
    EXPECT_EQ(gateway.UnitAddress(), 7);
    EXPECT_EQ(ReadHolding(0x8011, 1).at(0), 7);
    gateway.SetUnitAddress(3);
    EXPECT_EQ(gateway.UnitAddress(), 3);
}

TEST_F(SimGatewayTest, ModbusAddressZeroAnswersEveryUnit) {
    WriteOk(0x8011, 0x0000);
    EXPECT_EQ(gateway.UnitAddress(), 0);
    EXPECT_EQ(ReadHolding(0x8011, 1).at(0), 0x0000);
    EXPECT_TRUE(gateway.IsAddressed(1));
    EXPECT_TRUE(gateway.IsAddressed(255));
    WriteOk(0x8011, 254);
    EXPECT_EQ(ReadHolding(0x8011, 1).at(0), 254);
    EXPECT_TRUE(gateway.IsAddressed(254));
    EXPECT_FALSE(gateway.IsAddressed(1));
}

TEST_F(SimGatewayTest, StatusRegistersForTheStatusRead) {
    gateway.Activate(5);
    EXPECT_EQ(ReadInput(0x8000), 0x4001);  // "Active devices: 1/64"
    EXPECT_EQ(ReadInput(0x8001), 0x0006);  // "0x7B", polling on
    WriteOk(6, 0x0081);                    // SND_NKE
    WriteOk(7, 0x0081);                    // DHCP
    EXPECT_EQ(ReadInput(0x8001), 0x0107);
    WriteOk(6, 0x0002);  // back to 0x5B
    EXPECT_EQ(ReadInput(0x8001) & 0xFF, 0x05);
    EXPECT_EQ(ReadInput(0x8002), 0);  // working days
    clock.advance(2 * 86'400'000LL);
    EXPECT_EQ(ReadInput(0x8002), 2);
    EXPECT_EQ(ReadInput(60000), 0x0003);  // "Modbus card version: 0.3"
}

TEST_F(SimGatewayTest, SortAndFactoryDefault) {
    gateway.Activate(7);
    gateway.Activate(5);
    WriteOk(6, 0x008A);  // sort
    EXPECT_EQ(ReadInput(kAddressMap), 0x0507);

    WriteOk(4, 42);
    WriteOk(0x8013, 0x0000);
    WriteOk(7, 0x0092);  // factory default, applied after the reply
    EXPECT_EQ(gateway.ActiveDevices(), 0);
    EXPECT_EQ(ReadHolding(4, 1).at(0), 5);
    EXPECT_EQ(gateway.MbusBaud(), 2400);
    gateway.SetUnitAddress(9);
    WriteOk(7, 0x0092);
    EXPECT_EQ(gateway.UnitAddress(), 1);
}

// --- Modbus protocol ----------------------------------------------------------

TEST_F(SimGatewayTest, ExceptionsForWhatTheGatewayRefuses) {
    EXPECT_EQ(gateway.Handle({0x05, 0x00, 0x01, 0xFF, 0x00}), Exception(0x05, 1));
    EXPECT_EQ(gateway.Handle({0x01, 0x00, 0x00, 0x00, 0x08}), Exception(0x01, 1));
    EXPECT_EQ(gateway.Handle(ReadPdu(4, 1, 0)), Exception(4, 3));
    EXPECT_EQ(gateway.Handle(ReadPdu(4, 1, 126)), Exception(4, 3));
    EXPECT_EQ(gateway.Handle(ReadPdu(3, 1, 125)), Exception(3, 2));  // table: input registers
    EXPECT_EQ(gateway.Handle(ReadPdu(4, 40000, 1)), Exception(4, 2));
    EXPECT_EQ(gateway.Handle(ReadPdu(4, 59510, 8)), Exception(4, 2));  // runs past the bit map
    EXPECT_EQ(gateway.Handle(ReadPdu(4, 0xFFFF, 2)), Exception(4, 2));
    EXPECT_EQ(gateway.Handle({0x04, 0x00, 0x01}), Exception(4, 3));
    EXPECT_EQ(gateway.Handle(WriteSinglePdu(33799, 1)), Exception(6, 2));
    EXPECT_EQ(gateway.Handle(WriteSinglePdu(33800, 0x1000)), Exception(6, 2));
    EXPECT_EQ(gateway.Handle(WriteMultiplePdu(33801, {0xE5, 0x00})), Exception(16, 2));
    EXPECT_EQ(gateway.Handle(WriteMultiplePdu(0, {0x00, 0x05})), Exception(16, 2));

    Bytes tooMany = WriteMultiplePdu(kMbusBuffer, Bytes(248, 0x00));
    EXPECT_EQ(gateway.Handle(tooMany), Exception(16, 3));  // 124 registers
    Bytes badCount = WriteMultiplePdu(kMbusBuffer, ReqUd2(5));
    badCount[5] = 4;
    EXPECT_EQ(gateway.Handle(badCount), Exception(16, 3));
    EXPECT_EQ(gateway.Handle({}), Bytes{});
    EXPECT_EQ(ReadInput(1, 125).size(), 125u);  // the largest read
}

TEST_F(SimGatewayTest, DeviceIdentificationReplyLayout) {
    const Bytes reply = gateway.Handle({0x2B, 0x0E, 0x02, 0x00});
    Bytes expected = {0x2B, 0x0E, 0x02, 0x82, 0x00, 0x00, 0x03};
    const auto object = [&expected](uint8_t id, const std::string& text) {
        expected.push_back(id);
        expected.push_back(static_cast<uint8_t>(text.size()));
        for (const char c : text)
            expected.push_back(static_cast<uint8_t>(c));
    };
    object(0, "Velgate");
    object(1, "Corvane-64");
    object(2, "0.3.1");
    EXPECT_EQ(reply, expected);

    expected[2] = 0x01;
    EXPECT_EQ(gateway.Handle({0x2B, 0x0E, 0x01, 0x00}), expected);
    EXPECT_EQ(gateway.Handle({0x2B, 0x0E, 0x01, 0x07}), expected);  // unknown object: from 0

    Bytes one = {0x2B, 0x0E, 0x04, 0x82, 0x00, 0x00, 0x01, 0x01, 0x0A};
    for (const char c : std::string("Corvane-64"))
        one.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(gateway.Handle({0x2B, 0x0E, 0x04, 0x01}), one);
    EXPECT_EQ(gateway.Handle({0x2B, 0x0E, 0x04, 0x05}), Exception(0x2B, 2));
    EXPECT_EQ(gateway.Handle({0x2B, 0x0E, 0x03, 0x00}), Exception(0x2B, 3));
    EXPECT_EQ(gateway.Handle({0x2B, 0x0D, 0x01, 0x00}), Exception(0x2B, 1));

    gateway.SetEntryRegisters(24);
    const Bytes v2 = gateway.Handle({0x2B, 0x0E, 0x04, 0x02});
    EXPECT_EQ(std::string(v2.begin() + 9, v2.end()), "0.2.1");
}

TEST_F(SimGatewayTest, HandleIsSafeBesideOtherCalls) {
    std::atomic<bool> stop = false;
    std::thread server([&] {
        while (!stop) {
            gateway.Handle(ReadPdu(4, kBitMap, 16));
            gateway.Handle(WriteSinglePdu(1, 0x00FF));
        }
    });
    for (int i = 0; i < 200; ++i) {
        gateway.Activate(5);
        gateway.SetEntryRegisters(i % 2 ? 24 : 28);
        (void)gateway.UnitAddress();
    }
    stop = true;
    server.join();
    SUCCEED();
}

}  // namespace
}  // namespace tarnel::sim
