// The window's memory over a long automatic read: the whole main window,
// offscreen, on the virtual clock against the in-process simulated gateway
// over TCP, its log view showing every line as it comes. "Automatic read" is
// ticked at the window's defaults (125 input registers from register 1, every
// second, time-out 600 ms) and the clock runs for eight simulated hours; the
// event loop runs after every simulated second, so the view lays out and
// paints what came. Prints the process's resident memory (VmRSS) at the
// start and every simulated hour, with what the log and its view hold.
// MB are 2^20 bytes.
// Usage: window_soak_bench [simulated hours]
#include <malloc.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "base/virtual_clock.h"
#include "gateway/program.h"
#include "no_dialogs.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;

namespace {

constexpr double kTargetMb = 60;

double RssMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024;
    return 0;
}

struct WindowRig {
    VirtualClock clock;
    sim::SimBus bus{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway{bus, clock};
    sim::SimEndpoint rtu{gateway, clock, sim::Framing::Rtu};
    sim::SimEndpoint tcp{gateway, clock, sim::Framing::Tcp};
    bench::NoDialogs dialogs;
    QTemporaryDir folder;
    TForm1 form{clock, dialogs, ProgramPaths{folder.path(), folder.filePath("tarnel.ini")},
                Transports{std::make_unique<sim::InMemorySerial>(rtu, clock),
                           std::make_unique<sim::InMemoryTcp>(tcp, clock)}};

    // A simulated second at a time, each followed by the event loop; the
    // simulator's record of the wire is not the tool's memory.
    void advance(qint64 ms) {
        for (qint64 done = 0; done < ms; done += 1000) {
            clock.advance(std::min<qint64>(1000, ms - done));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            tcp.ClearRecords();
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    WindowRig rig;
    rig.form.show();
    rig.form.control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    rig.form.control<QPushButton>("Butt_connect_xport")->click();
    rig.advance(1000);
    const auto* memo = rig.form.control<QPlainTextEdit>("Memo_current");
    QElapsedTimer took;
    took.start();
    malloc_trim(0);
    const double start = RssMb();
    std::printf("Window, automatic read over TCP, %d simulated hours; RSS %.1f MB at the start\n",
                hours, start);
    rig.form.control<QCheckBox>("CheckBox1")->click();
    double last = start;
    for (int hour = 1; hour <= hours; ++hour) {
        rig.advance(3'600'000);
        last = RssMb();
        std::printf("  hour %d: log %lld lines held, view %d lines, %d characters; RSS %.1f MB\n",
                    hour, static_cast<long long>(rig.form.program().log().lines().size()),
                    memo->document()->blockCount(), memo->document()->characterCount(), last);
        std::fflush(stdout);
    }
    std::printf("  %s: RSS %.1f MB after %d hours (target < %.0f MB); %.1f s\n",
                last < kTargetMb ? "PASS" : "MISS", last, hours, kTargetMb,
                static_cast<double>(took.elapsed()) / 1000);
    return last < kTargetMb ? 0 : 1;
}
