#include "link/reply_framing.h"

#include <gtest/gtest.h>

#include "link/request_frames.h"
#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

const char* name(Framing framing) {
    switch (framing) {
        case Framing::Incomplete:
            return "incomplete";
        case Framing::Whole:
            return "whole";
        default:
            return "unframeable";
    }
}

TEST(JudgeRtuReply, OnlyOneFrameWithAGoodCrcIsJudgedAtAll) {
    // CRCs from the worked examples of the register and exception replies.
    const QByteArray request = bytes("01 04 00 01 00 01");
    const struct {
        const char* received;
        Verdict expected;
    } cases[] = {
        {"01 04 02 00 0A 39 37", Verdict::Confirmed},
        {"01 04 02 00 0A 39 37 00", Verdict::Confirmed},  // a filler byte
        {"01 04 02 00 0A 39 37 01", Verdict::Unframed},   // a byte that is no filler
        {"02 04 02 00 0A 7D 37", Verdict::Refused},       // another unit
        {"01 84 02 C2 C1", Verdict::Confirmed},           // an exception
        {"01 04 02 00 0A 39", Verdict::Unframed},         // not yet whole
        {"00 01 04 02 00 0A 39 37", Verdict::Unframed},   // leading garbage
        {"01 04 02 00 0A 00 00", Verdict::Unframed},      // a wrong CRC
        {"01 04 02 00 0A 39 37 01 04 02 00 0A 39 37", Verdict::Unframed},
        {"01 84 05 83", Verdict::Unframed},  // too short to hold an answer
        {"01 84 05 83 03", Verdict::Confirmed},
        {"01 84 02 00 40 91", Verdict::Refused},  // an exception a byte too long (CRC by hand)
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeRtuReply(request, bytes(c.received)).verdict, c.expected) << c.received;
}

TEST(JudgeRtuReply, ADeviceIdentificationIsConfirmedAfterItsLastObject) {
    // Two objects: "AB" and "C".
    const QByteArray reply = RtuFrame(bytes("01 2B 0E 02 01 00 00 02 00 02 41 42 01 01 43"));
    const QByteArray request = bytes("01 2B 0E 02 00");
    EXPECT_EQ(JudgeRtuReply(request, reply).verdict, Verdict::Confirmed);
    EXPECT_EQ(JudgeRtuReply(request, reply.chopped(1)).verdict, Verdict::Unframed);
    EXPECT_EQ(JudgeRtuReply(request, RtuFrame(bytes("01 2B 0E 02 01 00 00 02 00 02 41 42"))).why,
              "length 14, objects cut short");
}

TEST(FrameTcpReply, ByTransactionProtocolAndLength) {
    const struct {
        const char* received;
        Framing expected;
        const char* frame;
    } cases[] = {
        {"03 E8 00 00 00 05 01 04 02 00 0A", Framing::Whole, "03 E8 00 00 00 05 01 04 02 00 0A"},
        // A late reply to the request before is skipped.
        {"03 E7 00 00 00 05 01 04 02 00 07 03 E8 00 00 00 05 01 04 02 00 0A", Framing::Whole,
         "03 E8 00 00 00 05 01 04 02 00 0A"},
        {"03 E8 00 00 00 05 01 04 02 00 0A 03 E7 00 00 00 05 01 04 02 00 07", Framing::Whole,
         "03 E8 00 00 00 05 01 04 02 00 0A"},
        {"03 E7 00 00 00 05 01 04 02 00 07", Framing::Incomplete, ""},
        // Another unit: the confirmation refuses it.
        {"03 E8 00 00 00 05 02 04 02 00 0A", Framing::Whole, "03 E8 00 00 00 05 02 04 02 00 0A"},
        {"03 E8 00 01 00 05 01 04 02 00 0A", Framing::Incomplete, ""},  // another protocol
        {"03 E8 00 00 00 05 01 04 02 00 0A 00 00", Framing::Unframeable, ""},
        // Two replies of the transaction: neither is taken.
        {"03 E8 00 00 00 05 01 04 02 00 0A 03 E8 00 00 00 05 01 04 02 00 07", Framing::Unframeable,
         ""},
        {"03 E8 00 00 00 07 01 04 02 00 0A", Framing::Incomplete, ""},
        {"03 E8 00", Framing::Incomplete, ""},
    };
    for (const auto& c : cases) {
        const TcpReply reply = FrameTcpReply(1000, bytes(c.received));
        EXPECT_STREQ(name(reply.framing), name(c.expected)) << c.received;
        EXPECT_EQ(reply.frame, bytes(c.frame)) << c.received;
    }
    EXPECT_EQ(FrameTcpReply(1000, bytes("03 E8 00 00 00 07 01 04 02 00 0A")).rest,
              bytes("03 E8 00 00 00 07 01 04 02 00 0A"))
        << "what was not used is there to be reported";
}

}  // namespace
}  // namespace tarnel
