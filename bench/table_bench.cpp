// Peak memory of Import (device table) and Load (meter grid): a table of
// 10,000 rows, the most a gateway or a bus holds, and a 100 MB file.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/table_files.h"
#include "gateway/table_import.h"
#include "no_dialogs.h"

namespace {

using namespace tarnel;

// A field of /proc/self/status in kB ("VmHWM", "VmRSS").
long statusKb(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ')[0].toLong();
    return -1;
}

// Lets VmHWM start again from the current RSS.
bool resetPeak() {
    QFile refs("/proc/self/clear_refs");
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

bool writeTable(const QString& path, const QByteArray& header, const QByteArray& row,
                qint64 bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(header);
    for (qint64 written = header.size(); written < bytes; written += row.size())
        file.write(row);
    return file.flush();
}

void measure(const char* what, const std::function<int()>& run) {
    if (!resetPeak()) std::printf("(the peak could not be reset)\n");
    const long before = statusKb("VmRSS");
    QElapsedTimer took;
    took.start();
    const int rows = run();
    std::printf(
        "%-34s rows %6d  peak RSS %7.1f MB (%+7.1f MB over the %5.1f MB before)  %5lld ms\n", what,
        rows, statusKb("VmHWM") / 1024.0, (statusKb("VmHWM") - before) / 1024.0, before / 1024.0,
        static_cast<long long>(took.elapsed()));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QByteArray deviceHeader = " ID ;Addr ;Mfr ;Medium ;\r\n";
    const QByteArray deviceRow = "12345678;5;ABC;Water;\r\n";
    const QByteArray meterRow = "12345678;5;ABC;10.000;m3;Water;00;10:00:00;\r\n";
    const QString devices = folder.filePath("devices.csv");
    const QString meters = folder.filePath("meters.csv");
    const QString huge = folder.filePath("huge.csv");
    if (!writeTable(devices, deviceHeader, deviceRow,
                    deviceHeader.size() + 10'000 * deviceRow.size()) ||
        !writeTable(meters, {}, meterRow, 10'000 * meterRow.size()) ||
        !writeTable(huge, deviceHeader, deviceRow, qint64{100} << 20)) {
        std::fprintf(stderr, "table_bench: cannot write the tables in %s\n",
                     qPrintable(folder.path()));
        return 1;
    }
    bench::NoDialogs dialogs;
    GridModel deviceGrid(devicesGridLayout().headers);
    GridModel meterGrid(loopsGridLayout().headers);
    const auto import = [&](const QString& path) {
        return [&, path] {
            deviceGrid.clearData();
            ImportDeviceGrid(deviceGrid, path, dialogs);
            return deviceGrid.rows() - 1;
        };
    };
    const auto load = [&](const QString& path) {
        return [&, path] {
            meterGrid.clearData();
            LoadMbusGrid(meterGrid, path, dialogs);
            return meterGrid.rows() - 1;
        };
    };
    measure("Import, 10,000 rows", import(devices));
    measure("Load, 10,000 rows", load(meters));
    measure("Import, 100 MB (refused)", import(huge));
    measure("Load, 100 MB (refused)", load(huge));
    return 0;
}
