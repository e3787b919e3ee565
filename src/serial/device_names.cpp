#include "serial/device_names.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFileInfo>

#include <QDir>
#include <QRegularExpression>
#include <tuple>

namespace tarnel {

QString typedDeviceName(const QString& name) {
    static const QString kWindowsPrefix = QStringLiteral("\\\\.\\");
    return name.startsWith(kWindowsPrefix) ? name.mid(kWindowsPrefix.size()) : name;
}

QString serialDevicePath(const QString& name) {
    const QString bare = typedDeviceName(name);
    if (bare.contains('/')) return bare;
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(bare);
    if (match.hasMatch()) return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
    return QStringLiteral("/dev/") + bare;
}

namespace {

// ttyUSB2 before ttyUSB10: names compare by their stem, then by the number
// they end in.
bool naturalLess(const QString& a, const QString& b) {
    const auto split = [](const QString& name) {
        qsizetype digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::make_tuple(name.left(digits), name.mid(digits).toLongLong(), name);
    };
    return split(a) < split(b);
}

}  // namespace

QStringList listSerialDevices(const QString& devRoot) {
    const auto entries = [&](const QString& folder, const QStringList& patterns) {
        QStringList names = QDir(folder).entryList(
            patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        std::sort(names.begin(), names.end(), naturalLess);
        QStringList paths;
        for (const QString& name : names)
            paths << QDir(folder).filePath(name);
        return paths;
    };
    return entries(devRoot + "/serial/by-id", {"*"}) + entries(devRoot, {"ttyUSB*"}) +
           entries(devRoot, {"ttyACM*"});
}

namespace {

// Whether the kernel found a UART behind a ttyS device (most of the 32 it
// makes have none: their type is PORT_UNKNOWN).
bool hasUart(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    serial_struct info{};
    const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return uart;
}

}  // namespace

QStringList listSearchPorts(const QString& devRoot) {
    QStringList ports, devices;
    for (const QString& path : listSerialDevices(devRoot)) {
        const QString device = QFileInfo(path).canonicalFilePath();
        if (devices.contains(device)) continue;
        devices << device;
        ports << path;
    }
    QStringList uarts = QDir(devRoot).entryList({"ttyS*"}, QDir::System);
    std::sort(uarts.begin(), uarts.end(), naturalLess);
    for (const QString& name : uarts)
        if (hasUart(QDir(devRoot).filePath(name))) ports << QDir(devRoot).filePath(name);
    return ports;
}

}  // namespace tarnel
