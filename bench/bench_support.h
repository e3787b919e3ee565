#pragma once

// What the link, gateway and scan benches share: the longest stall of the
// GUI thread, waiting on the event loop, medians, and the one line a figure
// is printed on.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnel::bench {

// The GUI thread's own CPU time so far, in nanoseconds.
inline qint64 ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The largest gap between two ticks of a timer on the GUI thread since the
// last reset(): how long the thread was kept from its events (at least the
// interval). Interval 0 ticks on every turn of the event loop, for
// microsecond resolution at the price of a busy thread. Beside the wall
// time, the thread's own CPU time in the gap: what the program kept it
// busy with, whatever else the machine ran meanwhile.
class StallWatch {
public:
    explicit StallWatch(int intervalMs = 1) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { tick(); });
        clock_.start();
        timer_.start(intervalMs);
    }
    StallWatch(const StallWatch&) = delete;
    StallWatch& operator=(const StallWatch&) = delete;

    void reset() {
        last_ = clock_.nsecsElapsed();
        longest_ = 0;
        lastCpu_ = ThreadCpuNs();
        longestCpu_ = 0;
        startCpu_ = lastCpu_;
    }
    // The most CPU time the thread spent between two ticks.
    double longestCpuMs() const {
        return static_cast<double>(std::max(longestCpu_, ThreadCpuNs() - lastCpu_)) / 1e6;
    }
    // The thread's CPU time since reset().
    double cpuMs() const { return static_cast<double>(ThreadCpuNs() - startCpu_) / 1e6; }
    // A stall still going on when asked counts too.
    double longestMs() const {
        return static_cast<double>(std::max(longest_, clock_.nsecsElapsed() - last_)) / 1e6;
    }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
        const qint64 cpu = ThreadCpuNs();
        longestCpu_ = std::max(longestCpu_, cpu - lastCpu_);
        lastCpu_ = cpu;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    qint64 lastCpu_ = ThreadCpuNs();
    qint64 longestCpu_ = 0;
    qint64 startCpu_ = lastCpu_;
};

// Runs the event loop until `done`; false when it took more than `limitMs`
// (a bench must not hang on a broken build).
inline bool WaitFor(const std::function<bool()>& done, int limitMs = 120'000) {
    bool late = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &limit, [&late] { late = true; });
    limit.start(limitMs);
    while (!done()) {
        if (late) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs an event loop until `done`, looked at again on each `signal` of
// `sender`; false when it is not done within `limitMs`. Unlike a poll it
// wakes only for events, so it takes nothing from the figures.
template <typename Sender, typename Signal>
bool WaitOn(const Sender* sender, Signal signal, const std::function<bool()>& done,
            int limitMs = 120'000) {
    if (done()) return true;
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// The longest gap a watch at `intervalMs` sees on an idle event loop within
// `forMs`: what the machine's scheduler alone costs, for comparison.
inline double IdleStallMs(int intervalMs, int forMs = 1000) {
    StallWatch watch(intervalMs);
    QTimer span;
    span.setSingleShot(true);
    span.start(forMs);
    watch.reset();
    WaitFor([&span] { return !span.isActive(); });
    return watch.longestMs();
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One measured figure, fast replies off and on.
struct Figure {
    std::string what;
    std::string link;
    double offMs = 0;
    double onMs = 0;
    std::optional<double> limitMs;     // the wire's (or the settings') limit; none on TCP
    std::optional<double> stallOffMs;  // longest GUI stall; none on the virtual clock
    std::optional<double> stallOnMs;
    bool pass = true;
    std::string verdict;  // the target, and what missed it
};

// A figure measured with fast replies off and on.
inline Figure OffAndOn(std::string what, std::string link, double offMs, double onMs) {
    Figure figure;
    figure.what = std::move(what);
    figure.link = std::move(link);
    figure.offMs = offMs;
    figure.onMs = onMs;
    return figure;
}

inline void PrintFigureHeader() {
    std::printf("%-33s %-6s %11s %10s %9s %10s %8s %15s  %s\n", "what", "link", "off ms", "on ms",
                "speed-up", "limit ms", "on/limit", "GUI stall ms", "target");
}

inline void PrintFigure(const Figure& figure) {
    const auto optional = [](const std::optional<double>& value, const char* format) {
        char text[32] = "-";
        if (value) std::snprintf(text, sizeof text, format, *value);
        return std::string(text);
    };
    const std::string stall =
        figure.stallOffMs || figure.stallOnMs
            ? optional(figure.stallOffMs, "%.1f") + " / " + optional(figure.stallOnMs, "%.1f")
            : std::string("- (virtual)");
    const std::optional<double> ratio = figure.limitMs && *figure.limitMs > 0
                                            ? std::optional<double>(figure.onMs / *figure.limitMs)
                                            : std::nullopt;
    std::printf("%-33s %-6s %11.1f %10.2f %8.1fx %10s %8s %15s  %s %s\n", figure.what.c_str(),
                figure.link.c_str(), figure.offMs, figure.onMs,
                figure.onMs > 0 ? figure.offMs / figure.onMs : 0.0,
                optional(figure.limitMs, "%.1f").c_str(), optional(ratio, "%.2f").c_str(),
                stall.c_str(), figure.pass ? "PASS" : "MISS", figure.verdict.c_str());
    std::fflush(stdout);
}

// The GUI thread's target: never blocked more than this.
constexpr double kStallTargetMs = 20;

// Adds the stall target to `figure`.
inline void CheckStall(Figure& figure) {
    const double worst = std::max(figure.stallOffMs.value_or(0), figure.stallOnMs.value_or(0));
    if (worst <= kStallTargetMs) return;
    figure.pass = false;
    char text[64];
    std::snprintf(text, sizeof text, "; GUI stalled %.1f ms > %.0f", worst, kStallTargetMs);
    figure.verdict += text;
}

}  // namespace tarnel::bench
