// Measures the serial port component on a pseudo-terminal:
//  - latency from a byte written by the peer to OnRxChar running on the
//    owner's thread, over 10 000 round trips (median and 99th percentile);
//  - CPU used by an idle open port over 10 s.
// Usage: serial_bench [round trips] [idle seconds]
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "serial/serial_port.h"

using namespace tarnel;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int trips = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 1;
    TSerialPort port;
    port.SetDeviceName(QString::fromLocal8Bit(ttyname(slave)));
    port.SetBaudrate(br19200);

    std::vector<double> latencies;
    latencies.reserve(trips);
    Clock::time_point sent;
    const auto sendByte = [&] {
        const char byte = 0x55;
        sent = Clock::now();
        if (write(master, &byte, 1) != 1) std::perror("write");
    };
    port.OnRxChar = [&](TCustomSerialPort& sender, int count) {
        const auto arrived = Clock::now();
        uint8_t buffer[64];
        sender.ReadBytes(buffer, std::min(count, 64));
        latencies.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
        if (static_cast<int>(latencies.size()) < trips)
            sendByte();
        else
            QCoreApplication::quit();
    };
    port.Open();
    QTimer::singleShot(0, sendByte);
    app.exec();
    std::printf("round trips: %zu\n", latencies.size());
    std::printf(
        "latency peer write -> OnRxChar on owner thread: median %.1f us, p99 %.1f us, max %.1f "
        "us\n",
        percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0));

    port.OnRxChar = nullptr;
    const double before = cpuSeconds();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double used = cpuSeconds() - before;
    std::printf("idle open port: %.1f ms CPU over %d s (%.3f%% of one core)\n", used * 1000,
                idleSeconds, used * 100 / idleSeconds);
    port.Close();
    close(master);
    close(slave);
    return 0;
}
