// Measures the simulated gateway over loopback TCP: requests answered per
// second (function 4, 125 registers, one client, one request at a time) and
// the median reply latency.
// Usage: sim_bench [requests]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "base/real_clock.h"
#include "sim/modbus_server.h"

using namespace tarnel;
using namespace tarnel::sim;
using Wall = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::atoi(argv[1]) : 5000;
    RealClock clock;
    SimBus bus(SimBus::DefaultMeters());
    SimGateway gateway(bus, clock);
    SimEndpoint tcp(gateway, clock, Framing::Tcp);
    SimEndpoint rtu(gateway, clock, Framing::Rtu);
    ModbusServer server(tcp, rtu);
    const int port = server.ListenTcp("127.0.0.1", 0);
    server.Start();

    const int client = socket(AF_INET, SOCK_STREAM, 0);
    const int noDelay = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;

    // Read input registers 1..125 (the device table) from unit 1.
    std::vector<double> latencies;
    uint8_t reply[512];
    const auto begin = Wall::now();
    for (int i = 0; i < requests; ++i) {
        const uint8_t request[] = {
            static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0, 0, 0, 6, 1, 4, 0, 1, 0, 125};
        const auto sent = Wall::now();
        if (write(client, request, sizeof request) != sizeof request) return 1;
        size_t got = 0;
        while (got < 9 + 250) {
            const ssize_t n = read(client, reply + got, sizeof reply - got);
            if (n <= 0) return 1;
            got += static_cast<size_t>(n);
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(Wall::now() - sent).count());
    }
    const double seconds = std::chrono::duration<double>(Wall::now() - begin).count();
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "%d requests (function 4, 125 registers) over loopback TCP: %.0f requests/s, median %.1f "
        "us, p99 %.1f us\n",
        requests, requests / seconds, latencies[latencies.size() / 2],
        latencies[latencies.size() * 99 / 100]);
    close(client);
    server.Stop();
    return 0;
}
