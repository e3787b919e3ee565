#include "cli/gateway_command.h"

#include "cli/gateway_options.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <optional>

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/real_clock.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/gateway_status.h"
#include "gateway/program.h"
#include "gateway/program_paths.h"
#include "gateway/register_view.h"
#include "gateway/table_files.h"
#include "link/command_console.h"
#include "link/gateway_link.h"
#include "ops/id_mask.h"
#include "ops/meter_changes.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarnel-cli COMMAND (--tcp HOST[:PORT] | --serial DEVICE [--baud N] [--parity P]\n"
    "       [--stop-bits N]) [--unit N] [--timeout MS] [--scan-time MS] [--retry N]\n"
    "       [--full-waits] [--settings FILE] [--json] [-q] [--log FILE] ARGUMENTS\n"
    "commands: scan FROM TO | read ADDR | search ID | registers START COUNT [--holding] |\n"
    "          status | devices [--v2] | addresses | activate ADDR | delete ADDR|all |\n"
    "          delete-inputs ADDR | activate-all FILE.csv | set-address ID NEW |\n"
    "          set-medium ADDR ID MEDIUM | set-baud ADDR 300|2400 |\n"
    "          set-value ADDR VALUE [--bcd|--binary] | command HEX\n";

constexpr int kDone = 0, kNoResult = 1, kUsageError = 2, kLinkError = 3;

// Questions are answered Yes: the command line asked for the operation.
class CliDialogs final : public Dialogs {
public:
    void warning(const QString& caption, const QString& text) override {
        std::cerr << caption.toStdString() << ": " << text.toStdString() << "\n";
    }
    void error(const QString& caption, const QString& text) override { warning(caption, text); }
    bool confirm(const QString&, const QString&) override { return true; }
    void message(const QString& text) override { std::cerr << text.toStdString() << "\n"; }
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }
    bool openDocument(const QString&) override { return false; }
};

// The arguments a command takes after its name.
void expect(const Options& options, size_t count, const char* what) {
    if (options.positional.size() != count) throw UsageError{std::string("expected ") + what};
}

// Runs the event loop until `done` holds or the link is lost; false when it
// was lost. The loop sleeps between events: the condition is looked at
// every 20 ms, which costs next to nothing while a reply is awaited.
bool runUntil(const std::function<bool()>& done, const bool& lost) {
    if (done() || lost) return !lost;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done() || lost) loop.quit();
    });
    look.start(20);
    loop.exec();
    return !lost;
}

// A grid as the table files write it, or one JSON array of texts a row.
void printGrid(const GridModel& grid, bool json) {
    if (!json) {
        const QByteArray csv = GridCsv(grid);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        return;
    }
    for (int row = 1; row < grid.rows(); ++row) {
        const QStringList texts = grid.rowTexts(row);
        if (texts.join(QString()).isEmpty()) continue;
        std::string line = "[";
        for (int col = 0; col < texts.size(); ++col) {
            std::string text = texts[col].toStdString();
            std::string escaped;
            for (const char c : text)
                escaped += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
            line += (col ? ",\"" : "\"") + escaped + "\"";
        }
        std::cout << line << "]\n";
    }
}

int dataRows(const GridModel& grid) {
    int rows = 0;
    for (int row = 1; row < grid.rows(); ++row)
        if (!grid.rowTexts(row).join(QString()).isEmpty()) ++rows;
    return rows;
}

// Ctrl-C stops the operation as STOP does: it runs its end step, and what
// was found is still printed. The signal is read from a descriptor in the
// event loop, so nothing runs in a signal handler.
class Interrupt {
public:
    explicit Interrupt(std::function<void()> stop) {
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGINT);
        sigaddset(&mask, SIGTERM);
        sigprocmask(SIG_BLOCK, &mask, nullptr);
        fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, stop] {
            signalfd_siginfo info;
            while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            stop();
        });
    }
    ~Interrupt() {
        notifier_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// On a terminal, one line on standard error that tells how far a long
// operation has come; rewritten in place, cleared before each log line.
class Progress {
public:
    explicit Progress(bool shown) : shown_(shown) {}
    void set(const std::string& text) {
        if (!shown_) return;
        text_ = text;
        std::cerr << "\r\033[K" << text_ << std::flush;
    }
    void clear() {
        if (shown_ && !text_.empty()) std::cerr << "\r\033[K" << std::flush;
    }
    void restore() {
        if (shown_ && !text_.empty()) std::cerr << text_ << std::flush;
    }
    void done() {
        clear();
        text_.clear();
    }

private:
    bool shown_;
    std::string text_;
};

}  // namespace

bool isGatewayCommand(const std::string& name) {
    static const std::vector<std::string> kCommands = {
        "scan",       "read",     "search",    "registers",     "status",       "devices",
        "addresses",  "activate", "delete",    "delete-inputs", "activate-all", "set-address",
        "set-medium", "set-baud", "set-value", "command"};
    return std::find(kCommands.begin(), kCommands.end(), name) != kCommands.end();
}

// How many arguments each command takes after its name (one or the other).
const std::map<std::string, std::pair<size_t, size_t>> kArguments = {
    {"scan", {2, 2}},          {"read", {1, 1}},         {"search", {1, 1}},
    {"registers", {2, 2}},     {"status", {0, 0}},       {"devices", {0, 0}},
    {"addresses", {0, 0}},     {"activate", {1, 1}},     {"delete", {1, 1}},
    {"delete-inputs", {1, 1}}, {"activate-all", {1, 1}}, {"set-address", {2, 2}},
    {"set-medium", {3, 3}},    {"set-baud", {2, 2}},     {"set-value", {2, 2}},
    {"command", {1, 1}},
};

// The "Change Medium" entries and the medium name each one looks up.
const std::map<std::string, QString> kMedia = {
    {"oil", "Oil"},         {"hot-water", "Hot water"},
    {"water", "Water"},     {"electricity", "Electricity"},
    {"heat", "Heat meter"}, {"gas", "Gas"},
    {"n/a", "Unknown"},
};

// What each command does, for COMMAND --help.
const std::map<std::string, const char*> kCommandHelp = {
    {"scan", "scan FROM TO: the primary scan of the addresses FROM to TO; prints the meters"},
    {"read", "read ADDR: reads the meter at primary address ADDR; prints its row"},
    {"search",
     "search ID: the secondary search for ID (8 digits), every meter (FFFFFFFF) or the "
     "meters a mask of digits and F matches; prints the meters"},
    {"registers", "registers START COUNT [--holding]: reads COUNT input (or holding) registers"},
    {"status", "status: the gateway's status and network settings, one line an answer"},
    {"devices",
     "devices [--v2]: the gateway's table of activated meters (24-register entries "
     "with --v2)"},
    {"addresses", "addresses: the gateway's map of Modbus slots to M-Bus addresses"},
    {"activate", "activate ADDR: activates the meter at ADDR in the gateway"},
    {"delete", "delete ADDR|all: deletes the meter at ADDR, or every meter, from the gateway"},
    {"delete-inputs", "delete-inputs ADDR: excludes the meter's two inputs"},
    {"activate-all", "activate-all FILE.csv: imports the table and activates every row"},
    {"set-address", "set-address ID NEW: gives the meter ID the primary address NEW"},
    {"set-medium", "set-medium ADDR ID MEDIUM: oil, hot-water, water, electricity, heat, gas, n/a"},
    {"set-baud", "set-baud ADDR 300|2400: the meter's M-Bus baud rate"},
    {"set-value", "set-value ADDR VALUE [--bcd|--binary]: the meter's counter value"},
    {"command", "command HEX: bytes as typed (CRC included) on the serial line; prints the reply"},
};

// The settings file named by --settings, or empty.
static QString settingsOption(const std::vector<std::string>& args) {
    const auto named = std::find(args.begin(), args.end(), "--settings");
    return named != args.end() && named + 1 != args.end() ? QString::fromStdString(*(named + 1))
                                                          : QString();
}

int gatewayCommand(int argc, char** argv, const std::vector<std::string>& args) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << "tarnel-cli " << kCommandHelp.at(args[0]) << "\n" << kUsage;
        return kDone;
    }
    Options options;
    try {
        options = ParseOptions(args);
        const auto [least, most] = kArguments.at(args[0]);
        if (options.positional.size() < least || options.positional.size() > most)
            throw UsageError{options.positional.size() < least ? "an argument is missing"
                                                               : "too many arguments"};
    } catch (const UsageError& error) {
        std::cerr << "tarnel-cli " << args[0] << ": " << error.reason << "\n" << kUsage;
        return kUsageError;
    }
    QCoreApplication app(argc, argv);
    RealClock clock;
    CliDialogs dialogs;
    Program program(
        clock, dialogs,
        ResolveProgramPaths(QCoreApplication::applicationFilePath(), settingsOption(args)));
    Log& log = program.log();
    Progress progress(::isatty(STDERR_FILENO) != 0);
    QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
        if (options.quiet) return;
        progress.clear();
        std::cerr << line.toStdString() << "\n";
        progress.restore();
    });
    const Interrupt interrupt([&] {
        program.scan().stop();
        program.search().stop();
        if (program.bulkActivation().running())
            program.bulkActivation().startOrStop(
                {options.unit, options.scanTimeMs, options.retries});
    });
    // How far the long operations have come.
    int devices = 0;  // entries the table read-out reads
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
        if (line.startsWith("Searching for address ")) {
            const int at = line.section(' ', 3).toInt();
            const int from = std::atoi(options.positional.at(0).c_str());
            const int to = std::atoi(options.positional.at(1).c_str());
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            const int done = std::max(at - std::min(from, to), 1);
            const int left = std::abs(to - from) + 1 - done;
            progress.set("address " + std::to_string(at) + ", " +
                         std::to_string(dataRows(program.gridLoops())) + " meters found, about " +
                         std::to_string(static_cast<int>(seconds / done * left)) + " s left");
        } else if (line.startsWith("Checking ")) {
            progress.set("mask " + line.mid(9, 8).toStdString() + ", " +
                         std::to_string(dataRows(program.gridLoops())) + " meters found");
        } else if (line.startsWith("Activating device ")) {
            progress.set("activating " + line.mid(18).toStdString());
        } else if (line.startsWith("Number of devices: ")) {
            devices = line.mid(19).toInt();
        }
    });
    QObject::connect(&program.gridDevices(), &QAbstractItemModel::rowsInserted, [&] {
        if (devices > 0)
            progress.set("entry " + std::to_string(dataRows(program.gridDevices())) + " of " +
                         std::to_string(devices));
    });
    GatewayLink& link = program.link();
    link.setFastReplies(options.fast);
    bool lost = false;
    QObject::connect(&link, &GatewayLink::linkLost, [&] { lost = true; });

    // The link.
    if (options.serial) {
        link.openSerial(SerialSettingsFromTexts(
            QString::fromStdString(*options.serial), QString::fromStdString(options.baud),
            QString::fromStdString(options.parity), QString::fromStdString(options.stopBits)));
        if (!link.SerialOpen()) return kLinkError;
    } else {
        const QString target = QString::fromStdString(*options.tcp);
        const QString host = target.section(':', 0, 0);
        const std::optional<int> port = TcpPortFromText(target.section(':', 1, 1));
        link.connectTcp(host, port, 300);
        bool failed = false;
        QObject::connect(&link, &GatewayLink::stateChanged, [&] { failed = !link.TcpMode(); });
        // A refused or unreachable host ends the wait at once.
        QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
            if (line.startsWith("Socket error #")) failed = true;
        });
        QTimer giveUp;
        giveUp.setSingleShot(true);
        giveUp.start(3010);
        runUntil([&] { return link.TcpMode() || failed || !giveUp.isActive(); }, lost);
        if (!link.TcpMode()) {
            std::cerr << "tarnel-cli: cannot connect to " << *options.tcp << "\n";
            return kLinkError;
        }
    }

    const std::string& command = args[0];
    int status = kDone;
    try {
        const PrimaryScan::Settings scanSettings{
            options.unit, 0, 0, options.scanTimeMs, options.timeoutMs, options.retries};
        bool finished = false;
        const auto on = [&](const QString& start) {
            QObject::connect(&log, &Log::lineAppended, [&finished, start](const QString& line) {
                if (line.startsWith(start)) finished = true;
            });
        };
        if (command == "scan") {
            expect(options, 2, "FROM TO");
            PrimaryScan::Settings settings = scanSettings;
            settings.from = Address(options.positional[0]);
            settings.to = Address(options.positional[1]);
            program.scan().start(settings);
            if (!runUntil([&] { return !program.job().scanRunning; }, lost)) return kLinkError;
            printGrid(program.gridLoops(), options.json);
            status = dataRows(program.gridLoops()) ? kDone : kNoResult;
        } else if (command == "read") {
            expect(options, 1, "ADDR");
            program.gridLoops().setRowTexts(
                1, {QString(), QString::fromStdString(options.positional[0])});
            program.gridLoops().setRows(3);
            program.job().selectedAddress = Address(options.positional[0]);
            program.scan().readSelected(scanSettings);
            if (!runUntil([&] { return !program.job().singleRead; }, lost)) return kLinkError;
            printGrid(program.gridLoops(), options.json);
            status = program.gridLoops().cell(1, 0).isEmpty() ? kNoResult : kDone;
        } else if (command == "search") {
            expect(options, 1, "ID");
            QObject::connect(&program.search(), &SecondarySearch::finished,
                             [&] { finished = true; });
            if (!program.search().start(QString::fromStdString(options.positional[0]),
                                        {options.unit, options.scanTimeMs, options.retries}))
                throw UsageError{"the ID is 8 digits, FFFFFFFF or digits and F"};
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            printGrid(program.gridLoops(), options.json);
            status = dataRows(program.gridLoops()) ? kDone : kNoResult;
        } else if (command == "registers") {
            expect(options, 2, "START COUNT");
            on("RCVD:");
            program.registerView().read({options.unit, Number(options.positional[0], "START"),
                                         Number(options.positional[1], "COUNT"), !options.holding,
                                         options.timeoutMs});
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            printGrid(program.gridInputRegisters(), options.json);
            status = dataRows(program.gridInputRegisters()) ? kDone : kNoResult;
        } else if (command == "status") {
            expect(options, 0, "no arguments");
            on("Reading settings finished!");
            const qsizetype first = log.lines().size();
            program.gatewayStatus().readStatus(options.unit, options.timeoutMs);
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            for (const QString& line : log.lines().mid(first))
                std::cout << line.toStdString() << "\n";
        } else if (command == "devices" || command == "addresses") {
            expect(options, 0, "no arguments");
            DeviceTable& table = program.deviceTable();
            table.setVersion2(options.version2);
            QObject::connect(&table, &DeviceTable::readOutControlsEnabled,
                             [&](bool enabled) { finished = finished || enabled; });
            on(command == "devices" ? "No active devices" : "Modbus 64 -> ");
            const DeviceTable::Settings settings{options.unit, options.timeoutMs,
                                                 options.scanTimeMs};
            if (command == "devices")
                table.readDevices(settings);
            else
                table.readRealAddresses(settings);
            bool replied = false;
            QObject::connect(&log, &Log::lineAppended, [&](const QString& line) {
                if (command == "addresses" && line.startsWith("RCVD:")) replied = true;
            });
            if (!runUntil([&] { return finished || replied; }, lost)) return kLinkError;
            if (command == "devices") {
                printGrid(program.gridDevices(), options.json);
                status = dataRows(program.gridDevices()) ? kDone : kNoResult;
            }
        } else if (command == "activate" || command == "delete" || command == "delete-inputs") {
            expect(options, 1, "ADDR");
            DeviceTable& table = program.deviceTable();
            on("RCVD:");
            const DeviceTable::Settings settings{options.unit, options.timeoutMs,
                                                 options.scanTimeMs};
            if (command == "delete" && options.positional[0] == "all") {
                table.deleteAll(settings);
            } else {
                program.gridDevices().setRowTexts(
                    1, {QString(), QString::number(Address(options.positional[0]))});
                table.selectRow(1);
                table.write(
                    {command == "activate", command == "delete", command == "delete-inputs"},
                    settings);
            }
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            const QString received = log.lines().filter("RCVD:").value(0);
            const QByteArray reply = QByteArray::fromHex(received.mid(5).toLatin1());
            status =
                reply.size() > 1 && !(static_cast<uint8_t>(reply.at(1)) & 0x80) ? kDone : kNoResult;
        } else if (command == "set-address") {
            const std::optional<IdMask> id =
                IdMaskFromText(QString::fromStdString(options.positional[0]));
            if (!id || !WildcardPositions(*id).empty()) throw UsageError{"the ID is 8 digits"};
            const int newAddress = Address(options.positional[1]);
            if (newAddress < 1) throw Refused{"a new primary address is 1 to 250"};
            GridModel& meters = program.gridLoops();
            meters.setRowTexts(1, {QString::fromStdString(options.positional[0])});
            meters.setRows(3);
            QObject::connect(&program.search(), &SecondarySearch::finished,
                             [&] { finished = true; });
            program.search().changeAddressOfRow(
                1, newAddress, {options.unit, options.scanTimeMs, std::max(options.retries, 1)});
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            printGrid(meters, options.json);
            status = meters.cell(1, 1) == QString::number(newAddress) ? kDone : kNoResult;
        } else if (command == "set-medium" || command == "set-baud" || command == "set-value") {
            GridModel& meters = program.gridLoops();
            const int meter = Address(options.positional[0]);
            const QString id =
                command == "set-medium" ? QString::fromStdString(options.positional[1]) : QString();
            meters.setRowTexts(1, {id, QString::number(meter)});
            meters.setRows(3);
            program.scan().selectRow(1);
            MeterChanges& changes = program.meterChanges();
            if (command == "set-medium") {
                const auto medium = kMedia.find(options.positional[2]);
                if (medium == kMedia.end())
                    throw UsageError{
                        "MEDIUM is oil, hot-water, water, electricity, heat, gas or n/a"};
                if (!IdentificationBytes(id)) throw UsageError{"the ID is 8 digits"};
                changes.changeMedium(medium->second, scanSettings);
            } else if (command == "set-baud") {
                const std::string& baud = options.positional[1];
                if (baud != "300" && baud != "2400")
                    throw UsageError{"the baud rate is 300 or 2400"};
                changes.changeBaudRate(
                    baud == "300" ? MeterChanges::kBaud300 : MeterChanges::kBaud2400, scanSettings);
            } else {
                const int value = Number(options.positional[1], "VALUE");
                if (value < 0 || value > 99999999) throw UsageError{"VALUE is 0 to 99999999"};
                changes.changeValue(static_cast<uint32_t>(value), !options.binary, scanSettings);
            }
            if (!runUntil([&] { return !program.job().singleRead; }, lost)) return kLinkError;
            printGrid(meters, options.json);
            // The change is followed by a read-out that fills the meter's row.
            status = meters.cell(1, 7).isEmpty() ? kNoResult : kDone;
        } else if (command == "command") {
            if (!options.serial) throw UsageError{"a custom command goes on the serial line only"};
            on("RCVD:");
            program.console().send(false, QString::fromStdString(options.positional[0]),
                                   options.timeoutMs);
            if (!log.lines().last().startsWith("Wrong custom hex command") &&
                !runUntil([&] { return finished; }, lost))
                return kLinkError;
            if (!finished) {
                std::cerr << "tarnel-cli command: " << log.lines().last().toStdString() << "\n";
                return kUsageError;
            }
            std::cout << log.lines().filter("RCVD:").value(0).toStdString() << "\n";
        } else if (command == "activate-all") {
            expect(options, 1, "FILE.csv");
            if (!ImportDeviceGrid(program.gridDevices(),
                                  QString::fromStdString(options.positional[0]), dialogs))
                return kNoResult;
            BulkActivation& bulk = program.bulkActivation();
            QObject::connect(&bulk, &BulkActivation::runControlsEnabled,
                             [&](bool enabled) { finished = finished || enabled; });
            bulk.startOrStop({options.unit, options.scanTimeMs, options.retries});
            if (!bulk.running()) return kNoResult;
            if (!runUntil([&] { return finished; }, lost)) return kLinkError;
            printGrid(program.gridDevices(), options.json);
        }
    } catch (const UsageError& error) {
        std::cerr << "tarnel-cli " << command << ": " << error.reason << "\n" << kUsage;
        return kUsageError;
    } catch (const Refused& refused) {
        std::cerr << "tarnel-cli " << command << ": " << refused.reason << "\n";
        return kNoResult;
    }
    progress.done();
    if (!options.log.empty() && !log.writeTo(QString::fromStdString(options.log))) {
        std::cerr << "tarnel-cli: cannot write the log to " << options.log << "\n";
        return kNoResult;
    }
    return status;
}

}  // namespace tarnel::cli
