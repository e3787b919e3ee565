#include "serial/serial_settings.h"

#include <gtest/gtest.h>

#include "serial/serial_port.h"

namespace tarnel {
namespace {

TEST(SerialSettings, UpdatesHoldBackNotificationsAndTheLastEndSendsOne) {
    TSerialBuffers buffers;
    int changes = 0;
    buffers.OnChange = [&] { ++changes; };
    buffers.SetReadSize(1024);
    EXPECT_EQ(changes, 1);
    buffers.SetReadSize(1024);  // the same value changes nothing
    EXPECT_EQ(changes, 1);
    buffers.BeginUpdate();
    buffers.BeginUpdate();
    buffers.SetWriteSize(100);
    buffers.SetReadTimeout(50);
    buffers.EndUpdate();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(buffers.UpdateCount(), 1);
    buffers.EndUpdate();
    EXPECT_EQ(changes, 2);
    buffers.BeginUpdate();
    buffers.EndUpdate();
    EXPECT_EQ(changes, 2) << "no change, no notification";
}

TEST(SerialSettings, DefaultsOfThePort) {
    TSerialPort port;
    EXPECT_FALSE(port.AutoOpen());
    EXPECT_EQ(port.Baudrate(), br1200);
    EXPECT_EQ(port.UserBaudrate(), 0);
    EXPECT_EQ(port.Parity(), paNone);
    EXPECT_EQ(port.Databits(), db8);
    EXPECT_EQ(port.Stopbits(), sb1);
    EXPECT_EQ(port.EventChars().XonChar(), 17);
    EXPECT_EQ(port.EventChars().XoffChar(), 19);
    EXPECT_EQ(port.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(port.FlowControl().ControlRts(), rtsDisabled);
    EXPECT_EQ(port.Options(), 0);
    EXPECT_EQ(port.PortNum(), 0);
    EXPECT_EQ(port.DeviceName(), "COM%d");
    EXPECT_EQ(port.MonitorEvents(), TSerialEvents(ceError | ceRxChar));
    EXPECT_EQ(port.Buffers().ReadSize(), 4096);
    EXPECT_EQ(port.Buffers().WriteSize(), 2048);
    EXPECT_EQ(port.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(port.Buffers().XonLimit(), 1024);
    EXPECT_EQ(port.Buffers().XoffLimit(), 1024);
    EXPECT_TRUE(port.UpdateDCB());
    EXPECT_FALSE(port.IsOpen());
    port.SetPortNum(4);
    EXPECT_EQ(port.FormattedDeviceName(), "COM4");
}

TEST(SerialSettings, BaudratesOfTheEnumeration) {
    EXPECT_EQ(baudrateValue(br110), 110);
    EXPECT_EQ(baudrateValue(br14400), 14400);
    EXPECT_EQ(baudrateValue(br56000), 56000);
    EXPECT_EQ(baudrateValue(br128000), 128000);
    EXPECT_EQ(baudrateValue(br256000), 256000);
}

}  // namespace
}  // namespace tarnel
