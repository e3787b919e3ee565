#include "link/request_frames.h"

#include <gtest/gtest.h>

#include "support/hex.h"

namespace tarnel {
namespace {

using test::bytes;

TEST(RequestFrames, ReadInputRegistersFromOneQuantity125) {
    const ModbusRequest request = ReadInputRegistersRequest(1, 1, 125);
    EXPECT_EQ(RtuFrame(request.adu), bytes("01 04 00 01 00 7D 61 EB"));
    EXPECT_EQ(request.leadPauseMs, 0);
    EXPECT_EQ(request.bytePauseMs, 0);
}

TEST(RequestFrames, ReadHoldingRegistersHasTheLeadPause) {
    const ModbusRequest request = ReadHoldingRegistersRequest(1, 0, 10);
    EXPECT_EQ(RtuFrame(request.adu), bytes("01 03 00 00 00 0A C5 CD"));
    EXPECT_EQ(request.leadPauseMs, 10);
    EXPECT_EQ(request.bytePauseMs, 2);
}

TEST(RequestFrames, StartRegister33800IsSentAs8408) {
    const ModbusRequest request = ReadInputRegistersRequest(1, 33800, 3);
    EXPECT_EQ(request.adu, bytes("01 04 84 08 00 03"));
}

TEST(RequestFrames, AnOddPayloadGetsOnePadByte) {
    // REQ_UD2 to primary address 1: 5 bytes become 3 registers.
    const auto request = WriteRegistersRequest(1, 33800, 5, bytes("10 7B 01 7C 16"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->adu, bytes("01 10 84 08 00 03 06 10 7B 01 7C 16 00"));
    EXPECT_EQ(RtuFrame(request->adu).size(), 9 + 2 * 3);
    EXPECT_EQ(request->bytePauseMs, 2);

    const auto even = WriteRegistersRequest(1, 4, 4, bytes("01 02 03 04"));
    ASSERT_TRUE(even);
    EXPECT_EQ(even->adu, bytes("01 10 00 04 00 02 04 01 02 03 04"));
}

TEST(RequestFrames, AnEmptyPayloadGivesNineBytes) {
    const auto request = WriteRegistersRequest(7, 16, 0, {});
    ASSERT_TRUE(request);
    const QByteArray frame = RtuFrame(request->adu);
    EXPECT_EQ(frame.size(), 9);
    EXPECT_EQ(frame.first(7), bytes("07 10 00 10 00 00 00"));
}

TEST(RequestFrames, PayloadsAbove238BytesAreRefused) {
    EXPECT_TRUE(WriteRegistersRequest(1, 33800, 238, QByteArray(238, 'x')));
    EXPECT_FALSE(WriteRegistersRequest(1, 33800, 239, QByteArray(239, 'x')));
    EXPECT_FALSE(WriteRegistersRequest(1, 33800, 10, QByteArray(239, 'x')));
}

TEST(RequestFrames, MissingPayloadBytesAreSentAsZero) {
    const auto request = WriteRegistersRequest(1, 0, 4, bytes("AA"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->adu.right(4), bytes("AA 00 00 00"));
}

TEST(RequestFrames, TcpFormCarriesTheTransactionAndTheLength) {
    const auto request = WriteRegistersRequest(1, 33800, 3, bytes("AA BB CC"));
    ASSERT_TRUE(request);
    const QByteArray frame = TcpFrame(1000, request->adu);
    EXPECT_EQ(frame.first(6), bytes("03 E8 00 00 00 0B")) << "R = 2: length 2*2 + 7";
    EXPECT_EQ(frame.size(), 13 + 2 * 2);
    EXPECT_EQ(TcpFrame(0x1FFFF & 0xFFFF, ReadInputRegistersRequest(1, 1, 125).adu),
              bytes("FF FF 00 00 00 06 01 04 00 01 00 7D"));
}

TEST(RequestFrames, WriteSingleRegisterAndDeviceId) {
    EXPECT_EQ(RtuFrame(WriteSingleRegisterRequest(1, 25704, 0x00, 0x40).adu).first(6),
              bytes("01 06 64 68 00 40"));
    EXPECT_EQ(TcpFrame(1001, WriteSingleRegisterRequest(1, 1, 0x00, 0xFF).adu),
              bytes("03 E9 00 00 00 06 01 06 00 01 00 FF"));
    const ModbusRequest id = ReadDeviceIdRequest(1, 2);
    EXPECT_EQ(id.adu, bytes("01 2B 0E 02 00"));
    EXPECT_EQ(RtuFrame(id.adu).size(), 7);
    EXPECT_EQ(TcpFrame(1000, id.adu).first(6), bytes("03 E8 00 00 00 05"));
    EXPECT_EQ(id.leadPauseMs, 10);
}

TEST(RequestFrames, ClockFromTheLocalDateAndTime) {
    // Sunday 7 December 2026, 14:05:09.
    const ModbusRequest sunday =
        SetClockRequest(1, 16, QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9)));
    EXPECT_EQ(sunday.adu, bytes("01 10 00 10 00 04 08 09 05 0E 07 06 0C 1A 00"));
    EXPECT_EQ(RtuFrame(sunday.adu).size(), 17);
    EXPECT_EQ(TcpFrame(1000, sunday.adu).first(6), bytes("03 E8 00 00 00 0F"));
    const ModbusRequest monday = SetClockRequest(1, 16, QDateTime(QDate(2024, 1, 1), QTime(0, 0)));
    EXPECT_EQ(static_cast<uint8_t>(monday.adu.at(10)), 1) << "Monday";
    EXPECT_EQ(static_cast<uint8_t>(monday.adu.at(13)), 24) << "2024 is sent as 24";
    const ModbusRequest y2k = SetClockRequest(1, 16, QDateTime(QDate(2000, 6, 1), QTime(0, 0)));
    EXPECT_EQ(static_cast<uint8_t>(y2k.adu.at(13)), 0xD0) << "the low byte of 2000";
}

}  // namespace
}  // namespace tarnel
