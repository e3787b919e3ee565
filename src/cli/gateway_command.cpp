#include "cli/gateway_command.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <chrono>
#include <functional>
#include <iostream>

#include <QSet>
#include "base/dialogs.h"

#include "base/grid_model.h"
#include "base/real_clock.h"
#include "base/safe_file.h"
#include "cli/cli_session.h"
#include "cli/command_table.h"
#include "cli/gateway_options.h"
#include "cli/interrupt.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/program.h"
#include "gateway/program_paths.h"
#include "link/gateway_link.h"
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
    "          delete-inputs ADDR | activate-all FILE.csv | set-address ID NEW [--force] |\n"
    "          set-medium ADDR ID MEDIUM | set-baud ADDR 300|2400 |\n"
    "          set-value ADDR VALUE [--bcd|--binary] | command HEX |\n"
    "          set-addresses FILE.csv | search-activate | set-timeouts between|respond TIME |\n"
    "          set-clock | set-port-baud modbus|mbus BAUD PARITY | set-modbus-address NEW |\n"
    "          set-readout-period MINUTES | set-flag FLAG 0|1 | set-ip SETTING ADDRESS |\n"
    "          set-listen-port PORT | set-serial-number DIGITS\n";

// The operations ask nothing; a question would be answered Yes: the command
// line asked for the operation.
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

// How far a long operation has come, from its typed progress signals.
void showProgress(Program& program, const Options& options, Progress& progress) {
    const auto started = std::chrono::steady_clock::now();
    // The meters listed so far, each once.
    const auto ids = std::make_shared<QSet<QString>>();
    const auto keep = [ids](const QString& id, const QByteArray&) { ids->insert(id); };
    QObject::connect(&program.scan(), &PrimaryScan::listed, &program, keep);
    QObject::connect(&program.search(), &SecondarySearch::listed, &program, keep);
    const auto found = [ids] { return std::to_string(ids->size()); };
    // The scan's range: `scan FROM TO`, or `report --scan FROM TO`.
    std::pair<int, int> range{0, 0};
    if (options.scanRange)
        range = *options.scanRange;
    else if (options.positional.size() >= 2)
        range = {std::atoi(options.positional[0].c_str()),
                 std::atoi(options.positional[1].c_str())};
    QObject::connect(&program.scan(), &PrimaryScan::requesting, &program, [=, &progress](int at) {
        const auto [from, to] = range;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const int done = std::max(at - std::min(from, to), 1);
        const int left = std::abs(to - from) + 1 - done;
        progress.set("address " + std::to_string(at) + ", " + found() + " meters found, about " +
                     std::to_string(static_cast<int>(seconds / done * left)) + " s left");
    });
    QObject::connect(
        &program.search(), &SecondarySearch::checking, &program,
        [=, &progress](const QString& mask) {
            progress.set("mask " + mask.toStdString() + ", " + found() + " meters found");
        });
    QObject::connect(&program.bulkActivation(), &BulkActivation::activating, &program,
                     [&progress](const QString& address) {
                         progress.set("activating " + address.toStdString());
                     });
    QObject::connect(
        &program.deviceTable(), &DeviceTable::entryRead, &program,
        [&progress](int entry, int count) {
            progress.set("entry " + std::to_string(entry) + " of " + std::to_string(count));
        });
}

// Opens the link the options name; false (after one line) when it cannot.
// The TCP connection is awaited in the event loop, at most 3 s or until
// Ctrl-C.
bool openLink(GatewayLink& link, const Options& options, const Interrupt& interrupt) {
    if (options.serial) {
        link.openSerial(SerialSettingsFromTexts(
            QString::fromStdString(*options.serial), QString::fromStdString(options.baud),
            QString::fromStdString(options.parity), QString::fromStdString(options.stopBits)));
        if (link.SerialOpen()) return true;
        std::cerr << "tarnel-cli: cannot open " << *options.serial << "\n";
        return false;
    }
    const QString target = QString::fromStdString(*options.tcp);
    QEventLoop loop;
    QObject::connect(&link, &GatewayLink::stateChanged, &loop, &QEventLoop::quit);
    QObject::connect(&link, &GatewayLink::connectFailed, &loop, &QEventLoop::quit);
    QObject::connect(&interrupt, &Interrupt::stopAsked, &loop, &QEventLoop::quit);
    QTimer::singleShot(3010, &loop, &QEventLoop::quit);
    link.connectTcp(target.section(':', 0, 0), TcpPortFromText(target.section(':', 1, 1)), 300);
    if (!link.TcpMode() && link.connectWaiting() && !interrupt.raised()) loop.exec();
    if (link.TcpMode()) return true;
    if (interrupt.raised()) {
        std::cerr << "tarnel-cli: stopped while connecting to " << *options.tcp << "\n";
        return false;
    }
    std::cerr << "tarnel-cli: cannot connect to " << *options.tcp << "\n";
    return false;
}

// The settings file named by --settings, or empty.
QString settingsOption(const std::vector<std::string>& args) {
    const auto named = std::find(args.begin(), args.end(), "--settings");
    return named != args.end() && named + 1 != args.end() ? FileNameFromBytes(*(named + 1))
                                                          : QString();
}

// The options and the command's runner; UsageError when they do not say
// what to do. Nothing here touches the link.
Runner prepare(const CommandEntry& entry, const std::vector<std::string>& args, Options& options) {
    options = ParseOptions(args);
    if (options.positional.size() != entry.arguments)
        throw UsageError{options.positional.size() < entry.arguments ? "an argument is missing"
                                                                     : "too many arguments"};
    return entry.prepare(options);
}

// A PDF is laid out with fonts, so it needs a QGuiApplication: offscreen,
// because the command line shows nothing, with or without a display.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool fonts) {
    if (!fonts) return std::make_unique<QCoreApplication>(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

// Saves the log to --log FILE, whatever the end was; a status of 0 becomes 1
// when it cannot be written.
int saveLog(Log& log, const Options& options, int status) {
    QString reason;
    if (options.log.empty() || log.writeTo(FileNameFromBytes(options.log), &reason)) return status;
    std::cerr << "tarnel-cli: cannot write the log to " << options.log << ": "
              << reason.toStdString() << "\n";
    return status == kDone ? kNoResult : status;
}

// Runs the command with the link open; the log goes to standard error as
// it comes, and to --log FILE at the end, whatever the end was. Ctrl-C and
// SIGTERM stop the operation at once: it ends with what it got, which is
// printed and decides the status.
int run(int argc, char** argv, const std::vector<std::string>& args, const Options& options,
        const Runner& runner) {
    Interrupt::block();  // before any thread starts, so that none is ended by them
    const auto app = makeApplication(argc, argv, !options.pdfFile.empty());
    const Interrupt interrupt;
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
    showProgress(program, options, progress);
    QObject::connect(&interrupt, &Interrupt::stopAsked, &program,
                     [&program] { program.stopAll(); });
    program.link().setFastReplies(options.fast);
    Session session(program, options, &interrupt);
    // Stopped before the link was up: nothing was got, which is no result.
    const int status = openLink(program.link(), options, interrupt) ? runner(session)
                       : interrupt.raised()                         ? kNoResult
                                                                    : kLinkError;
    progress.done();
    return saveLog(log, options, status);
}

}  // namespace

bool isGatewayCommand(const std::string& name) {
    return FindCommand(name) != nullptr;
}

int gatewayCommand(int argc, char** argv, const std::vector<std::string>& args) {
    const CommandEntry& entry = *FindCommand(args[0]);
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::cout << "tarnel-cli " << entry.help << "\n" << kUsage;
        return kDone;
    }
    Options options;
    Runner runner;
    try {
        runner = prepare(entry, args, options);
    } catch (const UsageError& error) {
        std::cerr << "tarnel-cli " << args[0] << ": " << error.reason << "\n" << kUsage;
        return kUsageError;
    }
    for (const std::string& note : options.notes)
        std::cerr << "tarnel-cli: " << note << "\n";
    return run(argc, argv, args, options, runner);
}

}  // namespace tarnel::cli
