#include "mbus/telegram_decoder.h"

#include <gtest/gtest.h>

#include "support.h"
#include "telegrams.h"

namespace tarnel {
namespace {

using test::Lines;
using test::telegram;

const std::string kTime = "10:00:00";

TEST(DecodeMbusTelegram, AnOrdinaryMetersRow) {
    const DecodedTelegram decoded = DecodeMbusTelegram(telegram(test::kVolume), kTime);
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.lines, Lines{"Respond: 68 15 15 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 "
                                   "00 04 13 10 27 00 00 5A 16 "});
    ASSERT_TRUE(decoded.row);
    EXPECT_EQ(*decoded.row,
              (LoopsRow{"12345678", "5", "ABC", "10.000", "m3", "Water", "00", "10:00:00"}));
}

TEST(DecodeMbusTelegram, StatusMediumAndTheFabricationLine) {
    const DecodedTelegram heat = DecodeMbusTelegram(telegram(test::kHeatStatusA5), kTime);
    ASSERT_TRUE(heat.row);
    EXPECT_EQ((*heat.row)[5], "Heat");
    EXPECT_EQ((*heat.row)[6], "A5");
    const DecodedTelegram fab = DecodeMbusTelegram(telegram(test::kFabricationThenVolume), kTime);
    EXPECT_EQ(fab.lines.size(), 2u);
    EXPECT_EQ(fab.lines[1], "Fabr. No. first...");
    EXPECT_EQ((*fab.row)[3], "10.000");
}

TEST(DecodeMbusTelegram, EachFailingCheckLogsItsLine) {
    auto bad = telegram(test::kVolume);
    bad[bad.size() - 2] ^= 0x01;
    bad[bad.size() - 1] = 0x17;
    const DecodedTelegram both = DecodeMbusTelegram(bad, kTime);
    EXPECT_FALSE(both.ok);
    EXPECT_FALSE(both.row);
    EXPECT_EQ(Lines(both.lines.begin() + 1, both.lines.end()),
              (Lines{"Wrong CRC", "Wrong STOP byte"}));

    auto longer = telegram(test::kVolume);
    longer.insert(longer.end() - 2, 0x00);  // one more data byte, L unchanged
    const DecodedTelegram length = DecodeMbusTelegram(longer, kTime);
    EXPECT_EQ(Lines(length.lines.begin() + 1, length.lines.end()),
              Lines{"Wrong length in the header"});
}

TEST(DecodeMbusTelegram, StartBytesAndTheSecondLAreNotExamined) {
    auto odd = telegram(test::kVolume);
    odd[0] = 0x10;
    odd[2] = 0x99;
    odd[3] = 0x00;
    EXPECT_TRUE(DecodeMbusTelegram(odd, kTime).ok);
}

TEST(DecodeMbusTelegram, ShortTelegrams) {
    const DecodedTelegram ack = DecodeMbusTelegram(telegram("E5"), kTime);
    EXPECT_FALSE(ack.ok);
    EXPECT_EQ(ack.lines, Lines{"Respond: E5 "});
    const DecodedTelegram empty = DecodeMbusTelegram({}, kTime);
    EXPECT_EQ(empty.lines, Lines{"Respond: "});
    // Passes its checks but has no room for the 19-byte header.
    const DecodedTelegram tiny = DecodeMbusTelegram(telegram("68 02 02 68 08 05 0D 16"), kTime);
    EXPECT_FALSE(tiny.ok);
    EXPECT_EQ(tiny.lines.size(), 1u);
}

TEST(DecodeMbusTelegram, AHeaderWithoutRecordsGivesEmptyValue) {
    const DecodedTelegram decoded = DecodeMbusTelegram(telegram(test::kHeaderOnly), kTime);
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ((*decoded.row)[3], "");
    EXPECT_EQ((*decoded.row)[4], "");
}

TEST(DecodeMbusTelegram, ZpaMetersShowTheSumOfTwoRecords) {
    const DecodedTelegram decoded = DecodeMbusTelegram(telegram(test::kZpa), kTime);
    ASSERT_TRUE(decoded.row);
    EXPECT_EQ((*decoded.row)[2], "ZPA");
    EXPECT_EQ((*decoded.row)[3], "3.500");
    EXPECT_EQ((*decoded.row)[4], "kWh");
    EXPECT_EQ((*decoded.row)[5], "Electricity");
    const DecodedTelegram cut = DecodeMbusTelegram(telegram(test::kZpaSecondCut), kTime);
    EXPECT_EQ((*cut.row)[3], "1.000") << "the cut record counts as 0";
    EXPECT_EQ((*cut.row)[4], "") << "and leaves the unit empty";
}

TEST(HeaderDecoders, ManufacturerMediumAndId) {
    EXPECT_EQ(ManufacturerLetters(0x0443), "ABC");
    EXPECT_EQ(ManufacturerLetters(0x6A01), "ZPA");
    EXPECT_EQ(ManufacturerLetters(0x8443), "aBC") << "the first letter takes six bits";
    const std::string hex = "681515680805727856341243040107";
    EXPECT_EQ(MbusIdText(hex + "2A0000"), "12345678");
    EXPECT_EQ(MbusManufacturerText(hex), "ABC");
    const auto medium = [](const char* code) {
        return MbusMediumText(std::string(28, '0') + code);
    };
    EXPECT_EQ(medium("00"), "Other");
    EXPECT_EQ(medium("04"), "Heat");
    EXPECT_EQ(medium("08"), "Heat");
    EXPECT_EQ(medium("0B"), "Cold");
    EXPECT_EQ(medium("0C"), "Unknown");
    EXPECT_EQ(medium("16"), "Cold water");
    EXPECT_EQ(medium("18"), "Pressure");
}

}  // namespace
}  // namespace tarnel
