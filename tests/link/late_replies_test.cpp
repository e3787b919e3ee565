// The silence between serial frames and the fence's shape.
#include "link/late_replies.h"

#include <gtest/gtest.h>

#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

TEST(InterFrameSilence, ThreeAndAHalfCharactersUpTo19200BaudThenFixed) {
    const struct {
        int baud;
        int parity;
        int stopBits;
        qint64 ns;
    } cases[] = {
        {19200, 2, 1, 2'005'209},  // 11 bits a character
        {19200, 0, 1, 1'822'917},  // 10 bits
        {9600, 2, 2, 4'375'000},   // 12 bits
        {1200, 2, 1, 32'083'334}, {19201, 2, 1, 1'750'000},
        {38400, 0, 1, 1'750'000}, {115200, 2, 2, 1'750'000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            InterFrameSilenceNs({.baudrate = c.baud, .parity = c.parity, .stopBits = c.stopBits}),
            c.ns)
            << c.baud << " " << c.parity << " " << c.stopBits;
}

// A fence's normal reply can never pass for a late reply to a request the
// gateway still owes on that unit.
TEST(FenceRequest, AShapeNoUnansweredRequestOfTheUnitHas) {
    const ReplyShape input{1, 4, 1}, holding{1, 3, 1}, input2{1, 4, 2};
    EXPECT_EQ(FenceRequest(1, {})->adu, bytes("01 04 E8 6D 00 01"));
    EXPECT_EQ(FenceRequest(1, {input})->adu, bytes("01 03 D8 23 00 01"));
    EXPECT_EQ(FenceRequest(1, {input, {2, 3, 1}})->adu, bytes("01 03 D8 23 00 01"));
    EXPECT_EQ(FenceRequest(1, {holding})->adu, bytes("01 04 E8 6D 00 01"));
    EXPECT_EQ(FenceRequest(1, {input, holding})->adu, bytes("01 04 E8 6D 00 02"));
    EXPECT_FALSE(
        FenceRequest(1, {input, holding, input2, {1, 4, 3}, {1, 4, 4}, {1, 4, 5}}).has_value());
    EXPECT_TRUE(AnswersAlike({input2}, 1, 4)) << "an exception reply has no count";
    EXPECT_FALSE(AnswersAlike({input2}, 1, 3));
    EXPECT_FALSE(AnswersAlike({input2}, 2, 4));
}

}  // namespace
}  // namespace tarnel
