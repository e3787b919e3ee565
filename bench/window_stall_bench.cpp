// The window thread's longest stall while the window works: the whole main
// window, offscreen, on the real clock, against tarnel-sim with the 64-meter
// scenario over TCP (fast replies on, the window's default). A 1 ms timer on
// the window thread ticks throughout; the largest gap between two ticks is
// how long the thread was kept from its events. Measured during six
// read-outs of the gateway's table (64 entries each, the device grid growing
// by 64 rows a read: the sixth starts on 320 rows), a primary scan of
// 0..250 (scan time 300 ms, Retry 0) and the commissioning report (its
// reads and its PDF). Target: no stall above 20 ms of the thread's CPU.
// Usage: window_stall_bench [path of tarnel-sim]
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/main_window.h"
#include "app/up_down.h"
#include "base/real_clock.h"
#include "bench_support.h"
#include "gateway/program.h"
#include "link/gateway_link.h"
#include "no_dialogs.h"
#include "ops/busy_rule.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "window_stall_bench: %s did not come\n", what);
    std::exit(2);
}

struct SimProcess {
    QProcess process;
    QString tcpPort;
    explicit SimProcess(const QString& path) {
        process.start(path, {"--tcp", "0", "--scenario", ":/sim/scenario64.json"});
        if (!process.waitForStarted(5000)) Fail("tarnel-sim");
        if (!WaitOn(
                &process, &QProcess::readyReadStandardOutput, [&] { return process.canReadLine(); },
                5000))
            Fail("the simulator's TCP port");
        tcpPort = QString::fromLatin1(process.readLine()).trimmed().section(':', -1);
    }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// One step's figures.
struct Stall {
    double wallMs = 0;  // the longest gap between two ticks
    double cpuMs = 0;   // the most CPU time within one gap
    double totalCpuMs = 0;
};

struct Rig {
    RealClock clock;
    ReportDialogs dialogs;
    QTemporaryDir folder;
    TForm1 form{clock, dialogs, ProgramPaths{folder.path(), folder.filePath("tarnel.ini")}};
    StallWatch watch;

    BusyRule& busy() { return form.program().busy(); }
    // Runs `start` and the event loop until the busy rule lets `operation`
    // start again; the longest stall meanwhile.
    Stall stallOf(Operation operation, const std::function<void()>& start, const char* what) {
        watch.reset();
        start();
        if (!WaitOn(
                &busy(), &BusyRule::changed, [&] { return busy().allows(operation); }, 300'000))
            Fail(what);
        settle();
        return measured();
    }
    // The event loop a little longer: the grids fit their columns up to
    // 100 ms after the last change.
    static void settle() {
        QEventLoop loop;
        QTimer::singleShot(150, &loop, &QEventLoop::quit);
        loop.exec();
    }
    Stall measured() const { return {watch.longestMs(), watch.longestCpuMs(), watch.cpuMs()}; }
    Stall tableRead() {
        return stallOf(
            Operation::TableReadOut,
            [&] { form.control<QPushButton>("buttonReadModbus")->click(); }, "the table read");
    }
    Stall scan() {
        form.control<UpDown>("UDaddressFrom")->setPosition(0);
        form.control<UpDown>("UDaddressTo")->setPosition(250);
        form.control<UpDown>("UD_timeout")->setPosition(300);
        form.control<UpDown>("UD_retry")->setPosition(0);
        return stallOf(
            Operation::Scan, [&] { form.control<QPushButton>("BitBtn1")->click(); }, "the scan");
    }
    Stall report(double* seconds) {
        QEventLoop loop;
        dialogs.opened.clear();
        dialogs.onOpened = [&loop] { loop.quit(); };
        QTimer::singleShot(300'000, &loop, &QEventLoop::quit);
        QElapsedTimer took;
        took.start();
        watch.reset();
        form.control<QAction>("CommissioningReport1")->trigger();
        if (dialogs.opened.isEmpty()) loop.exec();
        *seconds = static_cast<double>(took.nsecsElapsed()) / 1e9;
        settle();
        const Stall stall = measured();
        dialogs.onOpened = nullptr;
        if (dialogs.opened.isEmpty()) Fail("the report");
        return stall;
    }
};

void Print(const char* what, const Stall& stall, const char* more = "") {
    std::printf("  %-44s %8.1f %8.1f %9.1f  %s%s\n", what, stall.wallMs, stall.cpuMs,
                stall.totalCpuMs, stall.cpuMs <= kStallTargetMs ? "PASS" : "MISS", more);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString simPath =
        argc > 1 ? argv[1] : QCoreApplication::applicationDirPath() + "/../tarnel-sim";
    SimProcess sim(simPath);
    Rig rig;
    rig.form.show();
    rig.form.program().setDataFolder(rig.folder.path());
    std::printf(
        "The window thread's longest stall (1 ms timer; target %.0f ms), tarnel-sim over "
        "TCP, 64 activated meters\n",
        kStallTargetMs);
    std::printf("  an idle event loop here stalls up to %.1f ms\n", IdleStallMs(1));
    std::printf("  %-44s %8s %8s %9s\n", "", "wall ms", "CPU ms", "total CPU");
    rig.form.control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    rig.form.control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    rig.form.control<QPushButton>("Butt_connect_xport")->click();
    if (!WaitFor([&] { return rig.form.program().link().TcpMode(); }, 5000))
        Fail("the TCP connection");

    for (int read = 1; read <= 6; ++read) {
        const int before = rig.form.program().gridDevices().rows() - 2;
        char what[80];
        std::snprintf(what, sizeof what, "table read %d (64 entries, %d rows before)", read,
                      std::max(0, before));
        Print(what, rig.tableRead());
    }
    Print("scan 0..250", rig.scan());
    double seconds = 0;
    const Stall stall = rig.report(&seconds);
    char took[64];
    std::snprintf(took, sizeof took, " (%.2f s from the click to the PDF)", seconds);
    Print("commissioning report", stall, took);
    return 0;
}
