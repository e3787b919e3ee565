#include "mbus/data_records.h"

#include <gtest/gtest.h>

#include "support.h"
#include "telegrams.h"

namespace tarnel {
namespace {

using test::Lines;
using test::telegram;

// A telegram of meter 12345678 whose records are `records` (hex); the
// checksum byte is left 00, which the record decoding does not look at.
std::vector<uint8_t> withRecords(const char* records) {
    auto bytes = telegram("68 00 00 68 08 05 72 78 56 34 12 43 04 01 07 2A 00 00 00");
    const auto data = telegram(records);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes[1] = bytes[2] = static_cast<uint8_t>(bytes.size() - 4);
    bytes.push_back(0x00);
    bytes.push_back(0x16);
    return bytes;
}

void expectRecord(const std::vector<uint8_t>& bytes, const std::string& value,
                  const std::string& unit, const Lines& lines = {}) {
    const RecordText record = DecodeFirstRecord(bytes);
    EXPECT_EQ(record.value, value);
    EXPECT_EQ(record.unit, unit);
    EXPECT_EQ(record.lines, lines);
}

TEST(DecodeFirstRecord, TheWorkedExamples) {
    expectRecord(telegram(test::kVolume), "10.000", "m3");
    expectRecord(telegram(test::kEnergyBcd), "12345678.000", "kWh");
    expectRecord(withRecords("04 06 FF FF FF FF"), "-1.000", "kWh");
    expectRecord(withRecords("02 5A 2D 01"), "30.100", "deg. C");
    expectRecord(withRecords("0B 3B 45 02 00"), "245.000", "l/h");
}

TEST(DecodeFirstRecord, EveryCodingOfTheDifTable) {
    expectRecord(withRecords("01 13 7F"), "0.127", "m3");
    expectRecord(withRecords("02 13 10 27"), "10.000", "m3");
    expectRecord(withRecords("03 13 40 42 0F"), "1000.000", "m3");
    expectRecord(withRecords("04 13 40 42 0F 00"), "1000.000", "m3");
    expectRecord(withRecords("09 13 99"), "0.099", "m3");
    expectRecord(withRecords("0A 13 34 12"), "1.234", "m3");
    expectRecord(withRecords("0B 13 56 34 12"), "123.456", "m3");
    expectRecord(withRecords("0C 13 78 56 34 12"), "12345.678", "m3");
    expectRecord(telegram(test::kBcd12), "12345678.000", "kWh");
    const Lines unrecognized = {"Unrecognizable DIF value - not decoded..."};
    for (const char* records :
         {"00 13", "05 13 00 00 80 3F", "06 13 01 02 03 04 05 06", "07 13 01 02 03 04 05 06 07 08",
          "08 13", "0D 13 01 02 03 04", "0F 13 01 02"})
        expectRecord(withRecords(records), "", "", unrecognized);
}

TEST(DecodeFirstRecord, BcdThatDoesNotConvertGivesEmptyTextsWithoutALine) {
    expectRecord(telegram(test::kBcdNibbleA), "", "");
    expectRecord(telegram(test::kBcdHighNibbleA), "", "");
    expectRecord(telegram(test::kBcd12AllNines), "", "");
    {
        SCOPED_TRACE("2147483647 + 1");
        expectRecord(withRecords("0E 06 48 36 48 47 21 00"), "", "");
    }
    {
        SCOPED_TRACE("the sixth data byte is not read");
        expectRecord(withRecords("0E 06 47 36 48 47 21 FF"), "2.1474836E9", "kWh");
    }
}

TEST(DecodeFirstRecord, DifsWithHighBitsAreNotDecoded) {
    const Lines unrecognized = {"Unrecognizable DIF value - not decoded..."};
    expectRecord(withRecords("44 13 10 27 00 00"), "", "", unrecognized);
    expectRecord(withRecords("84 10 13 10 27 00 00"), "", "", unrecognized);
}

TEST(DecodeFirstRecord, AFabricationNumberFirstIsSkipped) {
    expectRecord(telegram(test::kFabricationThenVolume), "10.000", "m3", {"Fabr. No. first..."});
    expectRecord(telegram(test::kOnlyFabrication), "", "", {"Fabr. No. first..."});
    expectRecord(telegram(test::kFabricationCut), "", "", {"Error decoding VIF=0x78..."});
    // Only one fabrication-number record is removed.
    expectRecord(withRecords("0C 78 11 22 33 44 0C 78 44 33 22 11"), "11223344.000", "Fabr. No.",
                 {"Fabr. No. first..."});
}

TEST(DecodeFirstRecord, TheFabricationNumberRemovedIsAsLongAsItsDataField) {
    // Real (5), 48- and 64-bit integers (6, 7) and 12-digit BCD (E) by their
    // size; no data (0); the variable length (D) and special function (F)
    // codes as 4 and 8 bytes, without an LVAR.
    for (const char* fabrication :
         {"00 78", "05 78 01 02 03 04", "06 78 01 02 03 04 05 06", "07 78 01 02 03 04 05 06 07 08",
          "0D 78 01 02 03 04", "0E 78 01 02 03 04 05 06", "0F 78 01 02 03 04 05 06 07 08"}) {
        SCOPED_TRACE(fabrication);
        expectRecord(withRecords((std::string(fabrication) + " 04 13 10 27 00 00").c_str()),
                     "10.000", "m3", {"Fabr. No. first..."});
    }
}

TEST(DecodeFirstRecord, TheRecordAfterAFabricationNumberIsDecodedLikeAFirstRecord) {
    expectRecord(telegram(test::kFabricationThenStorageRecord), "", "",
                 {"Fabr. No. first...", "Unrecognizable DIF value - not decoded..."});
    // Its unit comes from the working copy: the extension byte after its own VIF.
    expectRecord(withRecords("0C 78 11 22 33 44 02 FD 48 E6 08"), "2278.000", "Volts, 10^-1",
                 {"Fabr. No. first..."});
    expectRecord(withRecords("0C 78 11 22 33 44 01 7C 02 4B 4D 05"), "5.000",
                 "VIF is user ASCII string: KM", {"Fabr. No. first..."});
}

TEST(DecodeFirstRecord, DataStartAfterTheVifAndItsExtensionBytes) {
    expectRecord(telegram(test::kVif84), "10000.000", "Not supported");
    expectRecord(telegram(test::kVoltsFd48), "2278.000", "Volts, 10^-1");
    expectRecord(telegram(test::kAscii7C), "42.000", "VIF is user ASCII string: ABC");
    expectRecord(telegram(test::kAsciiFC), "42.000", "VIF is user ASCII string: ABC");
    {
        SCOPED_TRACE("an empty ASCII unit");
        expectRecord(withRecords("01 7C 00 07"), "7.000", "Not supported");
    }
    {
        SCOPED_TRACE("two extension bytes");
        expectRecord(withRecords("01 FD 8B 00 2A"), "42.000", "Enhanced identification");
    }
    expectRecord(telegram(test::kTenVifes), "10000.000", "Not supported");
    {
        SCOPED_TRACE("more than 10 extension bytes");
        expectRecord(telegram(test::kElevenVifes), "", "");
    }
}

TEST(DecodeFirstRecord, NothingAtOrPastTheChecksumIsRead) {
    expectRecord(telegram(test::kCutByChecksum), "", "");
    expectRecord(telegram(test::kHeaderOnly), "", "");
    {
        SCOPED_TRACE("the VIF would be the checksum");
        expectRecord(withRecords("04"), "", "");
    }
    {
        SCOPED_TRACE("the extension byte would be the checksum");
        expectRecord(withRecords("01 FD"), "", "");
    }
    {
        SCOPED_TRACE("the ASCII unit runs into the checksum");
        expectRecord(withRecords("01 7C 05 41 42"), "", "");
    }
    {
        SCOPED_TRACE("the extension chain reaches the checksum");
        expectRecord(withRecords("01 93 80 80"), "", "");
    }
    {
        SCOPED_TRACE("a coding that is not decoded reads no data");
        expectRecord(withRecords("05 13"), "", "", {"Unrecognizable DIF value - not decoded..."});
    }
    // A telegram cut short of its own length field is read no further than it goes.
    auto shortened = telegram(test::kVolume);
    shortened.resize(23);
    expectRecord(shortened, "", "");
}

TEST(DecodeFirstRecord, OneToThreeByteIntegersAreSigned) {
    expectRecord(telegram(test::kOneByteMinusOne), "-0.001", "m3");
    expectRecord(withRecords("02 13 FF FF"), "-0.001", "m3");
    expectRecord(withRecords("03 13 00 00 80"), "-8388.608", "m3");
    expectRecord(withRecords("02 13 FF 7F"), "32.767", "m3");
}

TEST(DecodeRecordAt, ZpaRecordsWithTheirDifeAndVife) {
    const auto zpa = telegram(test::kZpa);
    const RecordText first = DecodeRecordAt(zpa, 23);
    EXPECT_EQ(first.value, "1.000");
    EXPECT_EQ(first.unit, "kWh");
    const RecordText second = DecodeRecordAt(zpa, 33);
    EXPECT_EQ(second.value, "2.500");
    EXPECT_EQ(second.unit, "kWh");
}

TEST(DecodeRecordAt, OnlyTheVifsLowFourBitsCount) {
    auto zpa = telegram(test::kZpa);
    zpa[21] = 0x13;  // volume 10^-3 on paper, energy 10^-3 here
    EXPECT_EQ(DecodeRecordAt(zpa, 23).unit, "kWh");
    zpa[21] = 0x0E;
    EXPECT_EQ(DecodeRecordAt(zpa, 23).unit, "MJ");
}

TEST(DecodeRecordAt, CodingsAndFailures) {
    auto zpa = telegram(test::kZpa);
    zpa[19] = 0x85;  // real: read as a 4-byte integer
    EXPECT_EQ(DecodeRecordAt(zpa, 23).value, "1.000");
    zpa[19] = 0x81;  // 1-byte integer, signed
    zpa[23] = 0xFF;
    EXPECT_EQ(DecodeRecordAt(zpa, 23).value, "-0.001");
    zpa[19] = 0x87;
    const RecordText notDecoded = DecodeRecordAt(zpa, 23);
    EXPECT_EQ(notDecoded.value, "");
    EXPECT_EQ(notDecoded.lines, Lines{"Unrecognizable DIF value - not decoded, 1..."});
    const RecordText cut = DecodeRecordAt(telegram(test::kZpaSecondCut), 33);
    EXPECT_EQ(cut.value, "");
    EXPECT_EQ(cut.unit, "");
    EXPECT_TRUE(cut.lines.empty());
    EXPECT_EQ(DecodeRecordAt(telegram(test::kZpa), 200).value, "");
}

}  // namespace
}  // namespace tarnel
