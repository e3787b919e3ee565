// Wall time of the gateway status sequence and of a 125-register read at the
// default Modbus time-out (600 ms), over loopback TCP and over a
// pseudo-terminal, against the simulated gateway; and how much of it is
// spent waiting after the reply was already complete.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "gateway/gateway_status.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "no_dialogs.h"
#include "sim/modbus_server.h"

using namespace tarnel;
using bench::NoDialogs;

namespace {

struct Tally {
    QElapsedTimer clock;
    qint64 lastByte = -1;  // when the last reply byte came in
    qint64 idleAfter = 0;  // summed: reply complete -> its timer fired
    void received() { lastByte = clock.elapsed(); }
    void handled() {
        if (lastByte >= 0) idleAfter += clock.elapsed() - lastByte;
        lastByte = -1;
    }
};

void waitFor(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void measure(const char* linkName, Log& log, RegisterView& view, GatewayStatus& status,
             Timer& timerModbus, Timer& timerStatus, Tally& tally) {
    QObject::connect(&timerModbus, &Timer::timeout, [&] { tally.handled(); });
    QObject::connect(&timerStatus, &Timer::timeout, [&] { tally.handled(); });

    tally.clock.start();
    tally.idleAfter = 0;
    view.read({1, 1, 125, true, 600});
    waitFor([&] { return log.lines().last().startsWith("RCVD:"); });
    const qint64 readTime = tally.clock.elapsed(), readIdle = tally.idleAfter;

    tally.clock.start();
    tally.idleAfter = 0;
    status.BitBtn18Click(1, 600);
    waitFor([&] { return log.lines().last() == "Reading settings finished!"; });
    std::printf(
        "%s: 125-register read %lld ms (%lld ms of it after the reply was complete); "
        "status sequence %lld ms (%lld ms after the replies were complete)\n",
        linkName, static_cast<long long>(readTime), static_cast<long long>(readIdle),
        static_cast<long long>(tally.clock.elapsed()), static_cast<long long>(tally.idleAfter));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RealClock clock;
    sim::SimBus bus(sim::SimBus::DefaultMeters());
    sim::SimGateway gateway(bus, clock);
    sim::SimEndpoint tcpEndpoint(gateway, clock, sim::Framing::Tcp);
    sim::SimEndpoint rtuEndpoint(gateway, clock, sim::Framing::Rtu);
    sim::ModbusServer server(tcpEndpoint, rtuEndpoint);
    const int port = server.ListenTcp("127.0.0.1", 0);
    const std::string pty = server.ServePty();
    server.Start();

    Log log;
    StatusPanels panels;
    NoDialogs dialogs;
    CommTransport serial;
    SocketTransport tcp;
    GatewayLink link(serial, tcp, clock, log, panels, dialogs);
    GridModel grid(registersGridLayout().headers);
    QObject owner;
    Timer* timerModbus = clock.createTimer(&owner);
    Timer* timerAuto = clock.createTimer(&owner);
    Timer* timerStatus = clock.createTimer(&owner);
    RegisterView view(link, log, grid, *timerModbus, *timerAuto);
    GatewayStatus status(link, log, *timerStatus, view);
    Tally tally;
    QObject::connect(&serial, &SerialTransport::received, [&] { tally.received(); });
    QObject::connect(&tcp, &TcpTransport::received, [&] { tally.received(); });

    link.Butt_connect_xportClick("127.0.0.1", QString::number(port), 30);
    waitFor([&] { return link.TcpMode(); });
    measure("TCP", log, view, status, *timerModbus, *timerStatus, tally);
    link.openSerial(SerialSettingsFromTexts(QString::fromStdString(pty), "19200", "Even", "1"));
    measure("pty", log, view, status, *timerModbus, *timerStatus, tally);
    server.Stop();
    return 0;
}
