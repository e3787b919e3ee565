// The gateway's table of 64 meters read into the device grid, and 64 rows of
// the grid activated in an empty table, fast replies off and on, against the
// simulated gateway on the 64-meter bus over loopback TCP and a
// pseudo-terminal on the real clock: each with the longest stall of the GUI
// thread, what the same frames take on a 19200 Bd 8E1 line and what the
// gateway takes to read each meter on its 2400 Bd M-Bus.
// Usage: device_bench [rows activated with fast replies off, scaled to 64; 8]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>
#include <map>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "bench_support.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "link/register_map.h"
#include "no_dialogs.h"
#include "ops/busy_rule.h"
#include "ops/command_console.h"
#include "sim/modbus_server.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

constexpr int kRows = 64;
constexpr int kSlave = 1;
constexpr int kTimeoutMs = 600;
constexpr int kReadScanMs = 1000;
constexpr int kActivationScanMs = 3000;
constexpr int kReqUd2Bytes = 5;
constexpr double kTcpReadTargetMs = 1000;
constexpr double kSlackMs = 10;  // what an exchange may take beyond its limit

double WireMs(size_t bytes) {
    return static_cast<double>(bytes) * 11 * 1000 / 19200;  // 8E1: 11 bits a byte
}
double MbusMs(size_t bytes) {
    return static_cast<double>(bytes) * 11 * 1000 / 2400;
}

// The time the gateway spends on the M-Bus to read each meter before it
// answers an activation: the REQ_UD2, the meter's answer delay, its RSP_UD.
std::map<int, double> MeterTimes(const sim::SimBus& bus) {
    std::map<int, double> times;
    for (const sim::SimMeter& meter : bus.meters())
        times[meter.address] = MbusMs(kReqUd2Bytes) + meter.replyDelayMs + meter.extraDelayMs +
                               MbusMs(meter.RspUd().size());
    return times;
}

// One exchange as the simulator's wire record has it.
struct Step {
    qint64 requestAt = 0;
    qint64 replyAt = -1;
    size_t requestBytes = 0;
    size_t replyBytes = 0;
    int address = -1;  // the meter an activation names
};

std::vector<Step> StepsOf(const std::vector<sim::WireRecord>& records, bool rtu, bool activation) {
    std::vector<Step> steps;
    for (const sim::WireRecord& record : records) {
        if (record.request) {
            Step step;
            step.requestAt = record.atMs;
            step.requestBytes = record.bytes.size();
            // The value written is the PDU's last byte, before the CRC on RTU.
            const size_t tail = rtu ? 3 : 1;
            if (activation && record.bytes.size() >= tail)
                step.address = record.bytes[record.bytes.size() - tail];
            steps.push_back(step);
        } else if (!steps.empty()) {
            if (steps.back().replyAt < 0) steps.back().replyAt = record.atMs;
            steps.back().replyBytes += record.bytes.size();
        }
    }
    return steps;
}

// The tool and the simulated gateway.
struct Bench {
    RealClock& clock;
    Log& log;
    GatewayLink& link;
    GridModel& devices;
    DeviceTable& table;
    BulkActivation& bulk;
    sim::SimGateway& gateway;
    StallWatch& watch;
    const std::map<int, double> meterTimes;
    const int offRows;
};

// One operation at one setting of fast replies.
struct Run {
    double ms = std::nan("");
    double stallMs = 0;
    qint64 endAt = 0;  // the clock's elapsed time when it ended
    std::vector<Step> steps;
    int rows = 0;  // rows read, or meters in the gateway's table afterwards
};

// When the operation ended, as its end signal or log line tells.
struct Marker {
    explicit Marker(RealClock& clock) : clock(clock) {}
    RealClock& clock;
    QElapsedTimer took;
    std::optional<double> endedMs;
    qint64 endAt = 0;
    void mark() {
        if (endedMs) return;
        endedMs = static_cast<double>(took.nsecsElapsed()) / 1e6;
        endAt = clock.elapsed();
    }
};

Run Timed(Bench& bench, sim::SimEndpoint& endpoint, Marker& marker,
          const std::function<void()>& start, bool activation) {
    endpoint.ClearRecords();
    bench.watch.reset();
    marker.took.start();
    start();
    const bool ended = WaitFor([&] { return marker.endedMs.has_value(); }, 240'000);
    Run run;
    run.stallMs = bench.watch.longestMs();
    if (!ended) std::fprintf(stderr, "the operation did not end within 240 s\n");
    if (ended) run.ms = *marker.endedMs;
    run.endAt = marker.endAt;
    run.steps = StepsOf(endpoint.Records(), endpoint.framing() == sim::Framing::Rtu, activation);
    return run;
}

// "Read modbus devices" of the full table until the read-out gives the
// controls back.
Run ReadTable(Bench& bench, sim::SimEndpoint& endpoint, bool fast) {
    bench.link.setFastReplies(fast);
    bench.gateway.ActivateAll();
    bench.devices.clearData();
    bench.log.clear();
    Marker marker(bench.clock);
    const QMetaObject::Connection watching =
        QObject::connect(&bench.table, &DeviceTable::readOutFinished,
                         [&marker](const TableReadResult&) { marker.mark(); });
    Run run = Timed(
        bench, endpoint, marker,
        [&bench] {
            bench.table.readDevices({kSlave, kTimeoutMs, kReadScanMs});
        },
        false);
    QObject::disconnect(watching);
    for (int row = 1; row < bench.devices.rows(); ++row)
        if (!bench.devices.cell(row, 1).isEmpty()) ++run.rows;
    return run;
}

// "Activate All from table" of rows 1..`rows` against an empty table.
Run ActivateRows(Bench& bench, sim::SimEndpoint& endpoint, bool fast, int rows) {
    bench.link.setFastReplies(fast);
    bench.gateway.Handle({0x06, 0x00, reg::kDeleteDevice, 0x00, 0xFF});  // delete all
    bench.devices.clearData();
    bench.devices.setRows(rows + 1);
    for (int row = 1; row <= rows; ++row)
        bench.devices.setCell(row, 1, QString::number(row));
    bench.log.clear();
    Marker marker(bench.clock);
    const QMetaObject::Connection watching =
        QObject::connect(&bench.log, &Log::lineAppended, [&marker](const QString& line) {
            if (line == QStringLiteral("Activation process finished!")) marker.mark();
        });
    Run run = Timed(
        bench, endpoint, marker,
        [&bench] {
            bench.bulk.start({kSlave, kActivationScanMs, 0});
        },
        true);
    QObject::disconnect(watching);
    run.rows = bench.gateway.ActiveDevices();
    return run;
}

// How the fast run's exchanges fared against what each may take: on the
// serial line 1.2 x its bytes' time + 10 ms, on TCP nothing but 10 ms; both
// plus the gateway's time on the M-Bus for an activation. A pseudo-terminal
// carries a reply at once and hands the gateway a request while the tool
// still waits out its wire time, so a serial exchange is judged on its time
// plus its reply's wire time and the part of its request's wire time that
// overlapped the gateway's time on the M-Bus.
struct Judged {
    double limitMs = 0;    // the bytes at 19200 Bd (serial) and the gateway's M-Bus time
    double busMs = 0;      // the gateway's M-Bus time alone (computed)
    double heldMs = 0;     // the replies' hold in the simulator, from the records
    double lineMs = 0;     // the run's time on a real line
    double allowedMs = 0;  // the sum of what every exchange may take
    double worstOverMs = -1e9;
    int over = 0;  // exchanges beyond what they may take
};

Judged Judge(const Bench& bench, const Run& run, bool serial) {
    Judged judged;
    judged.lineMs = run.ms;
    for (size_t i = 0; i < run.steps.size(); ++i) {
        const Step& step = run.steps[i];
        const auto meter = bench.meterTimes.find(step.address);
        const double busMs = meter == bench.meterTimes.end() ? 0 : meter->second;
        const double wireMs = serial ? WireMs(step.requestBytes + step.replyBytes) : 0;
        const double heldMs =
            step.replyAt >= 0 ? static_cast<double>(step.replyAt - step.requestAt) : 0;
        const double overlapMs =
            serial && busMs > 0 ? std::min(WireMs(step.requestBytes), heldMs) : 0;
        const double addedMs = (serial ? WireMs(step.replyBytes) : 0) + overlapMs;
        const qint64 nextAt = i + 1 < run.steps.size() ? run.steps[i + 1].requestAt : run.endAt;
        const double tookMs = static_cast<double>(nextAt - step.requestAt) + addedMs;
        const double allowedMs = 1.2 * wireMs + busMs + kSlackMs;
        judged.limitMs += wireMs + busMs;
        judged.busMs += busMs;
        judged.heldMs += heldMs;
        judged.lineMs += addedMs;
        judged.allowedMs += allowedMs;
        judged.worstOverMs = std::max(judged.worstOverMs, tookMs - allowedMs);
        if (tookMs > allowedMs) ++judged.over;
    }
    return judged;
}

Figure Compare(const Bench& bench, const std::string& what, const char* linkName, bool serial,
               bool activation, const Run& off, double offMs, const Run& on, int offRows) {
    Figure figure = OffAndOn(what, linkName, offMs, on.ms);
    figure.stallOffMs = off.stallMs;
    figure.stallOnMs = on.stallMs;
    const Judged judged = Judge(bench, on, serial);
    char text[400];
    if (!serial && !activation) {
        figure.pass = on.ms < kTcpReadTargetMs;
        std::snprintf(text, sizeof text, "(whole table on < %.0f ms; %zu exchanges)",
                      kTcpReadTargetMs, on.steps.size());
    } else {
        figure.limitMs = judged.limitMs;
        figure.pass = judged.lineMs <= judged.allowedMs && judged.over == 0;
        std::snprintf(text, sizeof text,
                      "(%s%.1f ms = %.2f x limit; target %s+ 10 ms an exchange = %.1f; %d of %zu "
                      "exchanges over, worst %+.1f ms)",
                      serial ? "on a 19200 Bd line ~" : "", judged.lineMs,
                      judged.lineMs / judged.limitMs,
                      serial ? (activation ? "1.2 x wire + M-Bus " : "1.2 x wire ") : "M-Bus ",
                      judged.allowedMs, judged.over, on.steps.size(), judged.worstOverMs);
    }
    figure.verdict = text;
    const int offWanted = activation ? offRows : kRows;
    if (on.rows != kRows || off.rows != offWanted) {
        figure.pass = false;
        std::snprintf(text, sizeof text, "; rows off %d of %d, on %d of %d", off.rows, offWanted,
                      on.rows, kRows);
        figure.verdict += text;
    }
    CheckStall(figure);
    return figure;
}

void MeasureLink(Bench& bench, sim::SimEndpoint& endpoint, const char* linkName, bool serial) {
    const Run readOff = ReadTable(bench, endpoint, false);
    const Run readOn = ReadTable(bench, endpoint, true);
    PrintFigure(Compare(bench, "read table of 64 entries", linkName, serial, false, readOff,
                        readOff.ms, readOn, bench.offRows));
    size_t bytes = 0;
    for (const Step& step : readOn.steps)
        bytes += step.requestBytes + step.replyBytes;
    std::printf("  read, fast on: %zu exchanges, %zu bytes on the wire (%s)\n", readOn.steps.size(),
                bytes, serial ? "RTU" : "TCP with MBAP");

    const Run activateOff = ActivateRows(bench, endpoint, false, bench.offRows);
    const Run activateOn = ActivateRows(bench, endpoint, true, kRows);
    const double offScaled = activateOff.ms * kRows / bench.offRows;
    char what[64] = "activate 64 rows";
    if (bench.offRows != kRows)
        std::snprintf(what, sizeof what, "activate 64 rows (off: %d scaled)", bench.offRows);
    PrintFigure(Compare(bench, what, linkName, serial, true, activateOff, offScaled, activateOn,
                        bench.offRows));
    const Judged judged = Judge(bench, activateOn, serial);
    std::printf(
        "  activation, fast on: the simulator held the echoes %.0f ms in all, the meters take "
        "%.1f ms on the 2400 Bd M-Bus (computed); %.1f ms a row against %.1f; off: %d rows in "
        "%.0f ms, %.0f ms a row\n",
        judged.heldMs, judged.busMs, activateOn.ms / kRows, judged.limitMs / kRows, bench.offRows,
        activateOff.ms, activateOff.ms / bench.offRows);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int offRows = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, kRows) : 8;
    QString error;
    std::optional<sim::SimBus> bus = sim::SimBus::FromFile(sim::SimBus::kMeters64File, &error);
    if (!bus) {
        std::fprintf(stderr, "device_bench: %s\n", qPrintable(error));
        return 1;
    }
    RealClock clock;
    sim::SimGateway gateway(*bus, clock);
    if (gateway.ActivateAll() != kRows) {
        std::fprintf(stderr, "device_bench: the gateway does not activate %d meters\n", kRows);
        return 1;
    }
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
    GridModel devices(devicesGridLayout().headers);
    GridModel meters(loopsGridLayout().headers);
    GridModel registers(registersGridLayout().headers);
    QObject owner;
    Timer* timerFree = clock.createTimer(&owner, "Timer_free_command");
    Timer* timerModbus = clock.createTimer(&owner, "Timer_modbus");
    Timer* timerAuto = clock.createTimer(&owner, "Timer_auto");
    Timer* timerRead = clock.createTimer(&owner, "TimerReadDevices");
    Timer* timerActivate = clock.createTimer(&owner, "Timer_activateAll");
    CommandConsole console(link, *timerFree);
    RegisterView view(link, *timerModbus, *timerAuto);
    BusyRule busy;
    presenter.watch(console);
    presenter.watch(view, registers);
    DeviceTable table(link, devices, meters, console, view, busy, *timerRead);
    presenter.watch(table, devices);
    BulkActivation bulk(link, devices, busy, *timerActivate);
    presenter.watch(bulk);
    StallWatch watch;
    Bench bench{clock, log, link, devices, table, bulk, gateway, watch, MeterTimes(*bus), offRows};

    std::printf(
        "Fast replies off and on, simulated gateway on the 64-meter bus (2400 Bd), real clock. "
        "Read: slave %d, time-out %d ms, scan time %d ms, entries of %d registers. Activate: "
        "scan time %d ms, Retry 0; off %d rows%s. Limit: the bytes at 19200 Bd 8E1 (serial) "
        "plus, for an activation, the gateway's REQ_UD2, the meter's delay and its RSP_UD at "
        "2400 Bd (11 bits a byte). GUI stall: off / on\n",
        kSlave, kTimeoutMs, kReadScanMs, reg::kDeviceEntryRegisters, kActivationScanMs, offRows,
        offRows == kRows ? "" : ", scaled to 64");
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
        "A pseudo-terminal has no line rate: the pty lines are judged on the time measured "
        "plus the replies' wire time at 19200 Bd.\n");
    link.closeSerial();
    server.Stop();
    return 0;
}
