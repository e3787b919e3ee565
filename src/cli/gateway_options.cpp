#include "cli/gateway_options.h"

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <functional>
#include <map>

#include "base/safe_file.h"
#include "gateway/control_ranges.h"
#include "gateway/settings_file.h"

namespace tarnel::cli {

long long Integer(const std::string& text, const char* what) {
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used);
        if (used == text.size()) return value;
    } catch (const std::exception&) {
    }
    throw UsageError{std::string(what) + " is not a number: " + text};
}

int Number(const std::string& text, const char* what) {
    const long long value = Integer(text, what);
    if (value < INT_MIN || value > INT_MAX)
        throw UsageError{std::string(what) + " is not a number: " + text};
    return static_cast<int>(value);
}

int InRange(const std::string& text, const char* what, int least, int most) {
    const long long value = Integer(text, what);
    if (value < least || value > most)
        throw UsageError{std::string(what) + " is " + std::to_string(least) + " to " +
                         std::to_string(most) + ": " + text};
    return static_cast<int>(value);
}

namespace {

int inRange(const std::string& text, const char* what, NumberRange range) {
    return InRange(text, what, range.least, range.most);
}

// The window's serial speeds: the serial settings would open any other text
// at 19200, unnoticed.
std::string serialSpeed(const std::string& text) {
    static const char* const kSpeeds[] = {"300",   "1200",  "2400",  "4800",  "9600",
                                          "19200", "38400", "57600", "115200"};
    if (std::find(std::begin(kSpeeds), std::end(kSpeeds), text) == std::end(kSpeeds))
        throw UsageError{"--baud is 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200: " +
                         text};
    return text;
}

// HOST[:PORT]: a port that is not 1 to 65535 is refused before anything is
// resolved or connected.
void checkTcpPort(const std::string& target) {
    const size_t colon = target.find(':');
    if (colon == 0 || target.empty()) throw UsageError{"--tcp needs a host: HOST[:PORT]"};
    if (colon == std::string::npos || colon + 1 == target.size()) return;  // 502
    const std::string port = target.substr(colon + 1);
    const bool digits =
        !port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
        throw UsageError{"the TCP port is 1 to 65535: " + port};
}

// A number of the settings file as its control takes it: clamped into the
// control's range, with a note when it was out of it.
int settingNumber(const std::string& text, const std::string& key, NumberRange range, int fallback,
                  std::vector<std::string>& notes) {
    bool ok = false;
    const int value = QString::fromStdString(text).toInt(&ok);
    if (!ok) return fallback;
    const int clamped = range.clamp(value);
    if (clamped != value)
        notes.push_back(key + "=" + text + " is out of " + std::to_string(range.least) + " to " +
                        std::to_string(range.most) + ": " + std::to_string(clamped) + " is used");
    return clamped;
}

}  // namespace

// The window's settings file as the options' starting values: the serial
// port when it opens at start-up, else the remote TCP address.
static void applySettings(const std::string& path, Options& options) {
    std::error_code unreadable;
    if (!std::filesystem::exists(path, unreadable)) throw UsageError{"no settings file " + path};
    QStringList problems;
    const QStringList values = SettingsFile(FileNameFromBytes(path)).read(QString(), &problems);
    // Named on the command line, a file that cannot be read is the caller's
    // mistake, not a reason to go on with the defaults.
    const auto size = std::filesystem::file_size(path, unreadable);
    if (!problems.isEmpty() && !unreadable && size > SettingsFile::kMaxBytes)
        throw UsageError{problems.first().toStdString()};
    for (const QString& problem : problems)
        options.notes.push_back(problem.toStdString());
    std::map<std::string, std::string> setting;
    for (size_t i = 0; i < settingKeys().size(); ++i)
        setting[(settingKeys()[i].section + "/" + settingKeys()[i].key).toStdString()] =
            values.value(static_cast<int>(i)).toStdString();
    const auto number = [&](const std::string& section, const std::string& key, NumberRange range,
                            int fallback) {
        return settingNumber(setting[section + "/" + key], "[" + section + "] " + key, range,
                             fallback, options.notes);
    };
    options.baud = setting["Modbus port/Speed"];
    options.parity = setting["Modbus port/Parity"];
    options.stopBits = setting["Modbus port/SB"];
    options.unit = number("Modbus", "Address", kModbusAddressRange, options.unit);
    options.timeoutMs = number("Modbus", "Timeout", kModbusTimeoutRange, options.timeoutMs);
    options.scanTimeMs = number("Mbus", "Timeout", kScanTimeRange, options.scanTimeMs);
    options.retries = number("Mbus", "Retry", kRetryRange, options.retries);
    options.fast = setting["Modbus/Fast"] != "0";
    if (setting["Modbus/AutoOpen"] == "1")
        options.serial = setting["Modbus port/Name"];
    else
        options.tcp = setting["TCP/IP"] + ":" + setting["TCP/Port"];
}

// An option where a value should be: the value was left out (a negative
// number is a value, and out of range).
static bool isOption(const std::string& text) {
    return text.size() > 1 && text[0] == '-' && !isdigit(static_cast<unsigned char>(text[1]));
}

// The options that take a value, each with what it does to `options`.
static std::map<std::string, std::function<void(const std::string&)>> valuedOptions(
    Options& options) {
    return {
        {"--tcp",
         [&](const std::string& v) {
             options.tcp = v;
             options.serial.reset();
         }},
        {"--serial",
         [&](const std::string& v) {
             options.serial = v;
             options.tcp.reset();
         }},
        {"--baud", [&](const std::string& v) { options.baud = serialSpeed(v); }},
        {"--parity",
         [&](const std::string& v) {
             // The serial settings take a parity named exactly and open
             // anything else with Even: a mistyped one would go unnoticed.
             const QString typed = QString::fromStdString(v);
             for (const char* name : {"Even", "Odd", "None", "Mark", "Space"}) {
                 if (typed.compare(QLatin1String(name), Qt::CaseInsensitive) != 0) continue;
                 options.parity = name;
                 return;
             }
             throw UsageError{"--parity is even, odd, none, mark or space: " + v};
         }},
        {"--stop-bits",
         [&](const std::string& v) {
             // Any other text would open with one stop bit, unnoticed.
             if (v != "1" && v != "2") throw UsageError{"--stop-bits is 1 or 2: " + v};
             options.stopBits = v;
         }},
        {"--unit", [&](const std::string& v) { options.unit = Number(v, "--unit"); }},
        {"--timeout",
         [&](const std::string& v) {
             options.timeoutMs = inRange(v, "--timeout", kModbusTimeoutRange);
         }},
        {"--scan-time",
         [&](const std::string& v) {
             options.scanTimeMs = inRange(v, "--scan-time", kScanTimeRange);
         }},
        {"--retry",
         [&](const std::string& v) { options.retries = inRange(v, "--retry", kRetryRange); }},
        {"--log",
         [&](const std::string& v) {
             if (v.empty()) throw UsageError{"--log needs a file name"};
             options.log = v;
         }},
        {"--ha", [&](const std::string& v) { options.haFile = v; }},
        {"--html", [&](const std::string& v) { options.htmlFile = v; }},
        {"--pdf", [&](const std::string& v) { options.pdfFile = v; }},
        {"--site", [&](const std::string& v) { options.site = v; }},
        {"--installer", [&](const std::string& v) { options.installer = v; }},
        {"--settings", [](const std::string&) {}},
    };
}

Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    // The settings file first, whatever its place: the other options override it.
    for (size_t i = 1; i + 1 < args.size(); ++i)
        if (args[i] == "--settings") applySettings(args[i + 1], options);
    const bool fromFile = options.tcp || options.serial;
    const auto valued = valuedOptions(options);
    const std::map<std::string, bool*> flags = {
        {"--json", &options.json},       {"-q", &options.quiet},
        {"--holding", &options.holding}, {"--v2", &options.version2},
        {"--records", &options.records}, {"--force", &options.force},
        {"--partial", &options.partial},
    };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--full-waits") {
            options.fast = false;
        } else if (arg == "--scan") {
            if (i + 2 >= args.size() || isOption(args[i + 1]) || isOption(args[i + 2]))
                throw UsageError{"--scan needs FROM and TO"};
            options.scanRange = std::pair{Address(args[i + 1]), Address(args[i + 2])};
            i += 2;
        } else if (arg == "--bcd" || arg == "--binary") {
            options.binary = arg == "--binary";
        } else if (const auto flag = flags.find(arg); flag != flags.end()) {
            *flag->second = true;
        } else if (const auto option = valued.find(arg); option != valued.end()) {
            if (i + 1 >= args.size() || isOption(args[i + 1]))
                throw UsageError{arg + " needs a value"};
            option->second(args[++i]);
        } else if (arg.size() > 1 && arg[0] == '-' &&
                   !isdigit(static_cast<unsigned char>(arg[1]))) {
            throw UsageError{"unknown option " + arg};
        } else {
            options.positional.push_back(arg);
        }
    }
    if (options.tcp.has_value() == options.serial.has_value() && !fromFile)
        throw UsageError{"give the link: --tcp HOST[:PORT] or --serial DEVICE"};
    if (!kModbusAddressRange.contains(options.unit)) throw UsageError{"--unit is 1 to 255"};
    if (options.tcp) checkTcpPort(*options.tcp);
    return options;
}

int Address(const std::string& text) {
    const int value = Number(text, "the address");
    if (value < 0 || value > 250) throw UsageError{"an M-Bus primary address is 0 to 250: " + text};
    return value;
}

}  // namespace tarnel::cli
