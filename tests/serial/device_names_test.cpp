#include "serial/device_names.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace tarnel {
namespace {

TEST(DeviceNames, ComNamesPathsAndBareNames) {
    EXPECT_EQ(serialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath("\\\\.\\COM12"), "/dev/ttyS11");
    EXPECT_EQ(serialDevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(serialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(serialDevicePath("\\\\.\\ttyACM1"), "/dev/ttyACM1");
    EXPECT_EQ(serialDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(serialDevicePath("\\\\.\\/dev/serial/by-id/usb-FTDI"), "/dev/serial/by-id/usb-FTDI");
    EXPECT_EQ(serialDevicePath("COM0"), "/dev/COM0") << "there is no COM0";
}

TEST(DeviceNames, ListsByIdThenUsbThenAcmInNaturalOrder) {
    QTemporaryDir root;
    QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath("serial/by-id"));
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "serial/by-id/usb-FTDI_A1"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    EXPECT_EQ(listSerialDevices(root.path()),
              (QStringList{dir.filePath("serial/by-id/usb-FTDI_A1"), dir.filePath("ttyUSB2"),
                           dir.filePath("ttyUSB10"), dir.filePath("ttyACM0")}));
}

// A search tries each adapter once: a by-id name and the ttyUSB it links to
// are one; a ttyS without a UART (here a plain file) is left out.
TEST(DeviceNames, SearchPortsNameEachAdapterOnce) {
    QTemporaryDir root;
    QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath("serial/by-id"));
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(dir.filePath("ttyUSB1"), dir.filePath("serial/by-id/usb-FTDI_A1")));
    EXPECT_EQ(listSearchPorts(root.path()),
              (QStringList{dir.filePath("serial/by-id/usb-FTDI_A1"), dir.filePath("ttyUSB0")}));
}

}  // namespace
}  // namespace tarnel
