// The time a primary scan of 0..250 takes against the simulated bus at
// 2400 Bd: at the default settings (scan time 1000 ms, Retry 2, time-out
// 600 ms) and at the fastest settings that still find every default meter,
// on the virtual clock; one shorter range checked against the real clock;
// and the physical limit of the bus for comparison.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "link/gateway_link.h"
#include "no_dialogs.h"
#include "ops/primary_scan.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;
using bench::NoDialogs;

namespace {

struct Result {
    qint64 ms;
    int found;
};

// One scan on `clock`; returns how long it took and how many meters it listed.
Result scanOnce(Clock& clock, const std::function<void()>& runClock, int from, int to, int scanTime,
                int retries, int timeout) {
    sim::SimBus bus(sim::SimBus::DefaultMeters());
    sim::SimGateway gateway(bus, clock);
    sim::SimEndpoint rtu(gateway, clock, sim::Framing::Rtu);
    sim::SimEndpoint tcpEndpoint(gateway, clock, sim::Framing::Tcp);
    sim::InMemorySerial serial(rtu, clock);
    sim::InMemoryTcp tcp(tcpEndpoint, clock);
    Log log;
    StatusPanels status;
    NoDialogs dialogs;
    GatewayLink link(serial, tcp, clock, log, status, dialogs);
    QObject owner;
    GridModel grid(loopsGridLayout().headers);
    MbusJobState job;
    PrimaryScan scan(link, log, dialogs, grid, job, *clock.createTimer(&owner),
                     *clock.createTimer(&owner));
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    const qint64 start = clock.elapsed();
    scan.start({1, from, to, scanTime, timeout, retries});
    while (job.scanRunning)
        runClock();
    return {clock.elapsed() - start, grid.rows() - 2};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto onVirtual = [](int from, int to, int scanTime, int retries, int timeout) {
        VirtualClock clock;
        return scanOnce(
            clock, [&] { clock.runUntilIdle(3'600'000); }, from, to, scanTime, retries, timeout);
    };
    const int meters = static_cast<int>(sim::SimBus::DefaultMeters().size());
    const Result standard = onVirtual(0, 250, 1000, 2, 600);
    std::printf("scan 0..250, defaults (1000 ms, Retry 2, 600 ms): %.1f s, %d of %d meters\n",
                standard.ms / 1000.0, standard.found, meters);
    int fastest = 300;
    while (fastest < 9900 && onVirtual(0, 250, fastest, 0, 150).found < meters)
        fastest += 10;
    const Result quick = onVirtual(0, 250, fastest, 0, 150);
    std::printf("scan 0..250, fastest finding all (%d ms, Retry 0, 150 ms): %.1f s, %d meters\n",
                fastest, quick.ms / 1000.0, quick.found);

    // The bus itself: REQ_UD2 (5 bytes) at 11 bits a byte, then for a silent
    // address the answer window (330 bit times + 50 ms), for a meter its
    // answer delay and its RSP_UD.
    double limitMs = 0;
    const auto wire = [](size_t bytes) { return bytes * 11 * 1000.0 / 2400; };
    std::vector<sim::SimMeter> bus = sim::SimBus::DefaultMeters();
    for (int address = 0; address <= 250; ++address) {
        const auto meter = std::find_if(bus.begin(), bus.end(),
                                        [&](const auto& m) { return m.address == address; });
        limitMs +=
            wire(5) + (meter == bus.end() ? 330 * 1000.0 / 2400 + 50
                                          : 11 * 1000.0 / 2400 + wire(meter->RspUd().size()));
    }
    std::printf("physical limit of the 2400 Bd bus for 0..250: %.1f s\n", limitMs / 1000.0);

    RealClock real;
    QElapsedTimer wall;
    wall.start();
    const Result checked = scanOnce(
        real, [] { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }, 0, 3, fastest,
        0, 150);
    std::printf(
        "check: scan 0..3 at %d ms: real clock %lld ms, virtual clock %lld ms (%d meters)\n",
        fastest, static_cast<long long>(wall.elapsed()),
        static_cast<long long>(onVirtual(0, 3, fastest, 0, 150).ms), checked.found);
    return 0;
}
