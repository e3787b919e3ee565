// The simulator's M-Bus frames against frames worked out by hand; which
// frames a meter rejects is tested through the bus (sim_bus_test.cpp).
#include "sim/mbus_wire.h"

#include <gtest/gtest.h>

namespace tarnel::sim::wire {
namespace {

TEST(MbusWire, ShortAndLongFramesAsOnTheBus) {
    EXPECT_EQ(ShortFrame(0x7B, 0x05), (Bytes{0x10, 0x7B, 0x05, 0x80, 0x16}));  // REQ_UD2
    EXPECT_EQ(ShortFrame(kSndNke, 0xFD), (Bytes{0x10, 0x40, 0xFD, 0x3D, 0x16}));
    // SND_UD to 5, CI 0xBB (2400 Bd), no data: 0x53 + 0x05 + 0xBB = 0x113.
    const Bytes baud = {0x68, 0x03, 0x03, 0x68, 0x53, 0x05, 0xBB, 0x13, 0x16};
    EXPECT_EQ(LongFrame(kSndUd, 0x05, 0xBB, {}), baud);
    EXPECT_TRUE(IsLongFrame(baud));
    EXPECT_EQ(AnnouncedLength(baud), 9u);
    const Bytes record = {0x01, 0x7A, 0x09};  // new primary address 9
    EXPECT_EQ(LongFrame(kSndUd, 0x05, 0x51, record),
              (Bytes{0x68, 0x06, 0x06, 0x68, 0x53, 0x05, 0x51, 0x01, 0x7A, 0x09, 0x2D, 0x16}));
    EXPECT_EQ(AnnouncedLength(Bytes{0xE5}), std::nullopt);
}

}  // namespace
}  // namespace tarnel::sim::wire
