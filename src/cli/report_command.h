#pragma once

#include "cli/command_table.h"

namespace tarnel::cli {

// `report --html FILE [--site TEXT] [--installer TEXT] [--scan FROM TO]`:
// the status, the bus (with --scan) and the table read anew, then the
// commissioning report written as an HTML page.
Runner report(const Options& options);

}  // namespace tarnel::cli
