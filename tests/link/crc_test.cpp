#include "link/crc.h"

#include <gtest/gtest.h>

#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

TEST(CalcCrc16, CheckValueOfTheCatalogue) {
    EXPECT_EQ(CalcCrc16("123456789"), 0x4B37);
}

TEST(CalcCrc16, KnownModbusFramesEndInTheirCrcLowByteFirst) {
    // Frames whose CRC is printed in the Modbus serial line guide and in the
    // tool's worked examples.
    for (const char* frame : {"01 03 00 00 00 0A C5 CD", "01 04 00 01 00 7D 61 EB",
                              "01 04 02 00 0A 39 37", "01 84 02 C2 C1", "01 84 05 83 03"}) {
        const QByteArray all = bytes(frame);
        const uint16_t crc = CalcCrc16(all.first(all.size() - 2));
        EXPECT_EQ(crcLow(crc), static_cast<uint8_t>(all.at(all.size() - 2))) << frame;
        EXPECT_EQ(crcHigh(crc), static_cast<uint8_t>(all.at(all.size() - 1))) << frame;
    }
}

TEST(CalcCrc16, EmptyInputGivesTheStartValue) {
    EXPECT_EQ(CalcCrc16(QByteArray()), 0xFFFF);
}

}  // namespace
}  // namespace tarnel
