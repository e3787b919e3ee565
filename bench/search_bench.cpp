// Secondary address searches (FFFFFFFF) against the simulated bus at 2400 Bd,
// fast replies off and on side by side, over the in-process serial line
// (19200 8E1) and TCP, at scan time 300 ms and Retry 1: the eight default
// meters and the 64-meter bus, on the virtual clock. Each search is set
// against what its own selections and read-outs cost on the bus, and against
// the best its settings allow (only time tells silence, so an unanswered
// selection costs its scan time), with the masks, telegrams and meters it
// found, and where its time went.
#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <span>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "bench_support.h"
#include "gateway/presenter.h"
#include "link/gateway_link.h"
#include "no_dialogs.h"
#include "ops/busy_rule.h"
#include "ops/secondary_search.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

constexpr int kScanTimeMs = 300;
constexpr int kRetries = 1;
constexpr int kBusBaud = 2400;
constexpr size_t kSelectionBytes = 17;  // 68 0B 0B 68 53 FD 52, 8 address bytes, CS, 16
constexpr size_t kReqUd2Bytes = 5;
constexpr uint8_t kSelectionHead[] = {0x68, 0x0B, 0x0B, 0x68, 0x53, 0xFD, 0x52};
constexpr uint8_t kReadOut[] = {0x10, 0x7B, 0xFD, 0x78, 0x16};  // REQ_UD2 to FD

double BusMs(size_t bytes) {
    return static_cast<double>(bytes) * 11 * 1000 / kBusBaud;  // 11 bits a byte
}

// After a request, how long the bus must stay quiet before it counts as no answer.
constexpr double kAnswerWindowMs = 330.0 * 1000 / kBusBaud + 50;

// One M-Bus telegram of the search as it went over the wire.
struct Telegram {
    qint64 atMs = 0;
    bool selection = true;  // else a read-out
    uint32_t mask = 0;      // a selection's identification digits, F for any
};

struct Outcome {
    bool ended = false;
    qint64 startMs = 0;
    qint64 endMs = 0;
    int masks = 0;  // "Checking " lines
    std::vector<Telegram> telegrams;
    std::set<uint32_t> found;  // identification numbers listed in the grid

    double ms() const { return static_cast<double>(endMs - startMs); }
    int count(bool selections) const {
        return static_cast<int>(
            std::count_if(telegrams.begin(), telegrams.end(),
                          [&](const auto& t) { return t.selection == selections; }));
    }
};

std::optional<size_t> Find(std::span<const uint8_t> frame, std::span<const uint8_t> pattern) {
    const auto at = std::search(frame.begin(), frame.end(), pattern.begin(), pattern.end());
    if (at == frame.end()) return std::nullopt;
    return static_cast<size_t>(at - frame.begin());
}

std::vector<Telegram> TelegramsOf(const sim::SimEndpoint& endpoint) {
    std::vector<Telegram> telegrams;
    for (const sim::WireRecord& record : endpoint.Records()) {
        if (!record.request) continue;
        if (const auto head = Find(record.bytes, kSelectionHead)) {
            const size_t id = *head + std::size(kSelectionHead);
            if (id + 4 > record.bytes.size()) continue;
            uint32_t mask = 0;
            for (size_t i = 4; i-- > 0;)
                mask = mask << 8 | record.bytes[id + i];
            telegrams.push_back({record.atMs, true, mask});
        } else if (Find(record.bytes, kReadOut)) {
            telegrams.push_back({record.atMs, false, 0});
        }
    }
    return telegrams;
}

// One wildcard search with its own simulated gateway on a virtual clock.
Outcome Search(const std::vector<sim::SimMeter>& meters, bool tcpLink, bool fast) {
    VirtualClock clock;
    sim::SimBus bus(meters);
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
    SecondarySearch search(link, busy);
    presenter.watch(search, grid);
    Outcome outcome;
    if (tcpLink) {
        link.connectTcp("127.0.0.1", 502, 30);
        for (int step = 0; step < 1000 && !link.TcpMode(); ++step)
            clock.advance(10);
        if (!link.TcpMode()) return outcome;
    } else {
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    }
    link.setFastReplies(fast);
    sim::SimEndpoint& endpoint = tcpLink ? tcpEndpoint : rtu;
    endpoint.ClearRecords();
    QObject::connect(&search, &SecondarySearch::finished, &owner, [&] {
        outcome.endMs = clock.elapsed();
        outcome.ended = true;
    });
    outcome.startMs = clock.elapsed();
    if (!search.start("FFFFFFFF", {1, kScanTimeMs, kRetries}, true)) return outcome;
    const qint64 limit = outcome.startMs + 3'600'000;  // a search must not run on forever
    while (search.running() && clock.elapsed() < limit)
        clock.advance(10);
    if (search.running()) search.stop();
    while (search.running())
        clock.advance(10);
    clock.settle();
    clock.runUntilIdle(60'000);
    QCoreApplication::sendPostedEvents();
    for (const QString& line : log.lines())
        if (line.startsWith("Checking ")) ++outcome.masks;
    outcome.telegrams = TelegramsOf(endpoint);
    for (int row = 1; row < grid.rows(); ++row) {
        bool ok = false;
        const uint32_t id = grid.cell(row, 0).trimmed().toUInt(&ok, 16);
        if (ok) outcome.found.insert(id);
    }
    return outcome;
}

bool Matches(const sim::SimMeter& meter, uint32_t mask) {
    for (int shift = 0; shift < 32; shift += 4) {
        const uint32_t digit = mask >> shift & 0x0F;
        if (digit != 0x0F && digit != (meter.id >> shift & 0x0F)) return false;
    }
    return true;
}

// From the end of the write: a meter's acknowledgement of a selection is
// complete, and its RSP_UD to a REQ_UD2.
double AckEndMs(const sim::SimMeter& meter) {
    return BusMs(kSelectionBytes) + meter.replyDelayMs + meter.extraDelayMs + BusMs(1);
}
double ReadOutEndMs(const sim::SimMeter& meter) {
    return BusMs(kReqUd2Bytes) + meter.replyDelayMs + meter.extraDelayMs +
           BusMs(meter.RspUd().size());
}

// The kinds of telegram a search sends, and what they cost.
enum Kind { kUnanswered, kAnswered, kReadOuts, kKinds };
constexpr const char* kKindNames[kKinds] = {"unanswered selections", "answered selections",
                                            "read-outs"};

struct Share {
    int count = 0;
    double measuredMs = 0;  // from the telegram's write to the next one's
    double bestMs = 0;
    double busMs = 0;
};

struct Costs {
    std::array<Share, kKinds> shares;
    double leadInMs = 0;  // from start() to the first telegram
    double ackMs = 0;     // the answered selections up to their acknowledgement's end
    double bestMs() const {
        double sum = 0;
        for (const Share& share : shares)
            sum += share.bestMs;
        return sum;
    }
    double busMs() const {
        double sum = 0;
        for (const Share& share : shares)
            sum += share.busMs;
        return sum;
    }
};

// What the telegrams of `outcome` cost on the bus and at best at these settings.
Costs CostsOf(const std::vector<sim::SimMeter>& meters, const Outcome& outcome) {
    Costs costs;
    std::vector<const sim::SimMeter*> selected;
    const auto& telegrams = outcome.telegrams;
    if (!telegrams.empty())
        costs.leadInMs = static_cast<double>(telegrams[0].atMs - outcome.startMs);
    for (size_t i = 0; i < telegrams.size(); ++i) {
        const Telegram& telegram = telegrams[i];
        const qint64 next = i + 1 < telegrams.size() ? telegrams[i + 1].atMs : outcome.endMs;
        double busMs = 0;
        double bestMs = kScanTimeMs;  // what silence costs
        Kind kind = kReadOuts;
        if (telegram.selection) {
            selected.clear();
            double firstAck = 1e9;  // colliding acknowledgements come through as one
            for (const sim::SimMeter& meter : meters) {
                if (meter.silent || meter.baud != kBusBaud || !Matches(meter, telegram.mask))
                    continue;
                selected.push_back(&meter);
                firstAck = std::min(firstAck, AckEndMs(meter));
            }
            busMs = BusMs(kSelectionBytes) + kAnswerWindowMs;
            kind = firstAck <= kScanTimeMs ? kAnswered : kUnanswered;
            if (kind == kAnswered) {
                bestMs = busMs;
                costs.ackMs += firstAck;
            }
        } else if (selected.empty()) {
            busMs = BusMs(kReqUd2Bytes) + kAnswerWindowMs;
        } else {
            for (const sim::SimMeter* meter : selected)  // a collision: the longest answer
                busMs = std::max(busMs, ReadOutEndMs(*meter));
            if (busMs <= kScanTimeMs) bestMs = busMs;
        }
        Share& share = costs.shares[kind];
        ++share.count;
        share.measuredMs += static_cast<double>(next - telegram.atMs);
        share.bestMs += bestMs;
        share.busMs += busMs;
    }
    return costs;
}

void PrintCounts(const char* name, const Outcome& outcome, const Costs& costs, size_t meters) {
    std::printf(
        "    %-3s %7.1f s: %3d masks, %3d selections, %3d read-outs, %2zu/%zu meters listed; "
        "best %.1f s, bus limit %.1f s\n",
        name, outcome.ms() / 1000, outcome.masks, outcome.count(true), outcome.count(false),
        outcome.found.size(), meters, costs.bestMs() / 1000, costs.busMs() / 1000);
    std::printf("        lead-in %.0f ms", costs.leadInMs);
    for (int kind = 0; kind < kKinds; ++kind) {
        const Share& share = costs.shares[static_cast<size_t>(kind)];
        if (share.count == 0) continue;
        std::printf("; %d %s: %.0f ms (%.0f each), best %.0f, bus %.0f", share.count,
                    kKindNames[kind], share.measuredMs, share.measuredMs / share.count,
                    share.bestMs, share.busMs);
    }
    // An acknowledgement ends the wait for one: the best with that, for comparison.
    const double tighter = costs.bestMs() - costs.shares[kAnswered].bestMs + costs.ackMs;
    std::printf("; best with answered selections until their acknowledgement %.1f s (%.2f)\n",
                tighter / 1000, outcome.ms() / tighter);
}

// The meters the search with fast replies on did not list, and why when the bus tells.
void PrintMissing(const std::vector<sim::SimMeter>& meters, const Outcome& on) {
    for (const sim::SimMeter& meter : meters) {
        if (on.found.contains(meter.id)) continue;
        std::string why = "no reason on the bus";
        char text[120];
        if (meter.silent || meter.baud != kBusBaud) {
            why = "silent or not at 2400 Bd";
        } else if (AckEndMs(meter) > kScanTimeMs || ReadOutEndMs(meter) > kScanTimeMs) {
            std::snprintf(text, sizeof text,
                          "its acknowledgement ends %.0f ms, its RSP_UD %.0f ms after the write "
                          "(> %d ms)",
                          AckEndMs(meter), ReadOutEndMs(meter), kScanTimeMs);
            why = text;
        }
        std::printf("    not found: %08x (address %d): %s\n", meter.id, meter.address, why.c_str());
    }
}

Figure Compare(const std::string& what, const char* linkName, const Outcome& off, const Outcome& on,
               const Costs& onCosts, size_t meters) {
    Figure figure = OffAndOn(what, linkName, off.ms(), on.ms());
    const double best = onCosts.bestMs();
    figure.limitMs = best;
    const double target = 1.1 * best;
    std::string misses;
    if (!off.ended || !on.ended) misses += "a search never ended; ";
    if (on.ms() > target) misses += "slower than 1.1 x best; ";
    figure.pass = misses.empty();
    char text[200];
    std::snprintf(text, sizeof text,
                  "(on <= 1.1 x best = %.1f s) on/bus %.2f, off/best %.2f; listed on %zu/%zu, "
                  "off %zu/%zu",
                  target / 1000, on.ms() / onCosts.busMs(), off.ms() / best, on.found.size(),
                  meters, off.found.size(), meters);
    figure.verdict = misses + text;
    return figure;
}

// The spread of the meters' acknowledgements and read-outs on the bus.
void PrintBus(const char* name, const std::vector<sim::SimMeter>& meters) {
    double ackLow = 1e9, ackHigh = 0, readLow = 1e9, readHigh = 0;
    for (const sim::SimMeter& meter : meters) {
        ackLow = std::min(ackLow, AckEndMs(meter));
        ackHigh = std::max(ackHigh, AckEndMs(meter));
        readLow = std::min(readLow, ReadOutEndMs(meter));
        readHigh = std::max(readHigh, ReadOutEndMs(meter));
    }
    std::printf(
        "%s: %zu meters; acknowledgement complete %.0f..%.0f ms after the selection's write, "
        "RSP_UD %.0f..%.0f ms after the REQ_UD2's; a selection on the bus %.1f ms (wire %.1f + "
        "window %.1f)\n",
        name, meters.size(), ackLow, ackHigh, readLow, readHigh,
        BusMs(kSelectionBytes) + kAnswerWindowMs, BusMs(kSelectionBytes), kAnswerWindowMs);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<sim::SimBus> bus64 =
        sim::SimBus::FromFile(sim::SimBus::kMeters64File, &error);
    if (!bus64) {
        std::fprintf(stderr, "search_bench: %s\n", qPrintable(error));
        return 1;
    }
    const std::pair<const char*, std::vector<sim::SimMeter>> buses[] = {
        {"8 default meters", sim::SimBus::DefaultMeters()}, {"64-meter bus", bus64->meters()}};
    std::printf(
        "Secondary searches FFFFFFFF against the simulated bus at 2400 Bd, scan time %d ms, "
        "Retry %d, fast replies off and on; limit = the best the settings allow (an unanswered "
        "selection its scan time, an answered one and each read-out their time on the bus); "
        "virtual clock\n",
        kScanTimeMs, kRetries);
    for (const auto& [name, meters] : buses)
        PrintBus(name, meters);
    PrintFigureHeader();
    for (const auto& [name, meters] : buses) {
        for (const bool tcp : {false, true}) {
            const Outcome off = Search(meters, tcp, false);
            const Outcome on = Search(meters, tcp, true);
            const Costs offCosts = CostsOf(meters, off);
            const Costs onCosts = CostsOf(meters, on);
            PrintFigure(Compare(std::string("search, ") + name, tcp ? "TCP" : "serial", off, on,
                                onCosts, meters.size()));
            PrintCounts("off", off, offCosts, meters.size());
            PrintCounts("on", on, onCosts, meters.size());
            PrintMissing(meters, on);
        }
    }
    return 0;
}
