#pragma once

#include "cli/command_table.h"

namespace tarnel::cli {

// The gateway's own settings, one request each, as the window's "Commands"
// and "TCP settings" groups send them: every argument is checked against
// the window's range before the link is opened. Each prints the "RCVD:"
// line of the gateway's reply; 0 when it confirmed the write, 1 for an
// exception or no reply, 3 for a lost link.

// `set-timeouts between|respond TIME`: 0 to 99 tenths of a second.
Runner setTimeouts(const Options& options);
// `set-clock`: the gateway's date and time from this PC's clock.
Runner setClock(const Options& options);
// `set-port-baud modbus|mbus BAUD PARITY`: the M-Bus port up to 9600 Bd.
Runner setPortBaud(const Options& options);
// `set-modbus-address NEW`: 0 to 254.
Runner setModbusAddress(const Options& options);
// `set-readout-period MINUTES`: 1 to 720.
Runner setReadoutPeriod(const Options& options);
// `set-flag FLAG 0|1`: one of the universal M-Bus flags.
Runner setFlag(const Options& options);
// `set-ip SETTING ADDRESS`: one of the ten network settings.
Runner setIp(const Options& options);
// `set-listen-port PORT`: 50 to 65535.
Runner setListenPort(const Options& options);
// `set-serial-number DIGITS`: 8 digits.
Runner setSerialNumber(const Options& options);
// `search-activate`: the gateway searches its bus and activates every meter.
Runner searchActivate(const Options& options);

}  // namespace tarnel::cli
