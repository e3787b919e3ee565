#pragma once

#include <QString>
#include <QStringList>

namespace tarnel {

// The device path behind a port name as the user gives it. A leading
// "\\.\" is dropped; "COMn" is /dev/ttyS(n-1); a name with a "/" is a path
// used as it is; any other name (ttyUSB0) is taken under /dev.
QString serialDevicePath(const QString& name);
// The port name as the user typed it: without a leading "\\.\".
QString typedDeviceName(const QString& name);

// The serial devices present under `devRoot`: /dev/serial/by-id/* first
// (stable names of USB adapters), then ttyUSB* and ttyACM*, each in natural
// order.
QStringList listSerialDevices(const QString& devRoot = QStringLiteral("/dev"));
// The ports a search for a device tries: listSerialDevices(), each device
// once (a by-id name and its ttyUSB name are one adapter), then the ttyS*
// devices behind which the kernel found a UART.
QStringList listSearchPorts(const QString& devRoot = QStringLiteral("/dev"));

}  // namespace tarnel
