#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/gateway_options.h"

namespace tarnel::cli {

class Session;

// What a command does once the link is up; returns the exit status.
using Runner = std::function<int(Session&)>;

// One gateway command of tarnel-cli.
struct CommandEntry {
    const char* name;
    size_t arguments;  // after the name
    const char* help;  // "NAME ARGUMENTS: what it does"
    // Checks the arguments (UsageError) before the link is opened, and
    // returns what runs with it.
    std::function<Runner(const Options&)> prepare;
};

// The command named `name`, or nothing.
const CommandEntry* FindCommand(const std::string& name);

// A medium in the window's words ("Water", "Hot water", "N/A") or the
// command line's ("hot-water", "n/a", "heat"), in any case: the name the
// medium change looks up; empty for another text.
std::string MediumName(const std::string& text);
// A word as names given on the command line are matched: any case, "-" and
// "_" as blanks ("hot-water" is "hot water").
std::string FoldedWord(const std::string& word);

}  // namespace tarnel::cli
