// The tool's link against the simulated gateway in-process, on the virtual
// clock: the path every operation takes, request by request.
#include <gtest/gtest.h>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "link/gateway_link.h"
#include "link/register_map.h"
#include "mbus/loops_grid.h"
#include "mbus/mbus_frames.h"
#include "sim/in_memory_transports.h"
#include "support/hex.h"
#include "support/in_process_gateway.h"

namespace tarnel::sim {
namespace {

struct InProcess : ::testing::Test, test::InProcessGateway {
    Timer* deadline = clock.createTimer(&owner);

    // These exchanges wait their whole time, as a scan without fast replies does.
    InProcess() { link.setFastReplies(false); }

    // One request and what came back within `waitMs`.
    QByteArray request(const ModbusRequest& modbus, int waitMs = 600) {
        std::optional<ExchangeResult> result;
        link.exchange(&owner, modbus, *deadline, waitMs,
                      [&](const ExchangeResult& ended) { result = ended; });
        clock.runUntilIdle(waitMs + 100);
        EXPECT_TRUE(result.has_value());
        return result ? result->reply : QByteArray();
    }

    // Reads the meter at `address` through the pass-through, as a scan does.
    bool readMeter(uint8_t address, GridModel& grid, int scanTimeMs) {
        const Bytes telegram = ReqUd2(address);
        request(
            *WriteRegistersRequest(1, reg::kMbusBuffer, static_cast<int>(telegram.size()),
                                   QByteArrayView(reinterpret_cast<const char*>(telegram.data()),
                                                  static_cast<qsizetype>(telegram.size()))),
            scanTimeMs);
        const FirstRegister state =
            ReadFirstRegister(request(ReadInputRegistersRequest(1, reg::kMbusStatus, 1)));
        if (state.low == 0 || state.high <= 3) return false;
        const int registers = (state.low + 1) / 2;
        const QByteArray reply = request(ReadInputRegistersRequest(1, reg::kMbusBuffer, registers));
        const MbusReply mbus = ParseMbusResponse(reply, 2 * registers);
        const DecodedTelegram decoded = DecodeLoopsTelegram(mbus.telegram, clock.now());
        for (const QString& line : DecoderLines(decoded))
            log.append(line);
        if (decoded.row) UpdateLoopsGrid(grid, *decoded.row, LoopsUpdate::Append);
        return decoded.ok;
    }
};

TEST_F(InProcess, AMeterIsReadThroughThePassThroughOverSerial) {
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    ASSERT_TRUE(link.SerialOpen());
    GridModel grid(loopsGridLayout().headers);
    const uint8_t address = bus.meters().front().address;
    ASSERT_TRUE(readMeter(address, grid, 1000)) << log.lines().join('\n').toStdString();
    EXPECT_EQ(grid.cell(1, 1), QString::number(address));
    EXPECT_FALSE(grid.cell(1, 3).isEmpty());
    EXPECT_GT(serial.rtsChanges, 0);
}

TEST_F(InProcess, TheSameOverTcpAndNothingFromAnEmptyAddress) {
    link.connectTcp("127.0.0.1", 502, 30);
    clock.advance(400);
    ASSERT_TRUE(link.TcpMode());
    GridModel grid(loopsGridLayout().headers);
    ASSERT_TRUE(readMeter(bus.meters().front().address, grid, 1000));
    EXPECT_FALSE(readMeter(250, grid, 1000));
    EXPECT_EQ(grid.rows(), 3);
}

TEST_F(InProcess, ATooShortScanTimeMissesAMeterThatNeedsLonger) {
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    GridModel grid(loopsGridLayout().headers);
    // The meter with the longest reply takes longest on the 2400 Bd bus.
    const auto slowest = std::max_element(
        bus.meters().begin(), bus.meters().end(), [](const auto& a, const auto& b) {
            return a.RspUd().size() * 11 * 1000 / 2400 + a.replyDelayMs + a.extraDelayMs <
                   b.RspUd().size() * 11 * 1000 / 2400 + b.replyDelayMs + b.extraDelayMs;
        });
    EXPECT_FALSE(readMeter(slowest->address, grid, 300));
    EXPECT_TRUE(readMeter(slowest->address, grid, 3000));
}

TEST_F(InProcess, TheWireRecordShowsEveryRequestAndReply) {
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    request(ReadHoldingRegistersRequest(1, reg::kReadoutMinutes, 1));
    const auto records = rtu.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].request);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(records[0].bytes.data()), 8),
              RtuFrame(test::bytes("01 03 00 03 00 01")));
    EXPECT_FALSE(records[1].request);
}

}  // namespace
}  // namespace tarnel::sim
