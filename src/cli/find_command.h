#pragma once

#include <string>
#include <vector>

namespace tarnel::cli {

// tarnel-cli find [--serial PORT...] [--tcp HOSTS[:PORT]...] [--all] [--json]
// [--baud N] [--parity P] [--stop-bits N] [--unit N] [-q]: finds the
// gateway's port, line and Modbus address; one CSV row (or JSON object) a
// gateway found. `args` follow "find". Exit status 0 found, 1 none, 2 a
// usage error, 3 no port could be opened and no host connected.
int findCommand(int argc, char** argv, const std::vector<std::string>& args);

}  // namespace tarnel::cli
