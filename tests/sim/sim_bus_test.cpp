#include "sim/sim_bus.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <set>
#include <string>

#include "mbus/mbus_frames.h"
#include "mbus/telegram_decoder.h"

namespace tarnel::sim {
namespace {

constexpr int kBaud = 2400;
const Bytes kAck{0xE5};

Bytes Hex(const char* text) {
    const QByteArray bytes = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return {bytes.begin(), bytes.end()};
}

// A long frame by the EN 13757-2 rules: L counts C, A, CI and the data, CS is
// their sum modulo 256.
Bytes Long(uint8_t c, uint8_t a, uint8_t ci, const Bytes& data) {
    const auto length = static_cast<uint8_t>(3 + data.size());
    Bytes frame;
    for (const uint8_t byte : {uint8_t{0x68}, length, length, uint8_t{0x68}, c, a, ci})
        frame.push_back(byte);
    int sum = c + a + ci;
    for (const uint8_t byte : data) {
        frame.push_back(byte);
        sum += byte;
    }
    frame.push_back(static_cast<uint8_t>(sum % 256));
    frame.push_back(0x16);
    return frame;
}

// The selection telegram with an identification pattern ("FFFFFF78"),
// manufacturer, version and medium.
Bytes Select(const char* id, uint16_t manufacturer = 0xFFFF, uint8_t version = 0xFF,
             uint8_t medium = 0xFF) {
    const Bytes digits = Hex(id);  // most significant first
    Bytes data;
    for (size_t i = digits.size(); i-- > 0;)
        data.push_back(digits[i]);
    data.push_back(static_cast<uint8_t>(manufacturer));
    data.push_back(static_cast<uint8_t>(manufacturer >> 8));
    data.push_back(version);
    data.push_back(medium);
    return Long(0x53, 0xFD, 0x52, data);
}

SimMeter WaterMeter(uint8_t address, uint32_t id) {
    SimMeter meter;
    meter.address = address;
    meter.id = id;
    meter.manufacturer = 0x0443;
    meter.records = Hex("04 13 10 27 00 00");
    return meter;
}

DecodedTelegram Decode(const std::optional<BusReply>& reply) {
    if (!reply) return {};
    return DecodeMbusTelegram(reply->bytes, "12:00:00");
}

// The row of the meter that answers a REQ_UD2 to `address`.
LoopsRow ReadRow(SimBus& bus, uint8_t address, int baud = kBaud) {
    const DecodedTelegram decoded = Decode(bus.Transmit(ReqUd2(address), baud));
    EXPECT_TRUE(decoded.ok) << "address " << int{address};
    return decoded.row.value_or(LoopsRow{});
}

bool Acked(const std::optional<BusReply>& reply) {
    return reply && reply->bytes == kAck;
}

TEST(SimBus, ManufacturerCodeFromLetters) {
    EXPECT_EQ(ManufacturerCode('A', 'B', 'C'), 0x0443);
    EXPECT_EQ(ManufacturerCode('Z', 'P', 'A'), 0x6A01);
}

TEST(SimBus, ReqUd2GetsTheMetersRspUd) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    // L = C, A, CI + 12 header bytes + 6 record bytes = 0x15; CS = 08 + 05 +
    // 72 + 78 + 56 + 34 + 12 + 43 + 04 + 01 + 07 + 04 + 13 + 10 + 27 = 0x230.
    std::optional<BusReply> reply = bus.Transmit(Hex("10 7B 05 80 16"), kBaud);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, Hex("68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 00 00 00 00 "
                                "04 13 10 27 00 00 30 16"));
    EXPECT_EQ(reply->delayMs, 30);
    // Without the frame count bit; the access number has moved on to 1.
    reply = bus.Transmit(Hex("10 5B 05 60 16"), kBaud);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, Hex("68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 01 00 00 00 "
                                "04 13 10 27 00 00 31 16"));
}

TEST(SimBus, OtherAddressesAndBroadcastWithoutReplyStaySilent) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    EXPECT_FALSE(bus.Transmit(ReqUd2(6), kBaud));
    EXPECT_FALSE(bus.Transmit(ReqUd2(0xFF), kBaud));
    EXPECT_FALSE(bus.Transmit(ReqUd2(0xFD), kBaud));  // nobody selected
    EXPECT_EQ(Decode(bus.Transmit(ReqUd2(0xFE), kBaud)).row.value()[1], "5");
}

TEST(SimBus, BrokenRequestsAreIgnored) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    EXPECT_FALSE(bus.Transmit(Hex("10 7B 05 81 16"), kBaud));                       // checksum
    EXPECT_FALSE(bus.Transmit(Hex("10 7B 05 80 17"), kBaud));                       // stop byte
    EXPECT_FALSE(bus.Transmit(Hex("10 7B 05 80"), kBaud));                          // length
    EXPECT_FALSE(bus.Transmit(Hex("68 06 06 68 73 05 51 01 7A 09 4E 16"), kBaud));  // checksum
    EXPECT_FALSE(bus.Transmit(Hex("68 06 06 68 73 05 51 01 7A 09 4D 17"), kBaud));  // stop
    EXPECT_FALSE(bus.Transmit(Hex("68 07 07 68 73 05 51 01 7A 09 4D 16"), kBaud));  // L
    EXPECT_FALSE(bus.Transmit(Hex("68 06 07 68 73 05 51 01 7A 09 4D 16"), kBaud));  // second L
    EXPECT_FALSE(bus.Transmit({}, kBaud));
    EXPECT_EQ(bus.meters()[0].address, 5);
    // 73 + 05 + 51 + 01 + 7A + 09 = 0x14D.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("68 06 06 68 73 05 51 01 7A 09 4D 16"), kBaud)));
    EXPECT_EQ(bus.meters()[0].address, 9);
}

TEST(SimBus, OnlyMetersAtTheBusSpeedAnswer) {
    SimMeter slow = WaterMeter(5, 0x12345678);
    slow.baud = 300;
    SimBus bus({slow});
    EXPECT_FALSE(bus.Transmit(ReqUd2(5), 2400));
    EXPECT_FALSE(bus.Transmit(SndNke(5), 2400));
    EXPECT_TRUE(Decode(bus.Transmit(ReqUd2(5), 300)).ok);
    EXPECT_TRUE(Acked(bus.Transmit(SndNke(5), 300)));
}

TEST(SimBus, SilentAndWrongChecksumMeters) {
    SimMeter silent = WaterMeter(5, 0x12345678);
    silent.silent = true;
    SimMeter faulty = WaterMeter(6, 0x11111111);
    faulty.wrongChecksum = true;
    SimBus bus({silent, faulty});
    EXPECT_FALSE(bus.Transmit(ReqUd2(5), kBaud));
    EXPECT_FALSE(bus.Transmit(SndNke(5), kBaud));
    const std::optional<BusReply> reply = bus.Transmit(ReqUd2(6), kBaud);
    ASSERT_TRUE(reply);
    const DecodedTelegram decoded = Decode(reply);
    EXPECT_FALSE(decoded.ok);
    EXPECT_NE(std::find(decoded.lines.begin(), decoded.lines.end(), "Wrong CRC"),
              decoded.lines.end());
    EXPECT_TRUE(Acked(bus.Transmit(SndNke(6), kBaud)));
}

TEST(SimBus, ReplyDelayIncludesTheExtraDelay) {
    SimMeter meter = WaterMeter(5, 0x12345678);
    meter.replyDelayMs = 25;
    meter.extraDelayMs = 300;
    SimBus bus({meter});
    EXPECT_EQ(bus.Transmit(ReqUd2(5), kBaud)->delayMs, 325);
    EXPECT_EQ(bus.Transmit(SndNke(5), kBaud)->delayMs, 325);
}

TEST(SimBus, ReqUd1IsAcknowledged) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    EXPECT_TRUE(Acked(bus.Transmit(Hex("10 7A 05 7F 16"), kBaud)));
}

TEST(SimBus, SelectionByExactIdentificationNumber) {
    SimBus bus({WaterMeter(1, 0x12345678), WaterMeter(2, 0x87654321)});
    const uint8_t first[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_TRUE(Acked(bus.Transmit(SelectById(first), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[0], "12345678");
    EXPECT_TRUE(bus.meters()[0].selected);
    EXPECT_FALSE(bus.meters()[1].selected);
    // Selecting the other one deselects the first.
    EXPECT_TRUE(Acked(bus.Transmit(Select("87654321"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[1], "2");
    EXPECT_FALSE(bus.meters()[0].selected);
    // An absent number: no answer, nobody stays selected.
    EXPECT_FALSE(bus.Transmit(Select("12345679"), kBaud));
    EXPECT_FALSE(bus.Transmit(ReqUd2(0xFD), kBaud));
}

TEST(SimBus, SelectionWithWildcards) {
    SimBus bus({WaterMeter(1, 0x12345678), WaterMeter(2, 0x24681358), WaterMeter(3, 0x87654321)});
    EXPECT_TRUE(Acked(bus.Transmit(Select("FFFFFFF1"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[0], "87654321");
    // Two numbers end in 8: both acknowledge (the two E5 overlap cleanly),
    // their read-outs collide.
    EXPECT_TRUE(Acked(bus.Transmit(Select("FFFFFFF8"), kBaud)));
    const std::optional<BusReply> garbled = bus.Transmit(ReqUd2(0xFD), kBaud);
    ASSERT_TRUE(garbled);
    EXPECT_FALSE(Decode(garbled).ok);
    EXPECT_NE(garbled->bytes, bus.meters()[0].RspUd());
    EXPECT_NE(garbled->bytes, bus.meters()[1].RspUd());
    // The next digit tells them apart.
    EXPECT_TRUE(Acked(bus.Transmit(Select("FFFFFF78"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[0], "12345678");
    EXPECT_TRUE(Acked(bus.Transmit(Select("FFFFFF58"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[0], "24681358");
    // A wildcard nibble inside a byte.
    EXPECT_TRUE(Acked(bus.Transmit(Select("8F6F4F2F"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[0], "87654321");
    EXPECT_FALSE(bus.Transmit(Select("FFFFFFF0"), kBaud));
}

TEST(SimBus, SelectionByManufacturerVersionAndMedium) {
    SimMeter gas = WaterMeter(2, 0x12345678);
    gas.manufacturer = ManufacturerCode('G', 'A', 'S');
    gas.medium = 0x03;
    SimBus bus({WaterMeter(1, 0x12345678), gas});
    EXPECT_TRUE(Acked(bus.Transmit(Select("FFFFFFFF", 0x0443), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[1], "1");
    EXPECT_TRUE(Acked(bus.Transmit(Select("12345678", 0xFFFF, 0xFF, 0x03), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[1], "2");
    EXPECT_TRUE(Acked(bus.Transmit(Select("12345678", 0xFFFF, 0x01, 0x07), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[1], "1");
    EXPECT_FALSE(bus.Transmit(Select("FFFFFFFF", 0xFFFF, 0x02), kBaud));
    // C 0x73 (frame count bit set) selects as well.
    EXPECT_TRUE(Acked(bus.Transmit(Long(0x73, 0xFD, 0x52, Hex("78 56 34 12 43 04 FF FF")), kBaud)));
    EXPECT_EQ(ReadRow(bus, 0xFD)[1], "1");
}

TEST(SimBus, SndNkeDeselects) {
    SimBus bus({WaterMeter(1, 0x12345678)});
    EXPECT_TRUE(Acked(bus.Transmit(Select("12345678"), kBaud)));
    // To the primary address: acknowledged, the selection stays.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("10 40 01 41 16"), kBaud)));
    EXPECT_TRUE(bus.Transmit(ReqUd2(0xFD), kBaud));
    EXPECT_TRUE(Acked(bus.Transmit(Hex("10 40 FD 3D 16"), kBaud)));
    EXPECT_FALSE(bus.Transmit(ReqUd2(0xFD), kBaud));
    EXPECT_FALSE(bus.Transmit(SndNke(0xFD), kBaud));  // nobody selected now
    // The broadcast without reply deselects silently.
    EXPECT_TRUE(Acked(bus.Transmit(Select("12345678"), kBaud)));
    EXPECT_FALSE(bus.Transmit(SndNke(0xFF), kBaud));
    EXPECT_FALSE(bus.meters()[0].selected);
}

TEST(SimBus, CollidingRepliesAreNotAValidFrame) {
    SimMeter other = WaterMeter(5, 0x87654321);
    other.records = Hex("04 13 10 27 00 00 02 3B 00 00");  // a longer reply
    SimBus bus({WaterMeter(5, 0x12345678), other});
    const Bytes first = bus.meters()[0].RspUd();
    const Bytes second = bus.meters()[1].RspUd();
    const std::optional<BusReply> reply = bus.Transmit(ReqUd2(5), kBaud);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->bytes.size(), second.size());
    EXPECT_FALSE(Decode(reply).ok);
    EXPECT_NE(reply->bytes.back(), 0x16);
    // A space (0) from either meter wins where the two overlap.
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(reply->bytes[i], first[i] & second[i]) << i;
    // Broadcast with reply: the same collision.
    EXPECT_FALSE(Decode(bus.Transmit(ReqUd2(0xFE), kBaud)).ok);
    // Two equal acknowledgements overlap cleanly.
    EXPECT_TRUE(Acked(bus.Transmit(SndNke(5), kBaud)));
}

TEST(SimBus, NewPrimaryAddressOutOfRangeIsIgnored) {
    SimBus bus({WaterMeter(1, 0x12345678)});
    EXPECT_TRUE(Acked(bus.Transmit(SetPrimaryAddress(1, 251), kBaud)));
    EXPECT_EQ(bus.meters()[0].address, 1);
    EXPECT_TRUE(Acked(bus.Transmit(SetPrimaryAddress(1, 250), kBaud)));
    EXPECT_EQ(bus.meters()[0].address, 250) << "an unsigned byte";
    EXPECT_TRUE(Acked(bus.Transmit(SetPrimaryAddress(250, 0), kBaud)));
    EXPECT_EQ(bus.meters()[0].address, 0);
}

TEST(SimBus, CounterValueChange) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    // 8-digit BCD 12345678 litres into the meter's 32-bit record.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("68 09 09 68 53 05 51 0C 13 78 56 34 12 DC 16"), kBaud)));
    EXPECT_EQ(ReadRow(bus, 5)[3], "12345.678");
    // Binary 1234 litres.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("68 09 09 68 53 05 51 04 13 D2 04 00 00 96 16"), kBaud)));
    EXPECT_EQ(bus.meters()[0].records, Hex("04 13 D2 04 00 00"));
    EXPECT_EQ(ReadRow(bus, 5)[3], "1.234");
    // A record the meter does not have changes nothing, and is acknowledged.
    EXPECT_TRUE(Acked(bus.Transmit(SendRecord(5, Hex("04 06 01 00 00 00")), kBaud)));
    EXPECT_EQ(bus.meters()[0].records, Hex("04 13 D2 04 00 00"));
}

TEST(SimBus, CounterValueIntoBcdRecordAfterFabricationNumber) {
    SimMeter meter = WaterMeter(5, 0x12345678);
    meter.records = Hex("0C 78 21 43 65 87 0B 13 87 09 03");
    SimBus bus({meter});
    EXPECT_TRUE(Acked(bus.Transmit(SendRecord(5, Hex("04 13 D2 04 00 00")), kBaud)));
    EXPECT_EQ(bus.meters()[0].records, Hex("0C 78 21 43 65 87 0B 13 34 12 00"));
    // Too many digits for the 6-digit record: unchanged.
    EXPECT_TRUE(Acked(bus.Transmit(SendRecord(5, Hex("0C 13 78 56 34 12")), kBaud)));
    EXPECT_EQ(bus.meters()[0].records, Hex("0C 78 21 43 65 87 0B 13 34 12 00"));
}

TEST(SimBus, BaudRateSwitch) {
    SimBus bus({WaterMeter(5, 0x12345678)});
    // 53 + 05 + B8 = 0x110: acknowledged at the old speed.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("68 03 03 68 53 05 B8 10 16"), 2400)));
    EXPECT_FALSE(bus.Transmit(ReqUd2(5), 2400));
    EXPECT_TRUE(Decode(bus.Transmit(ReqUd2(5), 300)).ok);
    // 53 + 05 + BB = 0x113.
    EXPECT_TRUE(Acked(bus.Transmit(Hex("68 03 03 68 53 05 BB 13 16"), 300)));
    EXPECT_FALSE(bus.Transmit(ReqUd2(5), 300));
    EXPECT_TRUE(Decode(bus.Transmit(ReqUd2(5), 2400)).ok);
    EXPECT_TRUE(Acked(bus.Transmit(SetBaudrate(5, 0xBD), 2400)));
    EXPECT_EQ(bus.meters()[0].baud, 9600);
}

// --- The default meters -----------------------------------------------------

struct ExpectedRow {
    uint8_t address;
    LoopsRow row;
};

TEST(DefaultMeters, EveryMeterDecodesAsIntended) {
    const ExpectedRow expected[] = {
        {1, {"12345678", "1", "ABC", "123.456", "m3", "Water", "00", "12:00:00"}},
        {2, {"21030045", "2", "HTL", "1527.000", "kWh", "Heat", "00", "12:00:00"}},
        {3, {"30201567", "3", "GSW", "852.410", "m3", "Gas", "04", "12:00:00"}},
        // 12345.678 kWh (tariff 1) + 2345.678 kWh (tariff 2).
        {4, {"45000012", "4", "ZPA", "14691.356", "kWh", "Electricity", "00", "12:00:00"}},
        {5, {"51872403", "5", "WWR", "23.343", "m3", "Hot water", "00", "12:00:00"}},
        {6, {"24681358", "6", "CWM", "30.987", "m3", "Cold water", "00", "12:00:00"}},
        {7, {"70119926", "7", "LGH", "42510.000", "kWh", "Heat", "00", "12:00:00"}},
        {8, {"81234569", "8", "ELQ", "1234.500", "kWh", "Electricity", "00", "12:00:00"}},
    };
    SimBus bus(SimBus::DefaultMeters());
    for (const ExpectedRow& meter : expected)
        EXPECT_EQ(ReadRow(bus, meter.address), meter.row);
}

TEST(DefaultMeters, AScanOfOneToTenFindsThemAll) {
    SimBus bus(SimBus::DefaultMeters());
    int found = 0;
    for (int address = 0; address <= 250; ++address) {
        if (bus.Transmit(ReqUd2(static_cast<uint8_t>(address)), kBaud)) {
            EXPECT_GE(address, 1);
            EXPECT_LE(address, 10);
            ++found;
        }
    }
    EXPECT_EQ(found, 8);
}

TEST(DefaultMeters, EachHasItsOwnManufacturerAndTwoNumbersEndAlike) {
    const std::vector<SimMeter> meters = SimBus::DefaultMeters();
    std::set<uint16_t> manufacturers;
    std::set<uint32_t> lastDigits;
    for (const SimMeter& meter : meters) {
        manufacturers.insert(meter.manufacturer);
        lastDigits.insert(meter.id & 0x0F);
    }
    EXPECT_EQ(manufacturers.size(), meters.size());
    EXPECT_EQ(lastDigits.size(), meters.size() - 1);
}

TEST(DefaultMeters, TheZpaRecordsLieWhereTheToolReadsThem) {
    SimBus bus(SimBus::DefaultMeters());
    const Bytes telegram = bus.Transmit(ReqUd2(4), kBaud)->bytes;
    ASSERT_GE(telegram.size(), 39u);
    EXPECT_EQ(telegram[19], 0x84);  // DIF with extension, 32-bit integer
    EXPECT_EQ(telegram[21] & 0x0F, 0x03);
    EXPECT_EQ(Bytes(telegram.begin() + 23, telegram.begin() + 27), Hex("4E 61 BC 00"));
    EXPECT_EQ(telegram[29], 0x84);
    EXPECT_EQ(telegram[31] & 0x0F, 0x03);
    EXPECT_EQ(Bytes(telegram.begin() + 33, telegram.begin() + 37), Hex("CE CA 23 00"));
}

TEST(DefaultMeters, TheFabricationNumberMeterLogsIt) {
    SimBus bus(SimBus::DefaultMeters());
    const DecodedTelegram decoded = Decode(bus.Transmit(ReqUd2(5), kBaud));
    EXPECT_NE(std::find(decoded.lines.begin(), decoded.lines.end(), "Fabr. No. first..."),
              decoded.lines.end());
}

TEST(DefaultMeters, RepliesComeInTheStandardWindowButTheLongOne) {
    // 11 bit times .. 330 bit times + 50 ms at 2400 Bd.
    const double earliest = 11 * 1000.0 / kBaud, latest = 330 * 1000.0 / kBaud + 50;
    SimBus bus(SimBus::DefaultMeters());
    for (const SimMeter& meter : SimBus::DefaultMeters()) {
        const std::optional<BusReply> reply = bus.Transmit(ReqUd2(meter.address), kBaud);
        ASSERT_TRUE(reply);
        const double transferMs = reply->bytes.size() * 11 * 1000.0 / kBaud;
        if (meter.address == 7) {
            EXPECT_GE(reply->bytes.size(), 140u);
            EXPECT_GT(reply->delayMs, latest);
            // More than the default scan time of 1000 ms, less than 2000.
            EXPECT_GT(reply->delayMs + transferMs, 1000);
            EXPECT_LT(reply->delayMs + transferMs, 2000);
        } else {
            EXPECT_GE(reply->delayMs, earliest);
            EXPECT_LE(reply->delayMs, latest);
        }
    }
}

TEST(DefaultMeters, WildcardSearchSeesOneCollision) {
    SimBus bus(SimBus::DefaultMeters());
    int collisions = 0;
    for (char digit = '0'; digit <= '9'; ++digit) {
        const std::string pattern = std::string("FFFFFFF") + digit;
        if (!Acked(bus.Transmit(Select(pattern.c_str()), kBaud))) continue;
        if (!Decode(bus.Transmit(ReqUd2(0xFD), kBaud)).ok) ++collisions;
    }
    EXPECT_EQ(collisions, 1);
}

// --- The meter file ----------------------------------------------------------

class MeterFile : public ::testing::Test {
protected:
    QString Write(const QByteArray& text) {
        const QString path = dir_.filePath("meters.json");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        return path;
    }

    QString ErrorOf(const QByteArray& text) {
        QString error;
        EXPECT_FALSE(SimBus::LoadMeters(Write(text), &error));
        return error;
    }

    QTemporaryDir dir_;
};

TEST_F(MeterFile, LoadsEveryField) {
    const QString path = Write(R"({"meters": [
        {"address": 1, "id": "12345678", "manufacturer": "ABC", "version": 2, "medium": 4,
         "status": 165, "baud": 300, "records": "04 13 10 27 00 00", "replyDelayMs": 40,
         "silent": true, "wrongChecksum": true, "extraDelayMs": 500},
        {"address": 7, "id": "0000ABCD", "manufacturer": 33859, "records": "041310270000"}]})");
    QString error;
    const std::optional<std::vector<SimMeter>> meters = SimBus::LoadMeters(path, &error);
    ASSERT_TRUE(meters) << error.toStdString();
    ASSERT_EQ(meters->size(), 2u);
    const SimMeter& first = (*meters)[0];
    EXPECT_EQ(first.address, 1);
    EXPECT_EQ(first.id, 0x12345678u);
    EXPECT_EQ(first.manufacturer, 0x0443);
    EXPECT_EQ(first.version, 2);
    EXPECT_EQ(first.medium, 4);
    EXPECT_EQ(first.status, 0xA5);
    EXPECT_EQ(first.baud, 300);
    EXPECT_EQ(first.records, Hex("04 13 10 27 00 00"));
    EXPECT_EQ(first.replyDelayMs, 40);
    EXPECT_TRUE(first.silent);
    EXPECT_TRUE(first.wrongChecksum);
    EXPECT_EQ(first.extraDelayMs, 500);
    // Left out: the defaults.
    const SimMeter& second = (*meters)[1];
    EXPECT_EQ(second.id, 0x0000ABCDu);
    EXPECT_EQ(second.manufacturer, 0x8443);
    EXPECT_EQ(second.medium, 0x07);
    EXPECT_EQ(second.baud, 2400);
    EXPECT_EQ(second.replyDelayMs, 30);
    EXPECT_FALSE(second.silent);
    SimBus bus(*meters);
    EXPECT_EQ(ReadRow(bus, 7)[3], "10.000");
}

TEST_F(MeterFile, AnEmptyBus) {
    QString error;
    const auto meters = SimBus::LoadMeters(Write(R"({"meters": []})"), &error);
    ASSERT_TRUE(meters);
    EXPECT_TRUE(meters->empty());
}

TEST_F(MeterFile, UnreadableFile) {
    QString error;
    EXPECT_FALSE(SimBus::LoadMeters(dir_.filePath("missing.json"), &error));
    EXPECT_TRUE(error.contains("missing.json")) << error.toStdString();
    EXPECT_TRUE(error.contains("cannot read")) << error.toStdString();
}

TEST_F(MeterFile, BadJson) {
    const QString error = ErrorOf(R"({"meters": [{"address": 1,)");
    EXPECT_TRUE(error.contains("meters.json")) << error.toStdString();
    EXPECT_TRUE(error.contains("not valid JSON")) << error.toStdString();
    EXPECT_TRUE(ErrorOf(R"([1, 2])").contains(R"("meters" array)"));
}

TEST_F(MeterFile, BadIdentificationNumbers) {
    for (const char* id : {R"("1234567")", R"("123456789")", R"("1234567G")", "12345678"}) {
        const QString error =
            ErrorOf(QByteArray(R"({"meters": [{"address": 1, "id": )") + id + "}]}");
        EXPECT_TRUE(error.contains(R"(meter 1 "id" must be a text of 8 hexadecimal digits)"))
            << error.toStdString();
    }
}

TEST_F(MeterFile, BadFields) {
    const auto errorFor = [&](const char* fields) {
        return ErrorOf(QByteArray(R"({"meters": [{"address": 1, "id": "12345678", )") + fields +
                       "}]}");
    };
    EXPECT_TRUE(errorFor(R"("records": "04 1Z")").contains(R"("records" must be hexadecimal)"));
    EXPECT_TRUE(errorFor(R"("records": "04 1")").contains(R"("records")"));
    EXPECT_TRUE(errorFor(R"("baud": 1000)").contains(R"("baud" must be one of)"));
    EXPECT_TRUE(errorFor(R"("manufacturer": "abc")").contains(R"("manufacturer")"));
    EXPECT_TRUE(errorFor(R"("medium": 256)").contains(R"("medium" must be a whole number)"));
    EXPECT_TRUE(errorFor(R"("version": 1.5)").contains(R"("version")"));
    EXPECT_TRUE(errorFor(R"("silent": 1)").contains(R"("silent" must be true or false)"));
    EXPECT_TRUE(errorFor(R"("adress": 2)").contains(R"(unknown field "adress")"));
    EXPECT_TRUE(ErrorOf(R"({"meters": [{"address": 251, "id": "12345678"}]})")
                    .contains(R"(meter 1 "address" must be a whole number from 0 to 250)"));
    EXPECT_TRUE(ErrorOf(R"({"meters": [{"address": 1}]})").contains(R"(meter 1 has no "id")"));
    EXPECT_TRUE(ErrorOf(R"({"meters": [3]})").contains("meter 1 is not a JSON object"));
}

}  // namespace
}  // namespace tarnel::sim
