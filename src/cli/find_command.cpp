#include "cli/find_command.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <iostream>
#include <optional>

#include "base/csv_text.h"
#include "base/real_clock.h"
#include "cli/cli_session.h"
#include "cli/command_table.h"
#include "cli/gateway_options.h"
#include "cli/interrupt.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "ops/gateway_finder.h"
#include "serial/device_names.h"

namespace tarnel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnel-cli find [--serial PORT...] [--tcp HOSTS[:PORT]...] [--all] [--json]\n"
    "       [--baud N] [--parity none|even|odd] [--stop-bits 1|2] [--unit N]\n"
    "       [--timeout MS] [-q]\n"
    "  HOSTS is a host, or a range of addresses on one port: 192.168.1.1-254:502;\n"
    "  --timeout: the wait for each TCP unit's answer (default 100 ms)\n";

struct FindOptions {
    GatewayFinder::Settings settings;
    bool json = false, quiet = false;
};

QString parityText(const std::string& text) {
    const std::string word = FoldedWord(text);
    if (word == "none") return QStringLiteral("None");
    if (word == "even") return QStringLiteral("Even");
    if (word == "odd") return QStringLiteral("Odd");
    throw UsageError{"--parity takes none, even or odd: " + text};
}

// "HOSTS[:PORT]" into the hosts and the port of the settings.
void addHosts(GatewayFinder::Settings& settings, const std::string& argument) {
    const QString text = QString::fromStdString(argument);
    const QString port = text.section(':', 1);
    const std::optional<QStringList> hosts = HostRange(text.section(':', 0, 0));
    const std::optional<int> number = TcpPortFromText(port);
    if (!hosts || !number || text.count(':') > 1)
        throw UsageError{"--tcp takes HOST[:PORT] or A.B.C.X-Y[:PORT]: " + argument};
    settings.tcpHosts += *hosts;
    settings.tcpPort = static_cast<uint16_t>(*number);
}

FindOptions parse(const std::vector<std::string>& args) {
    FindOptions options;
    std::string baud = "19200", stop = "1";
    QString parity = QStringLiteral("Even");
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        if (arg == "--serial") {
            options.settings.serialPorts << QString::fromStdString(value());
            while (i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0)
                options.settings.serialPorts << QString::fromStdString(args[++i]);
        } else if (arg == "--tcp") {
            addHosts(options.settings, value());
        } else if (arg == "--all") {
            options.settings.all = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "-q") {
            options.quiet = true;
        } else if (arg == "--baud") {
            baud = std::to_string(InRange(value(), "--baud", 50, 4000000));
        } else if (arg == "--parity") {
            parity = parityText(value());
        } else if (arg == "--stop-bits") {
            stop = std::to_string(InRange(value(), "--stop-bits", 1, 2));
        } else if (arg == "--timeout") {
            options.settings.tcpTimeoutMs = InRange(value(), "--timeout", 10, 20000);
        } else if (arg == "--unit") {
            options.settings.currentUnit = InRange(value(), "--unit", 1, 247);
        } else {
            throw UsageError{"unknown option " + arg};
        }
    }
    options.settings.currentLine = SerialSettingsFromTexts(QString(), QString::fromStdString(baud),
                                                           parity, QString::fromStdString(stop))
                                       .line;
    if (options.settings.serialPorts.isEmpty() && options.settings.tcpHosts.isEmpty())
        options.settings.serialPorts = listSearchPorts();
    return options;
}

std::string lineParity(const SerialTransport::Line& line) {
    return LineName(line).section(' ', 1, 1).toStdString();
}

// Link;Port;Speed;Parity;Stop bits;Address;Vendor;Product;Version;Active devices;
std::vector<std::string> cells(const FoundDevice& device) {
    const bool tcp = device.tcp;
    return {tcp ? "TCP" : "RTU",
            device.port.toStdString() + (tcp ? ":" + std::to_string(device.tcpPort) : ""),
            tcp ? "" : std::to_string(device.line.baudrate),
            tcp ? "" : lineParity(device.line),
            tcp ? "" : std::to_string(device.line.stopBits),
            std::to_string(device.unit),
            device.identification.vendor.toStdString(),
            device.identification.product.toStdString(),
            device.identification.version.toStdString(),
            std::to_string(device.activeDevices)};
}

QJsonObject json(const FoundDevice& device) {
    QJsonObject object{{"link", device.tcp ? "tcp" : "rtu"},
                       {"port", device.port},
                       {"address", device.unit},
                       {"vendor", device.identification.vendor},
                       {"product", device.identification.product},
                       {"version", device.identification.version},
                       {"activeDevices", device.activeDevices}};
    if (device.tcp) {
        object.insert("tcpPort", device.tcpPort);
    } else {
        object.insert("baud", device.line.baudrate);
        object.insert("parity", QString::fromStdString(lineParity(device.line)));
        object.insert("stopBits", device.line.stopBits);
    }
    return object;
}

void print(const FoundDevice& device, bool asJson) {
    if (asJson) {
        std::cout << QJsonDocument(json(device)).toJson(QJsonDocument::Compact).toStdString()
                  << "\n";
        return;
    }
    const std::vector<std::string> row = cells(device);
    std::cout << csv::Row(row, "\n") << std::flush;
}

std::string place(const FoundDevice& device) {
    const std::string where =
        device.tcp ? device.port.toStdString() + ":" + std::to_string(device.tcpPort)
                   : device.port.toStdString() + " " + LineName(device.line).toStdString();
    return where + ", address " + std::to_string(device.unit);
}

int run(int argc, char** argv, const FindOptions& options) {
    Interrupt::block();
    QCoreApplication app(argc, argv);
    const Interrupt interrupt;
    RealClock clock;
    BusyRule busy;
    CommTransport serial;
    SocketTransport tcp;
    GatewayFinder finder(serial, tcp, clock, busy);
    QObject::connect(&interrupt, &Interrupt::stopAsked, &finder, &GatewayFinder::stop);
    QObject::connect(&finder, &GatewayFinder::found, [&](const FoundDevice& device) {
        if (device.gateway) return print(device, options.json);
        if (!options.quiet)
            std::cerr << "Modbus device, not a Corvane-64: " << place(device) << ": "
                      << device.answered.toStdString() << "\n";
    });
    QObject::connect(&finder, &GatewayFinder::progress, [&](const FinderProgress& progress) {
        if (!options.quiet)
            std::cerr << "Trying " << progress.trying.toStdString() << " (" << progress.left
                      << " left)\n";
    });
    FinderResult result;
    QEventLoop loop;
    QObject::connect(&finder, &GatewayFinder::finished, [&](const FinderResult& ended) {
        result = ended;
        loop.quit();
    });
    if (!options.json) {
        const std::vector<std::string> header = {"Link",      "Port",          "Speed",  "Parity",
                                                 "Stop bits", "Address",       "Vendor", "Product",
                                                 "Version",   "Active devices"};
        std::cout << csv::Row(header, "\n") << std::flush;
    }
    if (!finder.start(options.settings)) return kLinkError;
    if (finder.running()) loop.exec();
    const bool any = std::any_of(result.found.begin(), result.found.end(),
                                 [](const FoundDevice& device) { return device.gateway; });
    if (any) return kDone;
    if (result.linksOpened == 0 && result.ending != Ending::Stopped) {
        std::cerr << "tarnel-cli find: no port could be opened and no host connected\n";
        return kLinkError;
    }
    if (!options.quiet) std::cerr << "No Corvane-64 found (" << result.tries << " requests)\n";
    return kNoResult;
}

}  // namespace

int findCommand(int argc, char** argv, const std::vector<std::string>& args) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << kUsage;
        return kDone;
    }
    FindOptions options;
    try {
        options = parse(args);
    } catch (const UsageError& error) {
        std::cerr << "tarnel-cli find: " << error.reason << "\n" << kUsage;
        return kUsageError;
    }
    return run(argc, argv, options);
}

}  // namespace tarnel::cli
