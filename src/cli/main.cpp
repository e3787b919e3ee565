// tarnel-cli: decodes M-Bus telegrams and gateway device-table entries
// captured elsewhere, without a display.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/decode_command.h"
#include "cli/find_command.h"
#include "cli/gateway_command.h"

namespace {

constexpr const char* kHelp = R"(Usage:
  tarnel-cli decode [--json] [--records] [HEX ...]
      Decodes M-Bus RSP_UD telegrams as a primary scan does. Each HEX argument
      is one telegram (blanks between bytes allowed); without arguments, one
      telegram per line is read from standard input. Prints the log lines,
      then the row's texts. With --json, one line per telegram:
        {"log":[...],"ok":true|false,"row":null|[8 texts]}
      --records adds every data record: a table (Storage;Tariff;Subunit;
      Function;Quantity;Value;Unit;Bytes;), or with --json "records":[{
      "function","storage","tariff","subunit","quantity","unit","value",
      "bytes"}, ...] and "more":true when the meter has more records.
      Exit status 0, or 1 when a telegram was not hex.
  tarnel-cli decode-entry [--json] HEX
      Decodes a gateway device-table entry given as its register bytes (48
      bytes for version 0.2, 56 for 0.3) into the 14 texts of its row.
  tarnel-cli COMMAND (--tcp HOST[:PORT] | --serial DEVICE [--baud N]
             [--parity even|odd|none|mark|space] [--stop-bits 1|2])
             [--unit N] [--timeout MS] [--scan-time MS] [--retry N]
             [--full-waits] [--settings FILE] [--json] [-q] [--log FILE]
             ARGUMENTS
      Runs a gateway or meter operation as the window does, without a
      display. The log lines go to standard error (-q silences them, --log
      also saves them); the table comes on standard output as the table
      files write it, or with --json one array of texts a row. Commands:
        scan FROM TO            primary scan
        read ADDR               one meter read
        search ID               secondary search: 8 digits, FFFFFFFF, or a mask
          (scan, read, search --records: every data record of each meter's
          telegram after the table, or with --json one object a meter,
          {"row":[...],"records":[...]}, the records as decode gives them)
        registers START COUNT [--holding]
        status                  the gateway's status and network settings
        devices [--v2]          the gateway's table of activated meters
        addresses               its map of Modbus slots to M-Bus addresses
        points [--ha FILE.yaml] [--v2] [--partial]   the Modbus points list
                                of the table: Entry;Addr;ID;Mfr;Medium;Point;
                                Function;Address;Register;Count;Type;Scale;
                                Unit;Raw;Value; (Address as sent, Register =
                                Address + 1); --ha also writes it for Home
                                Assistant. Nothing is written when an entry
                                was not read, unless --partial: then both
                                say so in their first line (exit 1)
        report --pdf FILE [--html FILE] [--site TEXT] [--installer TEXT]
               [--scan FROM TO] the status, the bus (--scan) and the table
                                read anew, written as a commissioning report
                                (A4 PDF, HTML, or both)
        activate ADDR, delete ADDR|all, delete-inputs ADDR
        activate-all FILE.csv   every row of an imported table
        set-address ID NEW [--force]   a meter's primary address, by its ID;
                                refused (exit 1) when another meter answers
                                at NEW, unless --force
        set-medium ADDR ID MEDIUM   oil, hot-water, water, electricity,
                                heat, gas, n/a (any case; "Hot water" too)
        set-baud ADDR 300|2400  a meter's M-Bus baud rate
        set-value ADDR VALUE [--bcd|--binary]   a meter's counter value
        command HEX             raw bytes on the serial line; a word of more
                                than two digits is its bytes in pairs
                                (01040001000A21CD), an odd count is refused
        set-addresses FILE.csv  every meter of a meter table ("Load") with a
                                number in Addr gets it as its primary
                                address, found by its ID; refused whole
                                when an address is not 1 to 250, an ID
                                not 8 digits, or two meters share one
        search-activate         the gateway searches and activates meters;
                                its reply comes when it is done (waited
                                for up to 5 minutes)
      The gateway's own settings (each prints the reply's RCVD: line):
        set-timeouts between|respond TIME   M-Bus times, 0 to 99 (0.1 s)
        set-clock               date and time from this computer's clock
        set-port-baud modbus|mbus BAUD none|even|odd   a port's line; the
                                M-Bus port up to 9600
        set-modbus-address NEW  0 to 254 (later commands: --unit NEW)
        set-readout-period MINUTES   1 to 720
        set-flag FLAG 0|1       snd-nke, 0x7b, start-mbus, sort, dhcp,
                                reset, factory-default
        set-ip SETTING a.b.c.d  ip, gateway, mask, control-1, control-2,
                                operator-1 to operator-4, net-number
        set-listen-port PORT    50 to 65535
        set-serial-number DIGITS   8 digits
      --full-waits waits every reply's whole time:
      fast replies off. --timeout is 50 to 20000 ms, --scan-time 300 to
      9900 ms, --retry 0 to 9, --unit 1 to 255, as in the window; the
      settings file's values are clamped into these ranges, with a line.
      --settings FILE starts from the window's settings file (its serial
      port when it opens at start-up, else its remote TCP address); the
      other options override it. COMMAND --help shows one command.
      The arguments are checked before the link is opened. Exit status 0
      done, 1 no result (no meter or gateway answered, an exception reply),
      2 a usage error or an argument out of range, 3 the link could not be
      opened or was lost (what was found so far is printed first). A
      command that got only part of what it asked for (a status step, a
      table entry, an activation missing) exits 1 with one line on standard
      error that names what is missing.
      Ctrl-C, SIGTERM or SIGHUP stops the command at once: the operation ends, what
      it got so far is printed, --log is written, and the exit status is the
      one for what it got (so 1, with its line, when a read is incomplete;
      0 for a scan or search that found meters; 1 when nothing was got).
  tarnel-cli find [--serial PORT...] [--tcp HOSTS[:PORT]...] [--all] [--json]
             [--baud N] [--parity none|even|odd] [--stop-bits 1|2] [--unit N]
             [--timeout MS] [-q]
      Finds the gateway: on each serial port (those given, else the USB
      adapters /dev/serial/by-id/*, ttyUSB*, ttyACM*) the line it answers
      at, tried in this order: --baud/--parity/--stop-bits/--unit (the
      window's settings), the factory settings (19200 Even 1, address 1),
      then 19200, 9600, 38400, 115200, 57600, 4800, 2400, 1200, 300 with
      Even, None, Odd (2 stop bits with None); one probe a line judges it,
      a right line is swept for the address 1 to 247 with a time-out from
      the speed (51 ms at 19200). On TCP each host (HOSTS: a host, or
      192.168.1.1-254) at the units 1, 255, 0, then 2 to 247, each waited
      for --timeout ms (default 100). A gateway is
      confirmed by its device identification and its active-device count;
      anything else that answers is named on standard error as "Modbus
      device, not a Corvane-64". Prints a header, then one row a gateway:
      Link;Port;Speed;Parity;Stop bits;Address;Vendor;Product;Version;
      Active devices; (--json: one object a gateway). Stops at the first
      gateway unless --all. Exit status 0 found, 1 none, 2 a usage error,
      3 no port could be opened and no host connected.
  tarnel-cli --help
      Shows this text.
Exit status 2 for a usage error.
)";

}  // namespace

int main(int argc, char** argv) {
    // Under a file-size limit a write then fails with EFBIG, which the
    // writers report, instead of the signal ending the program mid-file.
    signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << kHelp;
        return 2;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "--help" || args[0] == "-h") {
        std::cout << kHelp;
        return 0;
    }
    if (args[0] == "decode")
        return tarnel::cli::decodeCommand(rest, std::cin, std::cout, std::cerr);
    if (args[0] == "decode-entry")
        return tarnel::cli::decodeEntryCommand(rest, std::cout, std::cerr);
    if (args[0] == "find") return tarnel::cli::findCommand(argc, argv, rest);
    if (tarnel::cli::isGatewayCommand(args[0]))
        return tarnel::cli::gatewayCommand(argc, argv, args);
    std::cerr << "tarnel-cli: unknown command " << args[0] << "\n" << kHelp;
    return 2;
}
