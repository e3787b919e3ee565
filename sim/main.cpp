// tarnel-sim: the simulated Corvane-64 gateway with M-Bus meters behind it,
// on Modbus TCP and/or Modbus RTU.
#include <QCoreApplication>
#include <QDateTime>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/real_clock.h"
#include "sim/line_settings.h"
#include "sim/modbus_server.h"
#include "sim/scenario.h"
#include "sim/sim_bus.h"
#include "sim/sim_gateway.h"

using namespace tarnel;
using namespace tarnel::sim;

namespace {

constexpr const char* kHelp = R"(Usage: tarnel-sim [--tcp PORT] [--pty | --rtu DEVICE] [--unit N]
                  [--baud N] [--parity none|even|odd] [--stop-bits 1|2] [--plain]
                  [--meters FILE] [--scenario FILE] [--fault FAULT]... [-v]

The simulated Corvane-64 M-Bus/Modbus gateway with meters behind it.

  --tcp PORT       Modbus TCP on 127.0.0.1:PORT (0: a free port)
  --host ADDRESS   listen on ADDRESS instead of 127.0.0.1
  --pty            Modbus RTU on a new pseudo-terminal (open the printed path)
  --rtu DEVICE     Modbus RTU on a serial device (19200 8E1 unless --baud,
                   --parity or --stop-bits say otherwise)
  --unit N         the gateway's Modbus address, 0 to 254 (default 1; 0 answers
                   every unit id)
  --baud N, --parity none|even|odd, --stop-bits 1|2
                   the gateway's serial line (default 19200, even, 1). Given
                   with --pty, only a client that set this line on the
                   pseudo-terminal is answered; a client at another speed,
                   parity or stop bits gets garbled bytes for every request
                   (the parity is told by PARODD and INPCK, which tarnel sets
                   with a parity). Without them --pty answers any line.
  --plain          a plain Modbus device, not a gateway: it answers function
                   3 (every holding register 0) and refuses everything else
                   with exception 1, the device identification too
  --meters FILE    the meters on the bus (JSON, see below); default: a demo set
  --scenario FILE  unit, entry size, meter file, activated meters and faults
                   (JSON); sim/scenario64.json: 64 meters, all activated
  --fault FAULT    a fault: KIND[,count=N][,function=F][,register=R][,value=V]
                   KIND: no-reply, crc, filler, leading-zero, exception (value =
                   code), delay (value = ms), split (value = gap ms), short-tcp,
                   close, double (the reply twice in one write), wrong-tid (TCP:
                   transaction id + 1), wrong-unit (unit value, default the
                   request's + 1), stale (the previous request's reply
                   again); count -1 = every matching request
  -v               print every request and reply as hex on standard error

With neither --tcp nor a serial option it listens on TCP port 1502. Once ready
it prints one line per endpoint on standard output ("tcp 127.0.0.1:PORT",
"rtu /dev/pts/N") and serves until SIGINT or SIGTERM.

Meter file:
  {"meters": [{"address": 1, "id": "12345678", "manufacturer": "ABC",
               "version": 1, "medium": 7, "status": 0, "baud": 2400,
               "records": "04 13 10 27 00 00", "replyDelayMs": 30,
               "silent": false, "wrongChecksum": false, "extraDelayMs": 0}]}
Scenario file ("activate" may also be "all"; --unit and --meters win):
  {"unit": 1, "entryRegisters": 28, "meters": "meters64.json",
   "activate": [1, 2, 3],
   "faults": [{"kind": "crc", "count": 2, "function": 4, "register": 33799}]}
See docs/SIMULATOR.md.
)";

struct Options {
    std::optional<int> tcpPort;
    std::string host = "127.0.0.1";
    bool pty = false;
    std::string rtuDevice;
    std::optional<int> unit;
    std::optional<LineSettings> line;  // --baud, --parity, --stop-bits
    bool plain = false;
    QString metersFile;
    QString scenarioFile;
    std::vector<Fault> faults;
    bool verbose = false;
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "tarnel-sim: " << problem << "\n" << kHelp;
    std::exit(2);
}

template <typename Number>
void setLine(Options& options, const std::string& arg, const std::string& text,
             const Number& number) {
    LineSettings& line = options.line ? *options.line : options.line.emplace();
    if (arg == "--baud") {
        line.baudrate = number(text);
        if (line.baudrate < 50 || line.baudrate > 4000000) usage("--baud takes 50 to 4000000");
    } else if (arg == "--parity") {
        const std::optional<char> parity = ParityLetter(text);
        if (!parity) usage("--parity takes none, even or odd");
        line.parity = *parity;
    } else {
        line.stopBits = number(text);
        if (line.stopBits != 1 && line.stopBits != 2) usage("--stop-bits takes 1 or 2");
    }
}

Options parse(const std::vector<std::string>& args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) usage(arg + " needs a value");
            return args[++i];
        };
        const auto number = [&](const std::string& text) {
            try {
                return std::stoi(text);
            } catch (const std::exception&) {
                usage("'" + text + "' is not a number");
            }
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            std::exit(0);
        } else if (arg == "--tcp")
            options.tcpPort = number(value());
        else if (arg == "--host")
            options.host = value();
        else if (arg == "--pty")
            options.pty = true;
        else if (arg == "--rtu")
            options.rtuDevice = value();
        else if (arg == "--unit")
            options.unit = number(value());
        else if (arg == "--baud" || arg == "--parity" || arg == "--stop-bits")
            setLine(options, arg, value(), number);
        else if (arg == "--plain")
            options.plain = true;
        else if (arg == "--meters")
            options.metersFile = QString::fromStdString(value());
        else if (arg == "--scenario")
            options.scenarioFile = QString::fromStdString(value());
        else if (arg == "--fault") {
            std::string error;
            const auto fault = ParseFault(value(), &error);
            if (!fault) usage(error);
            options.faults.push_back(*fault);
        } else if (arg == "-v")
            options.verbose = true;
        else
            usage("unknown option " + arg);
    }
    if (options.unit && (*options.unit < 0 || *options.unit > SimGateway::kLastUnitAddress))
        usage("--unit takes 0 to 254");
    if (!options.tcpPort && !options.pty && options.rtuDevice.empty()) options.tcpPort = 1502;
    return options;
}

void printRecord(const char* link, const WireRecord& record) {
    std::string hex;
    char digits[4];
    for (const uint8_t byte : record.bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        hex += digits;
    }
    std::fprintf(stderr, "%s %s %s %s\n",
                 QTime::currentTime().toString("HH:mm:ss.zzz").toLatin1().constData(), link,
                 record.request ? ">" : "<", hex.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parse(std::vector<std::string>(argv + 1, argv + argc));

    // Block the stop signals before any thread starts; main waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QString error;
    Scenario scenario;
    if (!options.scenarioFile.isEmpty()) {
        std::optional<Scenario> loaded = LoadScenario(options.scenarioFile, &error);
        if (!loaded) usage(error.toStdString());
        scenario = std::move(*loaded);
    }
    if (!options.metersFile.isEmpty()) scenario.metersFile = options.metersFile;
    std::optional<std::vector<SimMeter>> meters = ScenarioMeters(scenario, &error);
    if (!meters) usage(error.toStdString());

    RealClock clock;
    SimBus bus(std::move(*meters));
    SimGateway gateway(bus, clock);
    SimEndpoint tcp(gateway, clock, Framing::Tcp);
    SimEndpoint rtu(gateway, clock, Framing::Rtu);
    (void)ApplyScenario(scenario, gateway);
    if (options.unit) gateway.SetUnitAddress(static_cast<uint8_t>(*options.unit));
    gateway.SetPlain(options.plain);
    if (options.pty) rtu.SetLine(options.line);
    for (const Fault& fault : options.faults) {
        tcp.faults().Add(fault);
        rtu.faults().Add(fault);
    }
    for (const Fault& fault : scenario.faults) {
        tcp.faults().Add(fault);
        rtu.faults().Add(fault);
    }
    if (options.verbose) {
        tcp.SetObserver([](const WireRecord& record) { printRecord("tcp", record); });
        rtu.SetObserver([](const WireRecord& record) { printRecord("rtu", record); });
    }

    ModbusServer server(tcp, rtu);
    try {
        if (options.tcpPort) {
            const int port = server.ListenTcp(options.host, *options.tcpPort);
            std::printf("tcp %s:%d\n", options.host.c_str(), port);
        }
        if (options.pty) std::printf("rtu %s\n", server.ServePty().c_str());
        if (!options.rtuDevice.empty()) {
            const LineSettings line = options.line.value_or(LineSettings{});
            server.ServeSerial(options.rtuDevice, line.baudrate, line.parity, line.stopBits);
            std::printf("rtu %s\n", options.rtuDevice.c_str());
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tarnel-sim: %s\n", failure.what());
        return 1;
    }
    std::fflush(stdout);
    server.Start();
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
