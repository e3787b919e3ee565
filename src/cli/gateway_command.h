#pragma once

#include <string>
#include <vector>

namespace tarnel::cli {

// The gateway and meter commands of tarnel-cli ("scan", "status", ...): the
// same core the window uses, without a display. `args` starts with the
// command's name. Returns the exit status: 0 done, 1 the operation ended
// without its result, 2 a usage error, 3 the link could not be opened or was
// lost.
int gatewayCommand(int argc, char** argv, const std::vector<std::string>& args);

// Whether `name` is one of those commands.
bool isGatewayCommand(const std::string& name);

}  // namespace tarnel::cli
