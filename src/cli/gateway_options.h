#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnel::cli {

// The options of the gateway commands, after the window's settings file
// (--settings) and the command line.
struct Options {
    std::optional<std::string> tcp, serial;
    std::string baud = "19200", parity = "Even", stopBits = "1";
    int unit = 1, timeoutMs = 600, scanTimeMs = 1000, retries = 2;
    bool fast = true, json = false, quiet = false, holding = false, version2 = false;
    bool binary = false;
    bool force = false;    // set-address: even onto an address a meter answers at
    bool records = false;  // every data record of the meters' telegrams
    std::string log;
    std::string haFile;    // points --ha
    bool partial = false;  // points: also from a table read that missed entries
    std::string pdfFile, htmlFile, site, installer;  // report
    std::optional<std::pair<int, int>> scanRange;    // report --scan FROM TO
    std::vector<std::string> positional;
    // One line for each value of the settings file that was clamped into the
    // range of its control, as the window clamps it.
    std::vector<std::string> notes;
};

// A command line that does not say what to do, or an argument the gateway
// would act on wrongly: its one-line reason.
struct UsageError {
    std::string reason;
};

// `args` starts with the command's name. Throws UsageError.
Options ParseOptions(const std::vector<std::string>& args);
// A whole decimal number, or UsageError naming `what`.
long long Integer(const std::string& text, const char* what);
int Number(const std::string& text, const char* what);
// A whole number from `least` to `most`, or UsageError naming the range.
int InRange(const std::string& text, const char* what, int least, int most);
// An M-Bus primary address 0 to 250, else UsageError: its low byte would
// act on another meter.
int Address(const std::string& text);

}  // namespace tarnel::cli
