// Memory over a long run and under a flood, on the virtual clock against the
// in-process simulated gateway, over TCP and over the serial line (RTU), with
// the whole program (its link, operations, grids and log) built as the
// window builds it:
//  1. the automatic read at the window's defaults (125 input registers from
//     register 1, every second, time-out 600 ms, fast replies on) for eight
//     simulated hours, the log appending every line to a session file in a
//     temporary folder as the window's does: the reads, the log lines
//     produced and those still held in memory, and the process's resident
//     memory (VmRSS) at the start, every simulated hour and at its peak
//     (VmHWM);
//  2. 100 MB of random bytes arriving unasked, in chunks of 4 KB (a
//     millisecond of the clock per MB), while no exchange is in flight and
//     while a read waits for its reply (the gateway stays silent, time-out
//     20 s, the longest the window offers), each followed by a normal read:
//     the memory before, after and at its peak, and the longest log line the
//     flood left;
//  3. the same garbage for half an hour of the clock, 4 KB every 25 ms
//     (281 MB), while the automatic read runs: every read catches some and
//     logs it, so the log fills up to its bound; the memory after the first
//     quarter hour and growth over the second.
// The peak is restarted for each run (/proc/self/clear_refs), so each one
// shows its own; the heap's free memory is handed back before each. MB are
// 2^20 bytes.
// Usage: soak_bench [simulated hours] [flood MB]
#include <malloc.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/virtual_clock.h"
#include "gateway/program.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/response_parsers.h"
#include "no_dialogs.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;
using namespace tarnel::bench;

namespace {

// The window's defaults for "Read registers".
const RegisterView::ReadRequest kRead{1, 1, 125, true, 600};
constexpr int kReplyBytes = 3 + 2 * 125 + 2;  // unit, function, byte count, data, CRC
constexpr int kLongTimeoutMs = 20'000;        // the longest Modbus time-out the window offers
constexpr qsizetype kChunk = 4096;
// The flood during the automatic read: a chunk every 25 ms for half an hour.
constexpr int kChunkGapMs = 25;
constexpr long long kAutomaticFloodBytes = 30LL * 60 * 1000 / kChunkGapMs * kChunk;
// The flood may leave the tool this much above where it started.
constexpr double kFloodTargetMb = 4;
// Once the log is at its bound, the last half of the run may grow this much.
constexpr double kSoakTargetMb = 2;

// --- the process's memory --------------------------------------------------

struct Memory {
    double rssMb = 0;
    double peakMb = 0;
};

double FieldMb(const std::string& line) {
    return std::stod(line.substr(line.find(':') + 1)) / 1024;  // "VmRSS:   1234 kB"
}

Memory ReadMemory() {
    Memory memory;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) memory.rssMb = FieldMb(line);
        if (line.starts_with("VmHWM:")) memory.peakMb = FieldMb(line);
    }
    return memory;
}

// Hands the heap's free memory back to the system, so that what one run
// freed does not hide the next run's growth.
void TrimHeap() {
    malloc_trim(0);
}

// Restarts the peak (VmHWM) from the present resident size; false where the
// kernel does not allow it (the peak is then the process's since its start).
bool RestartPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// --- the program against the simulated gateway -------------------------------

// The whole program with in-memory transports wired to the simulated gateway
// and its default meters, on a virtual clock, over one of the two links.
class Rig {
public:
    Rig(bool overTcp, const QString& folder) : overTcp_(overTcp) {
        auto serial = std::make_unique<sim::InMemorySerial>(rtu_, clock_);
        auto tcp = std::make_unique<sim::InMemoryTcp>(tcpEndpoint_, clock_);
        serial_ = serial.get();
        tcp_ = tcp.get();
        program_ = std::make_unique<Program>(
            clock_, dialogs_, ProgramPaths{folder, folder + "/tarnel.ini", folder, folder},
            Transports{std::move(serial), std::move(tcp)});
        for (sim::SimEndpoint* endpoint : {&rtu_, &tcpEndpoint_})
            endpoint->SetObserver([this](const sim::WireRecord& record) {
                if (record.request) ++requests_;
            });
    }
    ~Rig() {
        for (sim::SimEndpoint* endpoint : {&rtu_, &tcpEndpoint_})
            endpoint->SetObserver({});
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    Program& program() { return *program_; }
    GatewayLink& link() { return program_->link(); }
    RegisterView& view() { return program_->registerView(); }
    sim::SimEndpoint& endpoint() { return overTcp_ ? tcpEndpoint_ : rtu_; }
    long requests() const { return requests_; }

    bool connectLink() {
        if (overTcp_)
            link().connectTcp(QStringLiteral("127.0.0.1"), 502, 30);
        else
            link().openSerial(SerialSettingsFromTexts("ttySIM", "19200", "Even", "1"));
        advance(10);
        return overTcp_ ? link().TcpMode() : link().SerialOpen();
    }

    // Moves the clock on by `ms`, a second at a time. The transports' reply
    // timers delete themselves later and the simulator records the wire:
    // neither is the tool's memory, so both are let go after every second.
    // The second call stands for the event loop that no bench runs here: only
    // a call for every kind of event drops the delivered ones from Qt's list
    // of posted events, which would otherwise grow by one entry a read.
    void advance(qint64 ms) {
        constexpr qint64 kSliceMs = 1000;
        for (qint64 done = 0; done < ms; done += kSliceMs) {
            clock_.advance(std::min(kSliceMs, ms - done));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::sendPostedEvents();
            endpoint().ClearRecords();
        }
    }

    // Bytes arriving at the tool unasked, handed over as the port or socket
    // hands over whatever comes in (the in-memory transports only ever
    // carry the gateway's replies).
    void deliver(const QByteArray& bytes) {
        if (overTcp_)
            emit tcp_->received(bytes);
        else
            emit serial_->received(bytes);
    }

private:
    const bool overTcp_;
    VirtualClock clock_;
    sim::SimBus bus_{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway_{bus_, clock_};
    sim::SimEndpoint rtu_{gateway_, clock_, sim::Framing::Rtu};
    sim::SimEndpoint tcpEndpoint_{gateway_, clock_, sim::Framing::Tcp};
    NoDialogs dialogs_;
    sim::InMemorySerial* serial_ = nullptr;
    sim::InMemoryTcp* tcp_ = nullptr;
    std::unique_ptr<Program> program_;
    long requests_ = 0;  // as the gateway received them
};

// What the log was given, line by line.
class LogCount {
public:
    explicit LogCount(Log& log) : log_(log) {
        connection_ = QObject::connect(&log, &Log::lineAppended,
                                       [this](const QString& line) { count(line); });
    }
    ~LogCount() { QObject::disconnect(connection_); }
    LogCount(const LogCount&) = delete;
    LogCount& operator=(const LogCount&) = delete;

    long lines = 0;
    long long characters = 0;
    long long longest = 0;
    long reads = 0;    // "Read registers" sent
    long replies = 0;  // whole replies of 125 registers logged

    // Characters the log holds in memory.
    long long heldCharacters() const {
        long long held = 0;
        for (const QString& line : log_.lines())
            held += line.size();
        return held;
    }

private:
    void count(const QString& line) {
        ++lines;
        characters += line.size();
        longest = std::max<long long>(longest, line.size());
        if (line.startsWith(QLatin1String("Reading free number of registers"))) ++reads;
        if (line.size() == replyLineSize_ && line.startsWith(QLatin1String("RCVD:"))) ++replies;
    }

    Log& log_;
    const qsizetype replyLineSize_ = RcvdLine(QByteArray(kReplyBytes, 0)).size();
    QMetaObject::Connection connection_;
};

void PrintMemory(const char* what, const Memory& start, const Memory& end) {
    std::printf("  %s: RSS %.1f MB at the start, %.1f MB after (%+.1f), peak %.1f MB (%+.1f)\n",
                what, start.rssMb, end.rssMb, end.rssMb - start.rssMb, end.peakMb,
                end.peakMb - start.rssMb);
}

// --- 1. the automatic read ---------------------------------------------------

bool Soak(bool overTcp, int hours) {
    const char* name = overTcp ? "TCP" : "RTU";
    QTemporaryDir folder;
    Rig rig(overTcp, folder.path());
    Log& log = rig.program().log();
    if (!log.startSession(folder.filePath("sessions")) || !rig.connectLink()) {
        std::fprintf(stderr, "%s: no session file or no link\n", name);
        return false;
    }
    RegisterView& view = rig.view();
    QObject::connect(&view, &RegisterView::automaticRead, &view, [&view] { view.read(kRead); });
    view.setAutomaticPeriod(1);
    LogCount count(log);
    QElapsedTimer took;
    took.start();
    TrimHeap();
    RestartPeak();
    const Memory start = ReadMemory();
    view.setAutomatic(true);
    std::printf("Automatic read over %s, %d simulated hours:\n", name, hours);
    std::vector<double> hourly{start.rssMb};
    for (int hour = 1; hour <= hours; ++hour) {
        rig.advance(3'600'000);
        hourly.push_back(ReadMemory().rssMb);
        std::printf(
            "  hour %d: %ld reads, %ld replies; log %ld lines produced, %lld held in memory "
            "(%lld characters); RSS %.1f MB\n",
            hour, count.reads, count.replies, count.lines,
            static_cast<long long>(log.lines().size()), count.heldCharacters(), hourly.back());
    }
    view.setAutomatic(false);
    rig.advance(1000);
    const Memory end = ReadMemory();
    const auto sessionBytes = QFileInfo(log.sessionFile()).size();
    std::printf(
        "  %ld reads, %ld whole replies, %ld log lines produced (%lld characters), %lld held in "
        "memory (%lld characters, bounds %lld lines / %lld characters), %lld dropped; session "
        "file %.1f MB; %.1f s\n",
        count.reads, count.replies, count.lines, count.characters,
        static_cast<long long>(log.lines().size()), count.heldCharacters(),
        static_cast<long long>(Log::kMaxLines), static_cast<long long>(Log::kMaxCharacters),
        static_cast<long long>(log.droppedLines()), static_cast<double>(sessionBytes) / 1e6,
        static_cast<double>(took.elapsed()) / 1000);
    PrintMemory(name, start, end);
    const double lastHalf = hourly.back() - hourly[hourly.size() / 2];
    const bool pass = count.replies == count.reads && count.reads >= hours * 3600 - 1 &&
                      log.lines().size() <= Log::kMaxLines &&
                      count.heldCharacters() <= Log::kMaxCharacters && lastHalf <= kSoakTargetMb;
    std::printf(
        "  %s: every read answered, log within its bounds, RSS over the last half %+.1f MB "
        "(target <= %.0f)\n",
        pass ? "PASS" : "MISS", lastHalf, kSoakTargetMb);
    return pass;
}

// --- 2. the flood --------------------------------------------------------------

void Fill(QByteArray& chunk, std::mt19937_64& random) {
    for (qsizetype i = 0; i < chunk.size(); i += 8) {
        const uint64_t bits = random();
        std::memcpy(chunk.data() + i, &bits, 8);
    }
}

// When the garbage comes.
enum class During { Idle, ReadWaiting, AutomaticRead };

const char* DuringText(During during) {
    switch (during) {
        case During::Idle:
            return "no exchange in flight";
        case During::ReadWaiting:
            return "while a read waits for its reply";
        case During::AutomaticRead:
            return "during the automatic read, 4 KB every 25 ms for 30 min";
    }
    return "";
}

// `bytes` of garbage in chunks; `gapMs` of the clock after each chunk, or a
// millisecond per MB when 0.
void Flood(Rig& rig, long long bytes, int gapMs, std::mt19937_64& random) {
    QByteArray chunk(kChunk, Qt::Uninitialized);
    constexpr long long kChunksPerMb = (1 << 20) / kChunk;
    for (long long chunks = 0; chunks * kChunk < bytes; ++chunks) {
        Fill(chunk, random);
        rig.deliver(chunk);
        if (gapMs > 0)
            rig.advance(gapMs);
        else if (chunks % kChunksPerMb == kChunksPerMb - 1)
            rig.advance(1);
    }
}

// A read at the defaults, answered whole.
bool ReadAnswered(Rig& rig, const LogCount& count) {
    const long before = count.replies;
    rig.view().read(kRead);
    rig.advance(1000);
    return count.replies == before + 1;
}

// Starts a read the gateway takes and leaves unanswered: it waits for its
// time-out.
void StartUnansweredRead(Rig& rig) {
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoReply;
    rig.endpoint().faults().Add(silent);
    const long requests = rig.requests();
    rig.view().read({kRead.slave, kRead.start, kRead.count, kRead.input, kLongTimeoutMs});
    while (rig.requests() == requests)
        rig.advance(1);
    rig.advance(20);  // its frame has left: the exchange is in flight
}

bool FloodOne(bool overTcp, During during, long long bytes) {
    const char* name = overTcp ? "TCP" : "RTU";
    QTemporaryDir folder;
    Rig rig(overTcp, folder.path());
    Log& log = rig.program().log();
    if (!log.startSession(folder.filePath("sessions")) || !rig.connectLink()) return false;
    RegisterView& view = rig.view();
    QObject::connect(&view, &RegisterView::automaticRead, &view, [&view] { view.read(kRead); });
    std::mt19937_64 random(overTcp ? 1 : 2);
    LogCount count(log);
    QElapsedTimer took;
    TrimHeap();
    RestartPeak();
    const Memory start = ReadMemory();
    took.start();
    if (during == During::ReadWaiting) StartUnansweredRead(rig);
    view.setAutomatic(during == During::AutomaticRead);
    // In two halves: under the automatic read the log fills up to its bound
    // within the first (in some 10 minutes over TCP), and the second shows
    // whether anything else grows.
    const int gapMs = during == During::AutomaticRead ? kChunkGapMs : 0;
    Flood(rig, bytes / 2, gapMs, random);
    const Memory middle = ReadMemory();
    Flood(rig, bytes - bytes / 2, gapMs, random);
    const double floodSeconds = static_cast<double>(took.elapsed()) / 1000;
    const bool waiting = during != During::ReadWaiting || rig.link().busy(&view);
    // Its time-out, then the serial line's settle: quiet for a time-out.
    if (during == During::ReadWaiting) rig.advance(2 * kLongTimeoutMs + GatewayLink::kLateMarginMs);
    view.setAutomatic(false);
    rig.advance(1000);
    const bool answered = ReadAnswered(rig, count);
    const Memory end = ReadMemory();
    std::printf(
        "%.0f MB of random bytes over %s, %s: %.2f s; read in flight until its time-out: %s; "
        "a read after it answered: %s; log %ld lines (%.1f M characters), the longest %lld "
        "characters, %lld held in memory (%.1f M characters); session file %.1f MB\n",
        static_cast<double>(bytes) / (1 << 20), name, DuringText(during), floodSeconds,
        during == During::ReadWaiting ? (waiting ? "yes" : "NO") : "-", answered ? "yes" : "NO",
        count.lines, static_cast<double>(count.characters) / 1e6, count.longest,
        static_cast<long long>(log.lines().size()),
        static_cast<double>(count.heldCharacters()) / 1e6,
        static_cast<double>(QFileInfo(log.sessionFile()).size()) / 1e6);
    PrintMemory(name, start, end);
    const double grew = std::max(end.rssMb, end.peakMb) - start.rssMb;
    if (during != During::AutomaticRead) {
        const bool pass = waiting && answered && grew <= kFloodTargetMb;
        std::printf("  %s: peak %+.1f MB over the start (target <= %.0f)\n", pass ? "PASS" : "MISS",
                    grew, kFloodTargetMb);
        return pass;
    }
    // Read after read, the garbage each one caught is logged: the log fills up
    // to its bound, as it does in hours of normal reads; beyond that nothing
    // may grow.
    const double secondHalf = end.rssMb - middle.rssMb;
    const bool pass = answered && log.lines().size() <= Log::kMaxLines &&
                      count.heldCharacters() <= Log::kMaxCharacters && secondHalf <= kSoakTargetMb;
    std::printf(
        "  %s: log within its bounds, RSS %.1f MB after the first half, over the second half "
        "%+.1f MB (target <= %.0f)\n",
        pass ? "PASS" : "MISS", middle.rssMb, secondHalf, kSoakTargetMb);
    return pass;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int hours = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    const long long floodBytes = (argc > 2 ? std::max(1, std::atoi(argv[2])) : 100) * (1LL << 20);
    const Memory process = ReadMemory();
    std::printf("Process at the start: RSS %.1f MB; peak per run restartable: %s\n", process.rssMb,
                RestartPeak() ? "yes" : "no (peaks since the start)");
    bool pass = true;
    for (const bool overTcp : {true, false})
        pass = Soak(overTcp, hours) && pass;
    for (const bool overTcp : {true, false})
        for (const During during : {During::Idle, During::ReadWaiting, During::AutomaticRead})
            pass = FloodOne(overTcp, during,
                            during == During::AutomaticRead ? kAutomaticFloodBytes : floodBytes) &&
                   pass;
    std::printf("%s\n", pass ? "All PASS" : "Some MISS");
    return pass ? 0 : 1;
}
