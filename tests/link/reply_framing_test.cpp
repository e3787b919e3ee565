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

TEST(FrameRtuReply, ByUnitFunctionLengthAndCrc) {
    // The reply CRCs are the worked examples of the register and exception replies.
    const struct {
        const char *request, *received;
        Framing expected;
    } cases[] = {
        {"01 04 00 01 00 01", "01 04 02 00 0A 39 37", Framing::Whole},
        {"01 04 00 01 00 01", "01 04 02 00 0A 39", Framing::Incomplete},
        {"01 04 00 01 00 01", "01 04", Framing::Incomplete},
        {"01 04 00 01 00 01", "01 04 02 00 0A 39 37 00", Framing::Whole},  // filler byte
        {"01 04 00 01 00 01", "01 84 02 C2 C1", Framing::Whole},           // exception
        {"01 04 00 01 00 01", "00 01 04 02 00 0A 39 37", Framing::Unframeable},
        {"01 04 00 01 00 01", "01 04 02 00 0A 00 00", Framing::Unframeable},  // wrong CRC
        {"01 04 00 01 00 01", "01 04 02 00 0A 39 37 01 04 02 00 0A 39 37", Framing::Unframeable},
        {"01 04 00 01 00 01", "02 04 02 00 0A 39 37", Framing::Unframeable},  // another unit
        {"01 03 00 01 00 01", "01 04 02 00 0A 39 37", Framing::Unframeable},  // another function
        {"01 06 00 03 A8 C0", "01 06 00 03 A8 C0 06 5A", Framing::Whole},
        {"01 06 00 03 A8 C0", "01 06 00 03 A8 C0 06", Framing::Incomplete},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(name(FrameRtuReply(bytes(c.request), bytes(c.received))), name(c.expected))
            << c.request << " / " << c.received;
}

TEST(FrameRtuReply, ADeviceIdentificationIsWholeAfterItsLastObject) {
    // Two objects: "AB" and "C".
    const QByteArray reply = RtuFrame(bytes("01 2B 0E 02 01 00 00 02 00 02 41 42 01 01 43"));
    const QByteArray request = bytes("01 2B 0E 02 00");
    EXPECT_EQ(FrameRtuReply(request, reply), Framing::Whole);
    EXPECT_EQ(FrameRtuReply(request, reply.chopped(1)), Framing::Incomplete);
    EXPECT_EQ(FrameRtuReply(request, reply.first(11)), Framing::Incomplete);
}

TEST(FrameTcpReply, ByTransactionProtocolUnitAndLength) {
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
        {"03 E8 00 00 00 05 02 04 02 00 0A", Framing::Incomplete, ""},  // another unit
        {"03 E8 00 01 00 05 01 04 02 00 0A", Framing::Incomplete, ""},  // another protocol
        {"03 E8 00 00 00 05 01 04 02 00 0A 00 00", Framing::Unframeable, ""},
        {"03 E8 00 00 00 07 01 04 02 00 0A", Framing::Incomplete, ""},
        {"03 E8 00", Framing::Incomplete, ""},
    };
    for (const auto& c : cases) {
        const TcpReply reply = FrameTcpReply(1000, 1, bytes(c.received));
        EXPECT_STREQ(name(reply.framing), name(c.expected)) << c.received;
        EXPECT_EQ(reply.frame, bytes(c.frame)) << c.received;
    }
    EXPECT_EQ(FrameTcpReply(1000, 1, bytes("03 E8 00 00 00 07 01 04 02 00 0A")).rest,
              bytes("03 E8 00 00 00 07 01 04 02 00 0A"))
        << "what was not used is there to be reported";
}

}  // namespace
}  // namespace tarnel
