#include "mbus/mbus_frames.h"

#include <gtest/gtest.h>

#include "support.h"

namespace tarnel {
namespace {

using test::telegram;

TEST(MbusFrames, ShortFrames) {
    EXPECT_EQ(ReqUd2(5), telegram("10 7B 05 80 16"));
    EXPECT_EQ(ReqUd2(1), telegram("10 7B 01 7C 16"));
    EXPECT_EQ(SndNke(0xFD), telegram("10 40 FD 3D 16"));
}

TEST(MbusFrames, LongFramesCarryLTwiceAndTheSumFromC) {
    const uint8_t id[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(SelectById(id), telegram("68 0B 0B 68 53 FD 52 78 56 34 12 FF FF FF FF B2 16"));
    EXPECT_EQ(SetPrimaryAddress(5, 9), telegram("68 06 06 68 73 05 51 01 7A 09 4D 16"));
    EXPECT_EQ(SetBaudrate(5, 0xB8), telegram("68 03 03 68 53 05 B8 10 16"));
    const auto record = SendRecord(5, {0x04, 0x13, 0x10, 0x27, 0x00, 0x00});
    EXPECT_EQ(record.size(), 6u + 9u);
    EXPECT_EQ(record[1], 9);
    EXPECT_EQ(record[2], 9);
}

}  // namespace
}  // namespace tarnel
