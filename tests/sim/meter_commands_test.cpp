// What the meters do with the telegrams the tool writes through the
// gateway's pass-through (selection, new primary address, medium, speed,
// counter value), and the 64-meter bus of sim/meters64.json.
#include <gtest/gtest.h>

#include <QByteArray>
#include <algorithm>
#include <optional>
#include <set>

#include "base/virtual_clock.h"
#include "sim/mbus_wire.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {
namespace {

constexpr uint16_t kMbusStatus = 0x8407;
constexpr uint16_t kMbusBuffer = 0x8408;
constexpr uint16_t kMbusLine = 0x8013;
constexpr uint16_t k2400 = 0x20, k300 = 0x00;  // M-Bus line codes, even parity

Bytes Hex(const char* text) {
    const QByteArray bytes = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return {bytes.begin(), bytes.end()};
}

// REQ_UD2: 10 7B A CS 16, CS = 0x7B + A.
Bytes ReqUd2(uint8_t address) {
    return {0x10, 0x7B, address, static_cast<uint8_t>(0x7B + address), 0x16};
}

// A selection of the pattern "FFFFF907" (most significant digit first).
Bytes Select(const char* id, uint16_t manufacturer = 0xFFFF, uint8_t medium = 0xFF) {
    const Bytes digits = Hex(id);
    Bytes frame = {0x68,
                   0x0B,
                   0x0B,
                   0x68,
                   0x53,
                   0xFD,
                   0x52,
                   digits[3],
                   digits[2],
                   digits[1],
                   digits[0],
                   static_cast<uint8_t>(manufacturer),
                   static_cast<uint8_t>(manufacturer >> 8),
                   0xFF,
                   medium};
    uint8_t sum = 0;
    for (size_t i = 4; i < frame.size(); ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    frame.push_back(sum);
    frame.push_back(0x16);
    return frame;
}

SimMeter Meter(uint8_t address, uint8_t medium, int baud, const char* records) {
    SimMeter meter;
    meter.address = address;
    meter.id = 0x12345678;
    meter.medium = medium;
    meter.baud = baud;
    meter.records = Hex(records);
    return meter;
}

// One meter behind the gateway; telegrams go through function 16 at 33800
// and the answer is read back from 33799 on, as the tool does.
struct PassThrough {
    explicit PassThrough(SimMeter meter) : bus({std::move(meter)}) {}

    void SetLine(uint16_t code) {
        const Bytes pdu = {0x06, 0x80, 0x13, 0x00, static_cast<uint8_t>(code)};
        ASSERT_EQ(gateway.Handle(pdu), pdu);
    }

    // The answer, or nothing when the gateway saw no reply.
    std::optional<Bytes> Send(Bytes telegram, uint16_t line) {
        SetLine(line);
        if (telegram.size() % 2) telegram.push_back(0x00);  // the tool's pad byte
        const auto count = static_cast<uint8_t>(telegram.size() / 2);
        Bytes pdu = {0x10, 0x84, 0x08, 0x00, count, static_cast<uint8_t>(telegram.size())};
        for (const uint8_t byte : telegram)
            pdu.push_back(byte);
        EXPECT_EQ(gateway.Handle(pdu).size(), 5u);
        clock.advance(3000);  // beyond the slowest answer at 300 Bd
        const Bytes status = gateway.Handle({0x04, 0x84, 0x07, 0x00, 0x01});
        if (status.at(2) != 4) return std::nullopt;
        Bytes reply = gateway.Handle({0x04, 0x84, 0x08, 0x00, 0x7D});
        reply.erase(reply.begin(), reply.begin() + 2);  // function, byte count
        reply.resize(status.at(3));
        return reply;
    }

    VirtualClock clock;
    SimBus bus;
    SimGateway gateway{bus, clock};
};

struct Command {
    const char* name;
    SimMeter meter;
    const char* before;  // a telegram sent first, when not empty
    const char* telegram;
    uint16_t line;  // the M-Bus speed it is sent at
    uint8_t readAddress;
    uint16_t readLine;
    size_t at;  // where the change shows in the next RSP_UD
    const char* shows;
    int silentAddress;  // a REQ_UD2 to it at `line` stays unanswered (kNone: no check)
};

constexpr int kNone = -1;

const Command kCommands[] = {
    {"address", Meter(1, 0x07, 2400, "04 13 10 27 00 00"),
     // 53 + FD + 52 + 78 + 56 + 34 + 12 + 4 x FF = 0x6B2.
     "68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF B2 16", "68 06 06 68 73 FD 51 01 7A 05 41 16",
     k2400, 5, k2400, 5, "05", 1},
    {"medium", Meter(5, 0x04, 2400, "04 13 10 27 00 00"), "",
     "68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 07 41 16", k2400, 5, k2400, 14, "07", kNone},
    {"to 300 Bd", Meter(5, 0x07, 2400, "04 13 10 27 00 00"), "", "68 03 03 68 53 05 B8 10 16",
     k2400, 5, k300, 7, "78 56 34 12", 5},
    {"to 2400 Bd", Meter(5, 0x07, 300, "04 13 10 27 00 00"), "", "68 03 03 68 53 05 BB 13 16", k300,
     5, k2400, 7, "78 56 34 12", 5},
    // 12345678 = 0x00BC614E into the meter's 32-bit record.
    {"BCD value", Meter(5, 0x07, 2400, "04 13 10 27 00 00"), "",
     "68 09 09 68 53 05 51 0C 13 78 56 34 12 DC 16", k2400, 5, k2400, 19, "04 13 4E 61 BC 00",
     kNone},
    // 1234 into the meter's 8-digit BCD record.
    {"binary value", Meter(5, 0x07, 2400, "0C 13 99 99 00 00"), "",
     "68 09 09 68 53 05 51 04 13 D2 04 00 00 96 16", k2400, 5, k2400, 19, "0C 13 34 12 00 00",
     kNone},
};

TEST(MeterCommands, AppliedAndSeenInTheNextRspUd) {
    for (const Command& command : kCommands) {
        SCOPED_TRACE(command.name);
        PassThrough sim(command.meter);
        if (*command.before) {
            EXPECT_EQ(sim.Send(Hex(command.before), command.line), Hex("E5"));
        }
        EXPECT_EQ(sim.Send(Hex(command.telegram), command.line), Hex("E5"));
        const std::optional<Bytes> reply = sim.Send(ReqUd2(command.readAddress), command.readLine);
        ASSERT_TRUE(reply && wire::IsLongFrame(*reply));
        const Bytes shows = Hex(command.shows);
        ASSERT_GE(reply->size(), command.at + shows.size());
        EXPECT_EQ(Bytes(reply->begin() + command.at, reply->begin() + command.at + shows.size()),
                  shows);
        if (command.silentAddress != kNone) {
            EXPECT_FALSE(
                sim.Send(ReqUd2(static_cast<uint8_t>(command.silentAddress)), command.line));
        }
    }
}

TEST(MeterCommands, WrongChecksumOrAnotherAddressIsIgnored) {
    for (const Command& command : kCommands) {
        SCOPED_TRACE(command.name);
        Bytes corrupt = Hex(command.telegram);
        ++corrupt[corrupt.size() - 2];
        SimMeter elsewhere = command.meter;
        elsewhere.address = 6;  // and not selected: nothing addresses it
        for (const auto& [meter, telegram] :
             {std::pair(command.meter, corrupt), std::pair(elsewhere, Hex(command.telegram))}) {
            PassThrough sim(meter);
            const Bytes before = meter.RspUd();
            if (*command.before && meter.address != 6) sim.Send(Hex(command.before), command.line);
            EXPECT_FALSE(sim.Send(telegram, command.line));
            EXPECT_EQ(sim.bus.meters()[0].RspUd(), before);
            EXPECT_EQ(sim.bus.meters()[0].baud, meter.baud);
        }
    }
}

TEST(MeterCommands, MediumChangeOnlyForTheNamedMeterAtAnAddress) {
    SimMeter other = Meter(5, 0x04, 2400, "04 13 10 27 00 00");
    other.id = 0x87654321;
    SimBus bus({Meter(5, 0x04, 2400, "04 13 10 27 00 00"), other});
    const std::optional<BusReply> reply =
        bus.Transmit(Hex("68 0D 0D 68 53 05 51 07 79 78 56 34 12 FF FF FF 07 41 16"), 2400);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, Hex("E5"));  // one answer, no collision
    EXPECT_EQ(bus.meters()[0].medium, 0x07);
    EXPECT_EQ(bus.meters()[1].medium, 0x04);
}

TEST(MeterCommands, ValueScaledIntoARecordOfAnotherUnit) {
    // 12345678 l into a record in 10 l (VIF 0x14): 1234567.8, rounded.
    SimBus bus({Meter(5, 0x03, 2400, "0C 14 00 00 00 00")});
    EXPECT_TRUE(bus.Transmit(Hex("68 09 09 68 53 05 51 0C 13 78 56 34 12 DC 16"), 2400));
    EXPECT_EQ(bus.meters()[0].records, Hex("0C 14 68 45 23 01"));
}

// --- The 64-meter bus ---------------------------------------------------------

SimBus Meters64() {
    QString error;
    std::optional<SimBus> bus = SimBus::FromFile(SimBus::kMeters64File, &error);
    EXPECT_TRUE(bus) << error.toStdString();
    return bus ? std::move(*bus) : SimBus();
}

int SharedFinalDigits(uint32_t a, uint32_t b) {
    int digits = 0;
    while (digits < 8 && (a >> 4 * digits & 0x0F) == (b >> 4 * digits & 0x0F))
        ++digits;
    return digits;
}

TEST(Meters64, SixtyFourMetersWithSharedFinalDigitsAnsweringWithin300Ms) {
    const SimBus bus = Meters64();
    ASSERT_EQ(bus.meters().size(), 64u);
    std::set<int> addresses, media, manufacturers;
    std::set<int> shared;
    for (size_t i = 0; i < bus.meters().size(); ++i) {
        const SimMeter& meter = bus.meters()[i];
        addresses.insert(meter.address);
        media.insert(meter.medium);
        manufacturers.insert(meter.manufacturer);
        for (size_t j = 0; j < i; ++j)
            shared.insert(SharedFinalDigits(meter.id, bus.meters()[j].id));
        const std::optional<MeterReading> reading = ReadMeterReply(meter.RspUd());
        ASSERT_TRUE(reading && reading->mainVif != 0) << int{meter.address};
        const qint64 readyMs = SimGateway::BusTimeMs(5, 2400) + meter.replyDelayMs +
                               meter.extraDelayMs +
                               SimGateway::BusTimeMs(meter.RspUd().size(), 2400);
        EXPECT_LT(readyMs, 250) << int{meter.address};
    }
    EXPECT_EQ(addresses.size(), 64u);
    EXPECT_EQ(*addresses.begin(), 1);
    EXPECT_EQ(*addresses.rbegin(), 64);
    EXPECT_GE(media.size(), 5u);
    EXPECT_GE(manufacturers.size(), 5u);
    // Some numbers share one, two or three final digits; none share four.
    EXPECT_EQ(shared, (std::set<int>{0, 1, 2, 3}));
}

TEST(Meters64, WildcardSelectionSelectsExactlyTheMatchingMeters) {
    struct Case {
        const char* pattern;
        uint16_t manufacturer;
        uint8_t medium;
        std::set<int> selected;
    } const cases[] = {
        {"FFFFF907", 0xFFFF, 0xFF, {31, 40, 46}},
        {"FFFF0907", 0xFFFF, 0xFF, {40}},
        {"FFFFFF15", 0xFFFF, 0xFF, {24, 33}},
        {"FFFFF907", ManufacturerCode('C', 'W', 'M'), 0xFF, {46}},
        {"FFFFF907", 0xFFFF, 0x04, {31}},
        {"FFFF2907", 0xFFFF, 0xFF, {}},
    };
    SimBus bus = Meters64();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.pattern);
        const std::optional<BusReply> ack =
            bus.Transmit(Select(test.pattern, test.manufacturer, test.medium), 2400);
        std::set<int> selected;
        for (const SimMeter& meter : bus.meters())
            if (meter.selected) selected.insert(meter.address);
        EXPECT_EQ(selected, test.selected);
        EXPECT_EQ(ack.has_value(), !test.selected.empty());
        if (ack) {
            EXPECT_EQ(ack->bytes, Hex("E5"));  // several E5 overlap cleanly
        }
        // One selected meter reads cleanly; several collide.
        const std::optional<BusReply> reply = bus.Transmit(ReqUd2(0xFD), 2400);
        EXPECT_EQ(reply.has_value(), !test.selected.empty());
        if (reply) {
            EXPECT_EQ(wire::IsLongFrame(reply->bytes), test.selected.size() == 1);
        }
    }
}

}  // namespace
}  // namespace tarnel::sim
