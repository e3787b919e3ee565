// Primary scans of 0..250 against the simulated bus at 2400 Bd, fast replies
// off and on side by side, over the in-process serial line (19200 Bd) and
// TCP: at the default settings (scan time 1000 ms, Retry 2, time-out 600 ms)
// and at scan time 300 ms, Retry 0. They run on the virtual clock, since on
// the real one they take minutes. Each is set against the best its settings
// allow (every silent address Retry+1 scan times, every meter its answer on
// the bus) and against the bus itself. One short range runs on the real clock
// as a check of the virtual one and for the GUI thread's longest stall.
#include <QCoreApplication>
#include <cstdio>
#include <set>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "bench_support.h"
#include "gateway/presenter.h"
#include "link/gateway_link.h"
#include "no_dialogs.h"
#include "ops/busy_rule.h"
#include "ops/primary_scan.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

using Settings = PrimaryScan::Settings;

// Runs the clock until `finished`; false when it cannot get there.
using Runner = std::function<bool(const std::function<bool()>& finished)>;

struct Outcome {
    double ms = 0;
    std::set<int> found;  // the addresses listed in the meter grid
    bool ended = false;
};

// One scan with its own simulated gateway, on `clock`.
Outcome Scan(Clock& clock, const Runner& run, bool tcpLink, bool fast, const Settings& settings) {
    sim::SimBus bus(sim::SimBus::DefaultMeters());
    sim::SimGateway gateway(bus, clock);
    sim::SimEndpoint rtu(gateway, clock, sim::Framing::Rtu);
    sim::SimEndpoint tcpEndpoint(gateway, clock, sim::Framing::Tcp);
    sim::InMemorySerial serial(rtu, clock);
    sim::InMemoryTcp tcp(tcpEndpoint, clock);
    Log log;
    StatusPanels status;
    NoDialogs dialogs;
    GatewayLink link(serial, tcp, clock);
    Presenter presenter(log, status);
    presenter.watch(link, dialogs);
    QObject owner;
    GridModel grid(loopsGridLayout().headers);
    BusyRule busy;
    PrimaryScan scan(link, busy, *clock.createTimer(&owner), *clock.createTimer(&owner));
    presenter.watch(scan, grid);
    Outcome outcome;
    if (tcpLink) {
        link.connectTcp("127.0.0.1", 502, 30);
        if (!run([&] { return link.TcpMode(); })) return outcome;
    } else {
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    }
    link.setFastReplies(fast);
    const qint64 start = clock.elapsed();
    scan.start(settings, true);  // on an empty table, as a Yes did
    outcome.ended = run([&] { return !scan.running(); });
    outcome.ms = static_cast<double>(clock.elapsed() - start);
    for (int row = 1; row < grid.rows(); ++row) {
        bool ok = false;
        const int address = grid.cell(row, 1).trimmed().toInt(&ok);
        if (ok) outcome.found.insert(address);
    }
    return outcome;
}

Outcome ScanOnVirtual(bool tcpLink, bool fast, const Settings& settings) {
    VirtualClock clock;
    const Runner run = [&clock](const std::function<bool()>& finished) {
        while (!finished()) {
            if (clock.armedTimers() == 0) return false;  // nothing left that could get there
            clock.runUntilIdle(3'600'000);
        }
        return true;
    };
    return Scan(clock, run, tcpLink, fast, settings);
}

double BusMs(size_t bytes) {
    return static_cast<double>(bytes) * 11 * 1000 / 2400;  // 11 bits a byte at 2400 Bd
}

// What a scan of `settings` cannot beat.
struct Limits {
    double bestMs = 0;  // at these settings: silence waits Retry+1 scan times
    double busMs = 0;   // the bus itself: silence is over after its answer window
    std::set<int> meters;
    std::set<int> tooSlow;  // meters whose answer is complete only after the scan time
};

Limits LimitsOf(const std::vector<sim::SimMeter>& meters, const Settings& settings) {
    Limits limits;
    const double request = BusMs(5);  // REQ_UD2
    const double silence = static_cast<double>(settings.retries + 1) * settings.scanTimeMs;
    for (int address = settings.from; address <= settings.to; ++address) {
        const auto meter = std::find_if(meters.begin(), meters.end(), [&](const auto& m) {
            return m.address == address && !m.silent && m.baud == 2400;
        });
        if (meter == meters.end()) {
            limits.bestMs += silence;
            limits.busMs += request + 330 * 1000.0 / 2400 + 50;
            continue;
        }
        limits.meters.insert(address);
        const double reply = BusMs(meter->RspUd().size());
        limits.busMs += request + 11 * 1000.0 / 2400 + reply;
        const double answer = request + meter->replyDelayMs + meter->extraDelayMs + reply;
        if (answer <= settings.scanTimeMs) {
            limits.bestMs += answer;
        } else {
            limits.bestMs += silence;
            limits.tooSlow.insert(address);
        }
    }
    return limits;
}

std::string AddressList(const std::set<int>& addresses) {
    std::string text;
    for (const int address : addresses)
        text += (text.empty() ? "" : ",") + std::to_string(address);
    return text;
}

// The figure of one scan, off and on; the target is 1.1 x the best, every
// default meter found with fast replies on.
Figure Compare(const std::string& what, const char* linkName, const Limits& limits,
               const Outcome& off, const Outcome& on) {
    Figure figure = OffAndOn(what, linkName, off.ms, on.ms);
    figure.limitMs = limits.bestMs;
    std::set<int> missed;
    for (const int address : limits.meters)
        if (!on.found.contains(address)) missed.insert(address);
    const double target = 1.1 * limits.bestMs;
    std::string misses;
    if (!off.ended || !on.ended) misses += "a scan never ended; ";
    if (on.ms > target) misses += "slower than 1.1 x best; ";
    if (!missed.empty()) {
        std::set<int> slow, others;
        for (const int address : missed)
            (limits.tooSlow.contains(address) ? slow : others).insert(address);
        if (!slow.empty())
            misses += "not found: " + AddressList(slow) + " (answer ends after the scan time); ";
        if (!others.empty()) misses += "not found: " + AddressList(others) + "; ";
    }
    figure.pass = misses.empty();
    char text[200];
    std::snprintf(text, sizeof text,
                  "(on <= 1.1 x best = %.1f s, all meters found) on/bus %.2f, off/best %.2f, "
                  "off/bus %.2f; found on %zu/%zu, off %zu/%zu",
                  target / 1000, on.ms / limits.busMs, off.ms / limits.bestMs,
                  off.ms / limits.busMs, on.found.size(), limits.meters.size(), off.found.size(),
                  limits.meters.size());
    figure.verdict = misses + text;
    return figure;
}

// How long each meter takes to answer on the bus: REQ_UD2, its delay, its RSP_UD.
void PrintAnswers(const std::vector<sim::SimMeter>& meters) {
    std::printf("  meters' answers on the bus (REQ_UD2 + delay + RSP_UD at 2400 Bd), ms:");
    for (const sim::SimMeter& meter : meters)
        std::printf(
            " %d: %.0f", meter.address,
            BusMs(5) + meter.replyDelayMs + meter.extraDelayMs + BusMs(meter.RspUd().size()));
    std::printf("\n");
}

std::string Describe(const Settings& settings) {
    return "scan " + std::to_string(settings.from) + ".." + std::to_string(settings.to) + ", " +
           std::to_string(settings.scanTimeMs) + " ms, Retry " + std::to_string(settings.retries);
}

// The short range on the real clock, against the same range on the virtual one.
void CheckRealClock(const std::vector<sim::SimMeter>& meters) {
    const Settings settings{1, 0, 3, 300, 600, 0};
    RealClock clock;
    StallWatch watch;
    const Runner run = [](const std::function<bool()>& finished) {
        return WaitFor(finished, 60'000);
    };
    watch.reset();
    const Outcome off = Scan(clock, run, false, false, settings);
    const double stallOff = watch.longestMs();
    watch.reset();
    const Outcome on = Scan(clock, run, false, true, settings);
    const double stallOn = watch.longestMs();
    Figure figure =
        Compare(Describe(settings) + " (real)", "serial", LimitsOf(meters, settings), off, on);
    figure.stallOffMs = stallOff;
    figure.stallOnMs = stallOn;
    CheckStall(figure);
    char text[120];
    std::snprintf(text, sizeof text, "; virtual clock: off %.0f ms, on %.0f ms",
                  ScanOnVirtual(false, false, settings).ms,
                  ScanOnVirtual(false, true, settings).ms);
    figure.verdict += text;
    PrintFigure(figure);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::vector<sim::SimMeter> meters = sim::SimBus::DefaultMeters();
    std::printf(
        "Primary scans against the simulated bus (%zu meters at 2400 Bd), fast replies off "
        "and on; limit = the best the settings allow; virtual clock unless marked real\n",
        meters.size());
    PrintAnswers(meters);
    PrintFigureHeader();
    for (const Settings& settings :
         {Settings{1, 0, 250, 1000, 600, 2}, Settings{1, 0, 250, 300, 600, 0}}) {
        const Limits limits = LimitsOf(meters, settings);
        for (const bool tcp : {false, true}) {
            const Outcome off = ScanOnVirtual(tcp, false, settings);
            const Outcome on = ScanOnVirtual(tcp, true, settings);
            PrintFigure(Compare(Describe(settings), tcp ? "TCP" : "serial", limits, off, on));
        }
        std::printf("  %s: best %.1f s, bus limit %.1f s\n", Describe(settings).c_str(),
                    limits.bestMs / 1000, limits.busMs / 1000);
    }
    std::printf("An idle event loop here stalls up to %.1f ms (1 ms timer, 1 s).\n",
                IdleStallMs(1));
    CheckRealClock(meters);
    return 0;
}
