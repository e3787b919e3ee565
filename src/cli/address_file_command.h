#pragma once

#include "cli/command_table.h"

namespace tarnel::cli {

// `set-addresses FILE.csv`: the meter table read as the window's "Load"
// reads it, then "Set all Primary addresses": every row with a number in
// "Addr " gives the meter of its " ID " that primary address. The file is
// checked whole before the link is opened: each such address 1 to 250, each
// ID 8 digits, and no address given to two meters.
Runner setAddresses(const Options& options);

}  // namespace tarnel::cli
