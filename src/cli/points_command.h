#pragma once

#include "cli/command_table.h"

namespace tarnel::cli {

// `points [--ha FILE.yaml] [--v2]`: the gateway's table read anew, then its
// Modbus points list (CSV, or --json one array a point); --ha also writes
// the points as a Home Assistant modbus configuration.
Runner points(const Options& options);

}  // namespace tarnel::cli
