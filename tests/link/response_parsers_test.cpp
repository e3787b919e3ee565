#include "link/response_parsers.h"

#include <gtest/gtest.h>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/hex_text.h"
#include "link/crc.h"
#include "link/request_frames.h"
#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

// A reply with its CRC appended.
QByteArray reply(const char* hex) {
    return RtuFrame(bytes(hex));
}

const QString kCrcLine = QStringLiteral("Error in CRC field\r");

TEST(TcpToRtuFrame, DropsTheHeaderAndAppendsTheCrc) {
    QStringList lines;
    EXPECT_EQ(TcpToRtuFrame(bytes("00 01 00 00 00 05 01 04 02 00 0A"), &lines),
              bytes("01 04 02 00 0A 39 37"));
    EXPECT_TRUE(lines.isEmpty());
}

TEST(TcpToRtuFrame, ShortAnswersAreLoggedRawAndDropped) {
    QStringList lines;
    EXPECT_TRUE(TcpToRtuFrame(bytes("00 01 00 00 00"), &lines).isEmpty());
    EXPECT_EQ(lines, QStringList{"Error, raw TCP data: 00 01 00 00 00 "});
    lines.clear();
    EXPECT_TRUE(TcpToRtuFrame(QByteArray(), &lines).isEmpty());
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_EQ(TcpToRtuFrame(bytes("03 E8 00 00 00 02 01 84"), &lines).size(), 4)
        << "8 bytes convert";
}

TEST(ValidateResponse, PlainAndFillerCrcForms) {
    // A write reply with a filler byte: its length tells the filler form.
    const Validation written =
        ValidateResponse(RtuFrame(bytes("01 06 00 00 00 05")) + QByteArray(1, '\0'));
    EXPECT_TRUE(written.passed);
    EXPECT_EQ(written.dataEnd, 6);
    EXPECT_TRUE(ValidateResponse(bytes("01 04 02 00 0A 39 37")).passed);
    const Validation filler = ValidateResponse(bytes("01 04 02 00 0A 39 37 00"));
    EXPECT_TRUE(filler.passed);
    EXPECT_EQ(filler.dataEnd, 5);
    for (const char* bad : {"01 04 02 00 0A 39 38", "01 04 02 00 0A 39 37 01"}) {
        const Validation checked = ValidateResponse(bytes(bad));
        EXPECT_FALSE(checked.passed) << bad;
        EXPECT_TRUE(checked.report.crcError) << bad;
        EXPECT_EQ(checked.report.lines, QStringList{kCrcLine}) << bad;
    }
}

TEST(ValidateResponse, ACrcHighByteOfZeroPassesInThePlainForm) {
    // Find a reply whose CRC ends in 0x00: the plain form must take it as is.
    for (int value = 0; value < 0x10000; ++value) {
        QByteArray adu = bytes("01 03 02");
        adu.append(static_cast<char>(value >> 8)).append(static_cast<char>(value & 0xFF));
        if (crcHigh(CalcCrc16(adu)) != 0x00) continue;
        const Validation checked = ValidateResponse(RtuFrame(adu));
        EXPECT_TRUE(checked.passed);
        EXPECT_EQ(checked.dataEnd, 5);
        return;
    }
    FAIL() << "no CRC with a zero high byte found";
}

TEST(ValidateResponse, GarbageAndExceptions) {
    EXPECT_EQ(ValidateResponse(reply("00 04 02 00 0A")).report.lines,
              QStringList{"Garbage leading bytes in the telegram"});
    EXPECT_EQ(ValidateResponse(bytes("01 84 02 C2 C1")).report.lines,
              QStringList{"Error - ILLEGAL DATA ADDRESS\r"});
    EXPECT_TRUE(ValidateResponse(bytes("01 84 05 83 03")).report.lines.isEmpty());
    const std::pair<const char*, QString> lines[] = {
        {"01 83 01", "Error - ILLEGAL FUNCTION\r"},
        {"01 83 03", "Error - ILLEGAL DATA VALUE\r"},
        {"01 83 04", "Error - SLAVE DEVICE FAILURE\r"},
        {"01 83 06", "Error - SLAVE DEVICE BUSY\r"},
        {"01 83 08", "Error - MEMORY PARITY ERROR\r"},
        {"01 83 07", ""},
        {"01 83 0A", ""},
        {"01 83 0B", ""},
    };
    for (const auto& [frame, line] : lines) {
        const Validation checked = ValidateResponse(reply(frame));
        EXPECT_FALSE(checked.passed) << frame;
        EXPECT_EQ(checked.report.lines, line.isEmpty() ? QStringList() : QStringList{line})
            << frame;
        EXPECT_FALSE(checked.report.crcError);
    }
}

TEST(ValidateResponse, FramesOfOneToFourBytesAreCrcErrors) {
    for (const char* frame : {"01", "01 04", "01 04 02", "FF FF 01 B0"}) {
        const Validation checked = ValidateResponse(bytes(frame));
        EXPECT_FALSE(checked.passed) << frame;
        EXPECT_TRUE(checked.report.crcError) << frame;
    }
}

TEST(ParseRegisterResponse, RegistersOfAReadReply) {
    const RegisterReply parsed = ParseRegisterResponse(reply("01 04 04 01 03 80 00"));
    ASSERT_EQ(parsed.registers.size(), 2);
    EXPECT_EQ(parsed.registers[0].high, 0x01);
    EXPECT_EQ(parsed.registers[0].low, 0x03);
    EXPECT_EQ(parsed.registers[1].high, 0x80);
    EXPECT_EQ(CountActiveDevices(parsed.registers), 4) << "0x0103 and 0x8000 have four bits set";
}

TEST(ParseRegisterResponse, AByteCountLargerThanTheFrameUsesTheBytesPresent) {
    // The byte count says 8; the frame holds 4 data bytes before its CRC.
    const RegisterReply parsed = ParseRegisterResponse(reply("01 04 08 00 01 00 02"));
    ASSERT_EQ(parsed.registers.size(), 2);
    EXPECT_EQ(parsed.registers[1].low, 0x02);
    EXPECT_TRUE(ParseRegisterResponse(reply("01 04 FF")).registers.isEmpty());
}

TEST(ParseRegisterResponse, AShorterByteCountStopsTheWalk) {
    const RegisterReply parsed = ParseRegisterResponse(reply("01 04 02 00 0A 00 0B"));
    ASSERT_EQ(parsed.registers.size(), 1);
    EXPECT_EQ(parsed.registers[0].low, 0x0A);
}

TEST(CountActiveDevices, WrapsAfter255) {
    QVector<Register> all(16, Register{0xFF, 0xFF});  // 256 bits set
    EXPECT_EQ(CountActiveDevices(all), 0);
    EXPECT_EQ(CountActiveDevices({}), 0);
}

TEST(RegisterRowTexts, NumberBytesAndTime) {
    EXPECT_EQ(RegisterRowTexts({0x00, 0x0A}, 33799, QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))),
              (QStringList{"33799", "00", "", "0A", "", "09:05:03"}));
}

TEST(ParseAddressMapResponse, OneLinePerDataByte) {
    EXPECT_EQ(ParseAddressMapResponse(reply("01 04 02 05 00")).lines,
              (QStringList{"Modbus 1 -> Mbus 5", "Modbus 2 -> Mbus 0"}));
    EXPECT_EQ(ParseAddressMapResponse(bytes("01 04 02 05 00 00 00")).lines, QStringList{kCrcLine});
}

TEST(ParseDeviceIdResponse, TextFromPositionSevenWithSmallBytesAsBlanks) {
    // Read Device Identification answer: objects 0 "Velgate" and 1 "C64".
    const QByteArray frame =
        reply("01 2B 0E 02 02 00 00 02 00 07 56 65 6C 67 61 74 65 01 03 43 36 34");
    EXPECT_EQ(ParseDeviceIdResponse(frame).lines, QStringList{"   Velgate  C64"});
    // With a filler byte the two CRC forms cannot be told apart for a reply
    // of varying length: the plain form counts the CRC's low byte as text.
    EXPECT_EQ(ParseDeviceIdResponse(frame + QByteArray(1, '\0')).lines.size(), 1);
    EXPECT_EQ(ParseDeviceIdResponse(reply("01 2B 0E 02 02 00 00")).lines, QStringList{""});
    EXPECT_TRUE(ParseDeviceIdResponse(reply("00 2B 0E 02 02 00 00 41")).lines.isEmpty());
    const ParseReport bad = ParseDeviceIdResponse(bytes("01 2B 0E 02 02 00 00 41 00 00"));
    EXPECT_EQ(bad.lines, QStringList{kCrcLine});
    EXPECT_FALSE(bad.crcError) << "the status bar is left alone";
}

TEST(ParseMbusResponse, DropsThePadByteOfAnOddTelegram) {
    EXPECT_EQ(ParseMbusResponse(reply("01 04 06 10 7B 01 7C 16 00"), 6).telegram,
              bytes("10 7B 01 7C 16"));
    EXPECT_EQ(ParseMbusResponse(reply("01 04 02 E5 00"), 2).telegram, bytes("E5 00"));
    EXPECT_TRUE(ParseMbusResponse(bytes("01 04 02 E5 00 00 00"), 2).telegram.isEmpty());
}

TEST(ParseMbusResponse, ADataLengthBeyondTheFrameUsesTheBytesPresent) {
    EXPECT_EQ(ParseMbusResponse(reply("01 04 06 E5 00"), 6).telegram, bytes("E5 00"));
    EXPECT_EQ(ParseMbusResponse(reply("01 04 00"), 6).telegram, QByteArray());
}

TEST(ReadFirstRegister, TheFirstRegistersBytesOrZero) {
    const FirstRegister first = ReadFirstRegister(reply("01 04 02 04 2F"));
    EXPECT_EQ(first.high, 0x04);
    EXPECT_EQ(first.low, 0x2F);
    const FirstRegister failed = ReadFirstRegister(bytes("01 84 02 C2 C1"));
    EXPECT_EQ(failed.high, 0);
    EXPECT_EQ(failed.low, 0);
    const FirstRegister empty = ReadFirstRegister(reply("01 04 00"));
    EXPECT_EQ(empty.low, 0) << "a reply without a register";
    // The reply state: above 3 with a length.
    EXPECT_TRUE(MbusReplyReady(first));
    EXPECT_FALSE(MbusReplyReady(ReadFirstRegister(reply("01 04 02 03 2F"))));
    EXPECT_FALSE(MbusReplyReady(ReadFirstRegister(reply("01 04 02 04 00"))));
}

TEST(HexText, ConversionsShared) {
    EXPECT_EQ(HexText8ToInt("000000FF"), 255);
    EXPECT_EQ(HexText8ToInt("FFFFFFFF"), -1);
    EXPECT_EQ(HexText8ToInt("0000abcdEXTRA"), 0xABCD);
    EXPECT_THROW(HexText8ToInt("0000G000"), std::invalid_argument);
    EXPECT_THROW(HexText8ToInt("FF"), std::invalid_argument);
    EXPECT_EQ(HexToBinText("A1"), "10100001");
    EXPECT_EQ(HexToBinText("f-0"), "11110000");
    EXPECT_EQ(HexToBinText(""), "");
    EXPECT_EQ(HexBytesText(bytes("01 0A FF")), "01 0A FF ");
    EXPECT_EQ(HexBytesText({}), "");
    EXPECT_EQ(RcvdLine(QByteArray()), "RCVD:");
    const std::vector<uint8_t> three{0x01, 0x0A, 0xFF};
    EXPECT_EQ(HexText(three), "010AFF");
    EXPECT_EQ(HexText(three, " "), "01 0A FF");
    EXPECT_EQ(HexText(uint8_t{0x7C}), "7C");
}

TEST(MediumCodeFromName, ExactNamesOnly) {
    EXPECT_EQ(MediumCodeFromName("Water"), 7);
    EXPECT_EQ(MediumCodeFromName("water"), 15);
    EXPECT_EQ(MediumCodeFromName("Heat meter"), 4);
    EXPECT_EQ(MediumCodeFromName("Cold water"), 0x16);
    EXPECT_EQ(MediumCodeFromName("Pressure"), 0x18);
    EXPECT_EQ(MediumCodeFromName("Other"), 0);
    EXPECT_EQ(MediumCodeFromName("Unknown"), 15);
}

}  // namespace
}  // namespace tarnel
