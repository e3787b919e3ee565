#include "mbus/telegram_records.h"

#include <gtest/gtest.h>

#include "mbus/mbus_frames.h"
#include "mbus/record_rows.h"
#include "support.h"

namespace tarnel {
namespace {

using enum ValueKind;
using test::telegram;

// A long header (ID 12345678, ABC, version 1, water, access 0x2A, status 0)
// and the records given, framed with their checksum. CI 0x76 sends the ID
// and the manufacturer most significant byte first.
std::vector<uint8_t> framed(const char* records, uint8_t ci = 0x72) {
    Bytes data = telegram(ci == 0x76 ? "12 34 56 78 04 43 01 07 2A 00 00 00"
                                     : "78 56 34 12 43 04 01 07 2A 00 00 00");
    const auto tail = telegram(records);
    data.insert(data.end(), tail.begin(), tail.end());
    return LongFrame(0x08, 0x05, ci, data);
}

TelegramRecord onlyRecord(const char* records, uint8_t ci = 0x72) {
    const TelegramRecords decoded = DecodeTelegramRecords(framed(records, ci));
    EXPECT_TRUE(decoded.frameOk);
    EXPECT_EQ(decoded.stopped, "") << records;
    return decoded.records.empty() ? TelegramRecord{} : decoded.records.back();
}

// "Energy: 427000 Wh storage 1 tariff 2 subunit 1 (note)", what is set.
std::string summary(const TelegramRecord& record) {
    std::string text = record.quantity + ": " + record.value;
    if (!record.unit.empty()) text += " " + record.unit;
    if (record.storage) text += " storage " + std::to_string(record.storage);
    if (record.tariff) text += " tariff " + std::to_string(record.tariff);
    if (record.subunit) text += " subunit " + std::to_string(record.subunit);
    if (!record.note.empty()) text += " (" + record.note + ")";
    return text;
}

std::vector<std::string> summaries(const TelegramRecords& decoded) {
    std::vector<std::string> texts;
    for (const TelegramRecord& record : decoded.records)
        texts.push_back(summary(record));
    return texts;
}

TEST(DecodeTelegramRecords, DataFieldCodings) {
    using enum RecordFunction;
    const struct {
        const char* record;  // VIF 0x13: volume, 10^-3 m3
        ValueKind kind;
        const char* value;
        const char* note = "";
        RecordFunction function = Instantaneous;
        uint64_t storage = 0;
        uint32_t tariff = 0, subunit = 0;
    } rows[] = {
        {"00 13", None, "", "no data"},
        {"01 13 FF", Number, "-0.001"},
        {"02 13 39 30", Number, "12.345"},
        {"03 13 E0 2E 00", Number, "12.000"},
        {"04 13 00 00 00 80", Number, "-2147483.648"},
        {"05 13 00 00 C0 3F", Number, "0.0015"},
        {"05 17 CD CC 8C 3F", Number, "11"},  // 1.1f times 10
        {"06 17 FE FF FF FF FF FF", Number, "-20"},
        {"07 16 00 00 00 00 00 00 00 80", Number, "-9223372036854775808"},
        {"08 13", None, "", "selection for readout"},
        {"09 13 42", Number, "0.042"},
        {"0A 13 34 F2", Number, "-0.234"},
        {"0B 13 56 34 12", Number, "123.456"},
        {"0C 13 78 56 34 12", Number, "12345.678"},
        {"0E 13 12 90 78 56 34 12", Number, "123456789.012"},
        {"0A 13 1A 00", None, "", "not a BCD number"},
        {"0A 13 00 AF", None, "", "not a BCD number"},
        {"0D 13 03 43 42 41", Text, "ABC"},
        {"0D 13 C2 45 23", Number, "2.345"},
        {"0D 13 D1 07", Number, "-0.007"},
        {"0D 13 E2 01 80", Hex, "8001"},
        {"0D 78 C0", None, "", "no digits"},  // an empty fabrication number
        {"0D 78 D0", None, "", "no digits"},
        {"11 13 01", Number, "0.001", "", Maximum},
        {"21 13 01", Number, "0.001", "", Minimum},
        {"31 13 01", Number, "0.001", "", Error},
        {"41 13 01", Number, "0.001", "", Instantaneous, 1},
        // DIFE 0xDA: subunit 1, tariff 1, storage 10; DIFE 0x23: tariff 2, storage 3.
        {"C1 DA 23 13 01", Number, "0.001", "", Instantaneous, 1 + (10 << 1) + (3 << 5),
         1 + (2 << 2), 1},
        {"2F 2F 01 13 01 2F", Number, "0.001"},
        {"0F 01 02 03", Hex, "010203"},
    };
    for (const auto& row : rows) {
        const TelegramRecord record = onlyRecord(row.record);
        EXPECT_EQ(record.kind, row.kind) << row.record;
        EXPECT_EQ(record.value, row.value) << row.record;
        EXPECT_EQ(record.note, row.note) << row.record;
        EXPECT_EQ(record.function, row.function) << row.record;
        EXPECT_EQ(record.storage, row.storage) << row.record;
        EXPECT_EQ(record.tariff, row.tariff) << row.record;
        EXPECT_EQ(record.subunit, row.subunit) << row.record;
    }
    EXPECT_EQ(DecodeTelegramRecords(framed("1F 01")).moreRecordsFollow, true);
}

TEST(DecodeTelegramRecords, VifTablesAndVifes) {
    const struct {
        const char* record;  // mostly an 8-bit 5
        const char* summary;
        ValueKind kind = Number;
    } rows[] = {
        {"01 00 05", "Energy: 0.005 Wh"},
        {"01 07 05", "Energy: 50000 Wh"},
        {"01 0B 05", "Energy: 5000 J"},
        {"01 16 05", "Volume: 5 m3"},
        {"01 1A 05", "Mass: 0.5 kg"},
        {"01 22 05", "On time: 5 h"},
        {"01 27 05", "Operating time: 5 d"},
        {"01 2B 05", "Power: 5 W"},
        {"01 33 05", "Power: 5000 J/h"},
        {"01 3B 05", "Volume flow: 0.005 m3/h"},
        {"01 43 05", "Volume flow: 0.0005 m3/min"},
        {"01 4F 05", "Volume flow: 0.05 m3/s"},
        {"01 52 05", "Mass flow: 0.5 kg/h"},
        {"01 59 05", "Flow temperature: 0.05 °C"},
        {"01 5E 05", "Return temperature: 0.5 °C"},
        {"01 61 05", "Temperature difference: 0.05 K"},
        {"01 67 05", "External temperature: 5 °C"},
        {"01 69 05", "Pressure: 0.05 bar"},
        {"01 6E 05", "Units for H.C.A.: 5"},
        {"01 70 05", "Averaging duration: 5 s"},
        {"01 76 05", "Actuality duration: 5 h"},
        {"0C 78 78 56 34 00", "Fabrication number: 00345678"},
        {"01 7A 05", "Bus address: 5"},
        {"01 6F 05", "Unknown VIF 0x6F: 5"},
        {"01 7C 03 68 2F 6C 05", "Plain text VIF: 5 l/h"},
        {"01 FC 03 68 2F 6C 74 05", "Plain text VIF: 0.05 l/h (multiplicative correction 10^-2)"},
        {"01 FF 12 05", "Manufacturer specific: 5"},
        {"01 FD 01 05", "Credit: 0.05 currency units"},
        {"01 FD 08 05", "Access number: 5"},
        {"02 FD 0A 43 04", "Manufacturer: ABC", Text},
        {"02 FD 17 01 80", "Error flags: 8001", Hex},
        {"02 FD 1C 60 09", "Baud rate: 2400 Bd"},
        {"01 FD 26 05", "Storage interval: 5 h"},
        {"02 FD 48 E6 08", "Voltage: 227.8 V"},
        {"02 FD 59 E8 03", "Current: 1.000 A"},
        {"01 FD 6D 05", "Operating time battery: 5 d"},
        {"01 FD 19 05", "Unknown VIFE 0x19 of table 0xFD: 5"},
        {"01 FB 00 05", "Energy: 0.5 MWh"},
        {"01 FB 09 05", "Energy: 5 GJ"},
        {"01 FB 11 05", "Volume: 5000 m3"},
        {"01 FB 18 05", "Mass: 500 t"},
        {"01 FB 21 05", "Volume: 0.5 ft3"},
        {"01 FB 5A 05", "Flow temperature: 0.5 °F"},
        {"01 FB 02 05", "Unknown VIFE 0x02 of table 0xFB: 5"},
        {"01 93 22 05", "Volume: 0.005 m3 (per hour)"},
        {"01 96 73 05", "Volume: 0.005 m3 (multiplicative correction 10^-3)"},
        {"01 83 7D 05", "Energy: 5000 Wh (multiplicative correction 10^3)"},
        {"01 93 F9 28 05",
         "Volume: 0.005 m3 (additive correction constant 10^-2 m3; increment "
         "per input pulse on channel 0)"},
        {"01 93 15 05", "Volume: 0.005 m3 (error: no data available (undefined value))"},
        {"01 93 3D 05", "Volume: 0.005 m3 (Unknown VIFE 0x3D)"},
        {"01 93 FF 12 05", "Volume: 0.005 m3 (manufacturer specific VIFEs)"},
        {"01 93 49 05", "Volume, number of exceeds of upper limit: 5"},
        {"02 93 4F CD 13", "Volume, time of end of last exceed of upper limit: 2014-03-13", Date},
        {"02 6C CD 13", "Date: 2014-03-13", Date},
        {"02 6C DE 12", "Date:  (invalid date)", None},
        {"04 6D 0B 0B CD 13", "Date and time: 2014-03-13T11:11", DateTime},
        {"04 6D 0B 8B CD 13", "Date and time: 2014-03-13T11:11 (summer time)", DateTime},
        {"04 6D 8B 0B CD 13", "Date and time:  (invalid date and time)", None},
        {"06 6D 1E 0B 0B CD 13 00", "Date and time: 2014-03-13T11:11:30", DateTime},
    };
    for (const auto& row : rows) {
        const TelegramRecord record = onlyRecord(row.record);
        EXPECT_EQ(summary(record), row.summary) << row.record;
        EXPECT_EQ(record.kind, row.kind) << row.record;
    }
}

TEST(DecodeTelegramRecords, TimesOfValuesByteOrderAndDateTypes) {
    const struct {
        const char* record;
        const char* summary;
        ValueKind kind;
        uint8_t ci = 0x72;
    } rows[] = {
        // Maximum, tariff 1, flow temperature 10^-1 °C, VIFE 0x6F: time of end
        // of last; type F: 50 min, 20 h, day 26, year 8 + 3, month 8.
        {"94 10 DA 6F 32 14 7A 18",
         "Flow temperature, time of end of last maximum: 2011-08-26T20:50 tariff 1", DateTime},
        // Minimum, VIFE 0x6A: begin of first; type G: day 29, year 24, month 2.
        {"22 BB 6A 1D 32", "Volume flow, time of begin of first minimum: 2024-02-29", Date},
        {"12 AB 66 0C 00", "Power, duration of last maximum: 12 h", Number},
        {"01 93 59 05", "Volume, duration of first exceed of upper limit: 5 min", Number},
        {"01 93 6C 05", "Volume: 0.005 m3 (Unknown VIFE 0x6C)", Number},
        {"02 83 39 CD 13", "Energy, time of start: 2014-03-13", Date},
        // Mode 2: 0x3039 = 12345, BCD 00012345, type F 0B 0B CD 13 turned round.
        {"04 13 00 00 30 39", "Volume: 12.345 m3", Number, 0x76},
        {"0C 13 00 01 23 45", "Volume: 12.345 m3", Number, 0x76},
        {"04 6D 13 CD 0B 0B", "Date and time: 2014-03-13T11:11", DateTime, 0x76},
        {"0D FD 11 03 41 42 43", "Customer: ABC", Text, 0x76},
        // Type F, hundred-year bits 5-6 of the hour byte: 1 and year 90; none;
        // 2 and year 24 (a leap year); 2 and year 0 (2100, no leap year).
        {"04 6D 22 2C 4F B6", "Date and time: 2090-06-15T12:34", DateTime},
        {"04 6D 22 0C 4F B6", "Date and time: 1990-06-15T12:34", DateTime},
        {"04 6D 00 40 1D 32", "Date and time: 2124-02-29T00:00", DateTime},
        {"04 6D 00 40 1D 02", "Date and time:  (invalid date and time)", None},
        {"03 6D 1E 22 0C", "Date and time: 12:34:30", Time},  // type J
        // Type I: bit 7 of the seconds marks the time invalid, of the minutes summer time.
        {"06 6D 9E 0B 0B CD 13 00", "Date and time:  (invalid date and time)", None},
        {"06 6D 1E 8B 0B CD 13 00", "Date and time: 2014-03-13T11:11:30 (summer time)", DateTime},
    };
    for (const auto& row : rows) {
        const TelegramRecord record = onlyRecord(row.record, row.ci);
        EXPECT_EQ(summary(record), row.summary) << row.record;
        EXPECT_EQ(record.kind, row.kind) << row.record;
    }
    const TelegramHeader mode2 = DecodeTelegramRecords(framed("", 0x76)).header;
    EXPECT_EQ(mode2.id, "12345678");
    EXPECT_EQ(mode2.manufacturer, "ABC");
    EXPECT_EQ(TelegramHeaderTexts(mode2).front(),
              "Byte order: mode 2, most significant byte first");
}

TEST(DecodeTelegramRecords, HeatMeter) {
    const TelegramRecords decoded = DecodeTelegramRecords(telegram(
        "68 49 49 68 08 05 72 78 56 34 12 2D 2C 1B 04 2A 00 00 00 0C 06 27 04 00 00 0C 14 11 47 "
        "31 00 0B 2D 56 00 00 0B 3B 34 02 00 0A 5B 65 00 0A 5F 42 00 0A 62 29 02 04 6D 0B 0B CD "
        "13 4C 06 51 03 00 00 42 6C BF 1C 02 FD 17 00 00 0F 01 02 EF 16"));
    EXPECT_TRUE(decoded.frameOk);
    EXPECT_EQ(decoded.stopped, "");
    EXPECT_EQ(decoded.header.id, "12345678");
    EXPECT_EQ(decoded.header.manufacturer, "KAM");
    EXPECT_EQ(decoded.header.version, 0x1B);
    EXPECT_EQ(decoded.header.medium, 0x04);
    EXPECT_EQ(decoded.header.accessNumber, 0x2A);
    EXPECT_EQ(decoded.header.statusWords.size(), 0u);
    EXPECT_EQ(summaries(decoded),
              (std::vector<std::string>{
                  "Energy: 427000 Wh", "Volume: 3147.11 m3", "Power: 5600 W",
                  "Volume flow: 0.234 m3/h", "Flow temperature: 65 °C", "Return temperature: 42 °C",
                  "Temperature difference: 22.9 K", "Date and time: 2014-03-13T11:11",
                  "Energy: 351000 Wh storage 1", "Date: 2013-12-31 storage 1", "Error flags: 0000",
                  "Manufacturer specific: 0102"}));
    EXPECT_EQ(decoded.records[1].offset, 25u);
    EXPECT_EQ(decoded.records[1].bytes, telegram("0C 14 11 47 31 00"));
    EXPECT_FALSE(decoded.moreRecordsFollow);
}

TEST(DecodeTelegramRecords, WaterMeterWithTheShortHeader) {
    const TelegramRecords decoded = DecodeTelegramRecords(
        telegram("68 25 25 68 08 05 7A 10 04 00 00 04 13 C7 2D 01 00 44 13 10 27 00 00 42 6C 9F "
                 "2C 01 FD 0C 03 0D FD 11 04 34 33 32 31 2F 2F 02 16"));
    EXPECT_TRUE(decoded.frameOk);
    EXPECT_EQ(decoded.stopped, "");
    EXPECT_EQ(decoded.header.controlInformation, 0x7A);
    EXPECT_EQ(decoded.header.id, "");
    EXPECT_EQ(decoded.header.accessNumber, 0x10);
    EXPECT_EQ(decoded.header.statusWords, std::vector<std::string>{"power low"});
    EXPECT_EQ(summaries(decoded),
              (std::vector<std::string>{"Volume: 77.255 m3", "Volume: 10.000 m3 storage 1",
                                        "Date: 2020-12-31 storage 1", "Model/version: 3",
                                        "Customer: 1234"}));
}

TEST(DecodeTelegramRecords, ElectricityMeterWithTariffsAndSubunits) {
    const TelegramRecords decoded = DecodeTelegramRecords(telegram(
        "68 42 42 68 08 05 72 21 43 65 87 42 04 01 02 2A 00 00 00 0E 04 56 34 12 00 00 00 8E 10 "
        "04 10 32 54 00 00 00 8E 20 04 00 00 01 00 00 00 04 2B C0 1D FE FF 02 FD 48 E6 08 02 FD "
        "59 E8 03 82 40 FD 48 E7 08 1F AA 55 70 16"));
    EXPECT_TRUE(decoded.frameOk);
    EXPECT_EQ(decoded.header.id, "87654321");
    EXPECT_EQ(decoded.header.manufacturer, "ABB");
    EXPECT_EQ(summaries(decoded),
              (std::vector<std::string>{
                  "Energy: 1234560 Wh", "Energy: 5432100 Wh tariff 1", "Energy: 100000 Wh tariff 2",
                  "Power: -123456 W", "Voltage: 227.8 V", "Current: 1.000 A",
                  "Voltage: 227.9 V subunit 1", "Manufacturer specific: AA55"}));
    EXPECT_TRUE(decoded.moreRecordsFollow);
}

TEST(DecodeTelegramRecords, HeatCostAllocator) {
    const TelegramRecords decoded = DecodeTelegramRecords(telegram(
        "68 2B 2B 68 08 05 72 33 22 11 00 93 44 35 08 2A 13 00 00 0B 6E 45 02 00 4B 6E 12 01 00 "
        "42 6C 9F 2C 02 5A D2 00 02 65 08 07 04 6D 1E 0C A1 23 3E 16"));
    EXPECT_TRUE(decoded.frameOk);
    EXPECT_EQ(decoded.header.id, "00112233");
    EXPECT_EQ(decoded.header.manufacturer, "QDS");
    EXPECT_EQ(decoded.header.statusWords,
              (std::vector<std::string>{"abnormal condition / alarm", "temporary error"}));
    EXPECT_EQ(summaries(decoded),
              (std::vector<std::string>{"Units for H.C.A.: 245", "Units for H.C.A.: 112 storage 1",
                                        "Date: 2020-12-31 storage 1", "Flow temperature: 21.0 °C",
                                        "External temperature: 18.00 °C",
                                        "Date and time: 2021-03-01T12:30"}));
}

TEST(DecodeTelegramRecords, CutDamagedAndForeignFrames) {
    const char* const kWater =
        "68 25 25 68 08 05 7A 10 04 00 00 04 13 C7 2D 01 00 44 13 10 27 00 00 42 6C 9F 2C 01 FD "
        "0C 03 0D FD 11 04 34 33 32 31 2F 2F 02 16";
    auto bytes = telegram(kWater);
    bytes[bytes.size() - 2] = 0x03;  // the checksum
    const TelegramRecords wrongSum = DecodeTelegramRecords(bytes);
    EXPECT_FALSE(wrongSum.frameOk);
    EXPECT_EQ(wrongSum.records.size(), 5u);
    EXPECT_EQ(wrongSum.stopped, "");
    bytes.resize(15);
    const TelegramRecords cut = DecodeTelegramRecords(bytes);
    EXPECT_FALSE(cut.frameOk);
    EXPECT_EQ(cut.header.accessNumber, 0x10);
    EXPECT_EQ(cut.records.size(), 0u);
    EXPECT_EQ(cut.stopped, "record at byte 11: data run past the end of the telegram");
    bytes.resize(17);
    EXPECT_EQ(DecodeTelegramRecords(bytes).stopped,
              "telegram ends after 17 bytes, before its checksum at byte 41");
    const TelegramRecords short_ =
        DecodeTelegramRecords(telegram("68 0C 0C 68 08 05 7A 10 04 00 00 04 13 C7 2D 01 A7 16"));
    EXPECT_TRUE(short_.frameOk);
    EXPECT_EQ(short_.stopped, "record at byte 11: data run past the checksum");
    EXPECT_EQ(onlyRecord("01 FD 71 05").quantity, "Unknown VIFE 0x71 of table 0xFD");
    EXPECT_EQ(DecodeTelegramRecords(framed("01 80 80 80 80 80 80 80 80 80 80 80 00 05")).stopped,
              "record at byte 19: more than 10 VIFEs");
    EXPECT_EQ(DecodeTelegramRecords(framed("0D 13 F8 00")).stopped,
              "record at byte 19: reserved LVAR 0xF8");
    EXPECT_EQ(DecodeTelegramRecords(LongFrame(0x08, 0x05, 0x51)).stopped,
              "CI 0x51 is not a variable data response (0x72, 0x76, 0x7A)");
}

}  // namespace
}  // namespace tarnel
