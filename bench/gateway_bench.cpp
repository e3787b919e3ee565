// Fast replies off and on, side by side, against the simulated gateway over
// loopback TCP and a pseudo-terminal on the real clock: "Read registers" of
// 125 input registers and the 14-step status sequence at the default Modbus
// time-out (600 ms), each with the longest stall of the GUI thread and, on
// the serial line, the time its bytes take at 19200 Bd 8E1.
// Usage: gateway_bench [runs with fast replies on]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "bench_support.h"
#include "gateway/gateway_status.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "no_dialogs.h"
#include "sim/modbus_server.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

constexpr int kTimeoutMs = 600;
// Each run with fast replies off waits out every time-out: a read 600 ms,
// the status sequence 14 of them.
constexpr int kReadRunsOff = 3;
constexpr int kStatusRunsOff = 1;

double WireMs(size_t bytes) {
    return static_cast<double>(bytes) * 11 * 1000 / 19200;  // 8E1: 11 bits a byte
}

// What one operation put on the wire, from the simulator's record of it.
struct Wire {
    size_t bytes = 0;
    size_t replyBytes = 0;
    int exchanges = 0;
    // For each exchange: from the previous reply (or the start) to its request
    // reaching the gateway, and from there to its reply leaving the gateway.
    std::vector<std::pair<qint64, qint64>> steps;
};

Wire WireOf(const std::vector<sim::WireRecord>& records, qint64 startedAt) {
    Wire wire;
    qint64 previous = startedAt, requestAt = startedAt;
    for (const sim::WireRecord& record : records) {
        wire.bytes += record.bytes.size();
        if (record.request) {
            ++wire.exchanges;
            requestAt = record.atMs;
            wire.steps.push_back({record.atMs - previous, 0});
        } else if (!wire.steps.empty()) {
            wire.replyBytes += record.bytes.size();
            wire.steps.back().second = record.atMs - requestAt;
            previous = record.atMs;
        }
    }
    return wire;
}

// The tool, against the simulated gateway.
struct Bench {
    RealClock& clock;
    Log& log;
    GatewayLink& link;
    RegisterView& view;
    GatewayStatus& status;
    StallWatch& watch;
    const int runsOn;
};

// Wall time of one operation, from its start to the log line that ends it
// (NaN when it never ended).
double TimeOperation(Log& log, const std::function<void()>& start, const QString& lastLine) {
    QElapsedTimer took;
    std::optional<double> endedMs;
    const QMetaObject::Connection watching =
        QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
            if (!endedMs && line.startsWith(lastLine)) endedMs = took.nsecsElapsed() / 1e6;
        });
    took.start();
    start();
    const bool ended = WaitFor([&] { return endedMs.has_value(); }, 60'000);
    QObject::disconnect(watching);
    if (!ended) std::fprintf(stderr, "no \"%s\" line within 60 s\n", qPrintable(lastLine));
    return ended ? *endedMs : std::nan("");
}

struct Side {
    double ms = 0;  // median
    double stallMs = 0;
    Wire wire;  // of the last run
};

// `runs` runs of an operation at one setting of fast replies.
Side Measure(Bench& bench, sim::SimEndpoint& endpoint, bool fast, int runs,
             const std::function<void()>& start, const QString& lastLine) {
    bench.link.setFastReplies(fast);
    Side side;
    std::vector<double> times;
    bench.watch.reset();
    for (int run = 0; run < runs; ++run) {
        endpoint.ClearRecords();
        const qint64 startedAt = bench.clock.elapsed();
        times.push_back(TimeOperation(bench.log, start, lastLine));
        side.wire = WireOf(endpoint.Records(), startedAt);
    }
    side.stallMs = bench.watch.longestMs();
    side.ms = Median(times);
    return side;
}

Figure Compare(const char* what, const char* linkName, bool serial, const Side& off,
               const Side& on) {
    Figure figure = OffAndOn(what, linkName, off.ms, on.ms);
    figure.stallOffMs = off.stallMs;
    figure.stallOnMs = on.stallMs;
    char text[200];
    if (serial) {
        // Every exchange may take 1.2 times its bytes' time and 10 ms more.
        // A pseudo-terminal carries the replies at once: on a 19200 Bd line
        // they would add their wire time to what was measured.
        figure.limitMs = WireMs(on.wire.bytes);
        const double target = 1.2 * *figure.limitMs + 10.0 * on.wire.exchanges;
        const double line = on.ms + WireMs(on.wire.replyBytes);
        figure.pass = line <= target;
        std::snprintf(text, sizeof text,
                      "(on a 19200 Bd line ~%.1f ms = %.2f x wire; target 1.2 x wire + %d x 10 ms "
                      "= %.1f; %zu bytes)",
                      line, line / *figure.limitMs, on.wire.exchanges, target, on.wire.bytes);
    } else {
        const double speedUp = off.ms / on.ms;
        const bool read = std::string(what).starts_with("read");
        figure.pass = speedUp >= 100 && (!read || on.ms < 6);
        std::snprintf(text, sizeof text, "(speed-up >= 100x%s)", read ? ", on < 6 ms" : "");
    }
    figure.verdict = text;
    CheckStall(figure);
    return figure;
}

// Where the time of the status sequence goes, exchange by exchange.
void PrintSteps(const Wire& wire) {
    std::printf(
        "  status sequence, fast on, per exchange [ms before the request reached the "
        "gateway / to its reply]:");
    for (const auto& [before, answer] : wire.steps)
        std::printf(" %lld/%lld", static_cast<long long>(before), static_cast<long long>(answer));
    std::printf("\n");
}

void MeasureLink(Bench& bench, sim::SimEndpoint& endpoint, const char* linkName, bool serial) {
    const auto read = [&] { bench.view.read({1, 1, 125, true, kTimeoutMs}); };
    const QString readEnd = QStringLiteral("RCVD:");
    const Side readOff = Measure(bench, endpoint, false, kReadRunsOff, read, readEnd);
    const Side readOn = Measure(bench, endpoint, true, bench.runsOn, read, readEnd);
    PrintFigure(Compare("read 125 input registers", linkName, serial, readOff, readOn));

    const auto status = [&] { bench.status.readStatus(1, kTimeoutMs); };
    const QString statusEnd = QStringLiteral("Reading settings finished!");
    const Side statusOff = Measure(bench, endpoint, false, kStatusRunsOff, status, statusEnd);
    const Side statusOn = Measure(bench, endpoint, true, bench.runsOn, status, statusEnd);
    PrintFigure(Compare("status sequence (14 steps)", linkName, serial, statusOff, statusOn));
    if (!serial) return;
    PrintSteps(statusOn.wire);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runsOn = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
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
    GatewayLink link(serial, tcp, clock);
    Presenter presenter(log, panels);
    presenter.watch(link, dialogs);
    GridModel grid(registersGridLayout().headers);
    GridModel meters(loopsGridLayout().headers);
    GridModel devices(devicesGridLayout().headers);
    QObject owner;
    Timer* timerModbus = clock.createTimer(&owner);
    Timer* timerAuto = clock.createTimer(&owner);
    Timer* timerStatus = clock.createTimer(&owner);
    RegisterView view(link, *timerModbus, *timerAuto);
    presenter.watch(view, grid);
    GatewayStatus status(link, *timerStatus, view);
    presenter.watch(status);
    StallWatch watch;
    Bench bench{clock, log, link, view, status, watch, runsOn};

    std::printf(
        "Fast replies off and on, simulated gateway, Modbus time-out %d ms; median of %d "
        "(read) / %d (status) runs off, %d on; GUI stall: off / on\n",
        kTimeoutMs, kReadRunsOff, kStatusRunsOff, runsOn);
    std::printf("An idle event loop here stalls up to %.1f ms (1 ms timer, 1 s).\n",
                IdleStallMs(1));
    PrintFigureHeader();
    link.connectTcp("127.0.0.1", port, 30);
    if (!WaitFor([&] { return link.TcpMode(); }, 5000)) {
        std::fprintf(stderr, "no TCP connection to the simulator\n");
        return 1;
    }
    MeasureLink(bench, tcpEndpoint, "TCP", false);

    link.openSerial(SerialSettingsFromTexts(QString::fromStdString(pty), "19200", "Even", "1"));
    if (!link.SerialOpen()) {
        std::fprintf(stderr, "%s\n", qPrintable(log.lines().join('\n')));
        return 1;
    }
    MeasureLink(bench, rtuEndpoint, "pty", true);
    std::printf(
        "A pseudo-terminal has no line rate: a reply takes no wire time there, while a request "
        "sent whole is waited for as long as it takes at 19200 Bd; the pty lines are judged on "
        "the time measured plus the replies' wire time.\n");
    link.closeSerial();
    server.Stop();
    return 0;
}
