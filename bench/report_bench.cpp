// The commissioning report's time from the click to the finished files: the
// whole window, offscreen, on the real clock, against tarnel-sim with the
// 64-meter scenario (64 meters in the table), fast replies on (the window's
// default), once over TCP and once over a pseudo-terminal at the window's
// default 19200 baud. The clock starts when File › "Commissioning report..."
// is chosen (the form answered at once) and stops when the PDF is handed to
// the viewer.
// Usage: report_bench [path of tarnel-sim] [runs]
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
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
#include "base/real_clock.h"
#include "bench_support.h"
#include "gateway/program.h"
#include "link/gateway_link.h"
#include "no_dialogs.h"

using namespace tarnel;

namespace {

// Waits on the event loop, woken by events only.
void waitFor(const std::function<bool()>& done, const char* what) {
    if (bench::WaitFor(done, 10000)) return;
    std::fprintf(stderr, "report_bench: %s did not come\n", what);
    std::exit(2);
}

struct SimProcess {
    QProcess process;
    QString tcpPort, pty;
    explicit SimProcess(const QString& path) {
        process.start(path, {"--tcp", "0", "--pty", "--scenario", ":/sim/scenario64.json"});
        process.waitForStarted(5000);
        waitFor([&] { return process.canReadLine(); }, "the simulator's TCP port");
        tcpPort = QString::fromLatin1(process.readLine()).trimmed().section(':', -1);
        waitFor([&] { return process.canReadLine(); }, "the simulator's pty");
        pty = QString::fromLatin1(process.readLine()).trimmed().section(' ', 1);
    }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

double reportSeconds(TForm1& form, bench::ReportDialogs& dialogs) {
    dialogs.opened.clear();
    QEventLoop loop;
    dialogs.onOpened = [&loop] { loop.quit(); };
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QElapsedTimer took;
    took.start();
    form.control<QAction>("CommissioningReport1")->trigger();
    if (dialogs.opened.isEmpty()) loop.exec();
    const double seconds = static_cast<double>(took.nsecsElapsed()) / 1e9;
    dialogs.onOpened = nullptr;
    return dialogs.opened.isEmpty() ? -1 : seconds;
}

void measure(const char* link, TForm1& form, bench::ReportDialogs& dialogs, int runs) {
    for (int run = 1; run <= runs; ++run)
        std::printf("  %s, run %d: %.2f s from the click to the finished report\n", link, run,
                    reportSeconds(form, dialogs));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString simPath =
        argc > 1 ? argv[1] : QCoreApplication::applicationDirPath() + "/../tarnel-sim";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    SimProcess sim(simPath);
    RealClock clock;
    bench::ReportDialogs dialogs;
    QTemporaryDir folder;
    TForm1 form(clock, dialogs, ProgramPaths{folder.path(), folder.filePath("tarnel.ini")});
    form.show();
    form.program().setDataFolder(folder.path());
    std::printf("Commissioning report, 64 activated meters, fast replies on\n");

    form.control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    form.control<QLineEdit>("Edit_lanxp_port")->setText(sim.tcpPort);
    form.control<QPushButton>("Butt_connect_xport")->click();
    waitFor([&] { return form.program().link().TcpMode(); }, "the TCP connection");
    measure("TCP", form, dialogs, runs);
    form.control<QPushButton>("Butt_connect_xport")->click();  // disconnects

    form.control<QComboBox>("Combo_com2_name")->setCurrentText(sim.pty);
    form.control<QPushButton>("Butt_open_port2")->click();
    waitFor([&] { return form.program().link().SerialOpen(); }, "the serial port");
    measure("pty, 19200 baud", form, dialogs, runs);
    return dialogs.opened.isEmpty() ? 1 : 0;
}
