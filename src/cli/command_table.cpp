#include "cli/command_table.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/grid_layouts.h"
#include "base/grid_selection.h"
#include "base/safe_file.h"
#include "cli/address_file_command.h"
#include "cli/cli_session.h"
#include "cli/points_command.h"
#include "cli/report_command.h"
#include "cli/settings_commands.h"
#include "gateway/gateway_lines.h"
#include "gateway/bulk_activation.h"
#include "gateway/device_table.h"
#include "gateway/gateway_status.h"
#include "gateway/program.h"
#include "gateway/register_view.h"
#include "gateway/table_files.h"
#include "link/response_parsers.h"
#include "ops/command_console.h"
#include "ops/id_mask.h"
#include "ops/mbus_lines.h"
#include "ops/meter_changes.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

namespace tarnel::cli {
namespace {

QString text(const std::string& argument) {
    return QString::fromStdString(argument);
}

PrimaryScan::Settings scanSettings(const Options& options) {
    return {options.unit, 0, 0, options.scanTimeMs, options.timeoutMs, options.retries};
}

DeviceTable::Settings tableSettings(const Options& options) {
    return {options.unit, options.timeoutMs, options.scanTimeMs};
}

SecondarySearch::Settings searchSettings(const Options& options) {
    return {options.unit, options.scanTimeMs, options.retries};
}

// An identification number of 8 digits.
QString exactId(const std::string& argument) {
    const std::optional<IdMask> id = IdMaskFromText(text(argument));
    if (!id || !WildcardPositions(*id).empty()) throw UsageError{"the ID is 8 digits: " + argument};
    return text(argument);
}

int countRows(const GridModel& grid) {
    int rows = 0;
    for (int row = 1; row < grid.rows(); ++row)
        if (!grid.rowTexts(row).join(QString()).isEmpty()) ++rows;
    return rows;
}

// --- the commands ------------------------------------------------------------------

// With -q the log is not shown: a run the gateway left unanswered still
// says why it stopped, with the first of its closing lines.
void noteSilence(const Session& session, Ending ending, const QStringList& closingLines) {
    if (ending == Ending::GatewaySilent && session.options().quiet)
        Session::note(closingLines.value(0).toStdString());
}

// A scan or a search for every meter starts on an empty meter grid: what the
// command prints is what this run found.
Runner scan(const Options& options) {
    PrimaryScan::Settings settings = scanSettings(options);
    settings.from = Address(options.positional[0]);
    settings.to = Address(options.positional[1]);
    return [settings](Session& session) {
        Program& program = session.program();
        const auto result = session.await(program.scan(), &PrimaryScan::finished, [&] {
            return program.scan().start(settings, true).started;
        });
        if (!result) return kNoResult;
        session.printMeters(result->rows, true);
        noteSilence(session, result->ending, MbusRunLines(*result));
        return Session::status(result->ending, !result->rows.isEmpty());
    };
}

// A request to one meter: a read, or a change and the reads after it.
Runner meterRequest(const Options& options,
                    std::function<bool(Program&, const MeterTarget&)> start) {
    const MeterTarget meter{
        1, Address(options.positional[0]),
        options.positional.size() == 3 ? text(options.positional[1]) : QString()};
    return [meter, start](Session& session) {
        Program& program = session.program();
        const auto result = session.await(program.scan(), &PrimaryScan::finished,
                                          [&] { return start(program, meter); });
        if (!result) return kNoResult;
        if (result->answered) session.printMeters({result->row}, false);
        // A change the meter acknowledged is done, unless the read after it
        // (with --retry 1 or more) found nothing.
        const bool done = result->acknowledged && !result->readBackMissing;
        return Session::status(result->ending, result->answered || done);
    };
}

Runner read(const Options& options) {
    const PrimaryScan::Settings settings = scanSettings(options);
    return meterRequest(options, [settings](Program& program, const MeterTarget& meter) {
        return program.scan().readMeter(meter, settings);
    });
}

Runner setMedium(const Options& options) {
    exactId(options.positional[1]);
    const std::string medium = MediumName(options.positional[2]);
    if (medium.empty())
        throw UsageError{"MEDIUM is oil, hot-water, water, electricity, heat, gas or n/a: " +
                         options.positional[2]};
    const PrimaryScan::Settings settings = scanSettings(options);
    return meterRequest(options, [settings, medium](Program& program, const MeterTarget& meter) {
        return program.meterChanges().changeMedium(meter, text(medium), settings);
    });
}

Runner setBaud(const Options& options) {
    const std::string& baud = options.positional[1];
    if (baud != "300" && baud != "2400") throw UsageError{"the baud rate is 300 or 2400: " + baud};
    const uint8_t ci = baud == "300" ? MeterChanges::kBaud300 : MeterChanges::kBaud2400;
    const PrimaryScan::Settings settings = scanSettings(options);
    return meterRequest(options, [settings, ci](Program& program, const MeterTarget& meter) {
        return program.meterChanges().changeBaudRate(meter, ci, settings);
    });
}

Runner setValue(const Options& options) {
    const bool bcd = !options.binary;
    // BCD holds 8 digits; binary a 32-bit counter.
    const long long most = bcd ? 99999999LL : 4294967295LL;
    const long long value = Integer(options.positional[1], "VALUE");
    if (value < 0 || value > most)
        throw UsageError{"VALUE is 0 to " + std::to_string(most) + ": " + options.positional[1]};
    const PrimaryScan::Settings settings = scanSettings(options);
    return meterRequest(options, [=](Program& program, const MeterTarget& meter) {
        return program.meterChanges().changeValue(meter, static_cast<uint32_t>(value), bcd,
                                                  settings);
    });
}

Runner search(const Options& options) {
    const QString id = text(options.positional[0]).toUpper();  // "f" is a wildcard too
    if (!IdMaskFromText(id)) throw UsageError{"the ID is 8 digits, FFFFFFFF or digits and F"};
    const SecondarySearch::Settings settings = searchSettings(options);
    return [id, settings](Session& session) {
        Program& program = session.program();
        const auto result = session.await(program.search(), &SecondarySearch::finished, [&] {
            return program.search().start(id, settings, true).has_value();
        });
        if (!result) return kNoResult;
        QList<MeterRow> meters;  // as the grid lists them: each meter once
        MergeById(meters, result->rows);
        session.printMeters(meters, true);
        noteSilence(session, result->ending, SearchLines(*result));
        return Session::status(result->ending, result->found > 0);
    };
}

Runner setAddress(const Options& options) {
    const MeterTarget meter{1, -1, exactId(options.positional[0])};
    const int newAddress = InRange(options.positional[1], "a new primary address", 1, 250);
    const SecondarySearch::Settings settings = searchSettings(options);
    const bool force = options.force;
    return [=](Session& session) {
        Program& program = session.program();
        // The new address is read first: anything but this meter answering
        // there leaves it unchanged (--force moves it all the same).
        const auto result = session.await(program.search(), &SecondarySearch::finished, [&] {
            return program.search().changeAddress(meter, newAddress, settings, !force).has_value();
        });
        if (!result) return kNoResult;
        if (result->taken) {
            QString line = AddressTakenLine(*result->taken, result->meterId);
            line.chop(1);  // the full stop goes after the hint
            Session::note(line.toStdString() + " (--force changes it).");
            return Session::status(result->ending, false);
        }
        session.printMeters(result->rows, true);
        return Session::status(result->ending, result->listed);
    };
}

Runner registers(const Options& options) {
    const RegisterView::ReadRequest request{
        options.unit, InRange(options.positional[0], "START", 0, 65535),
        InRange(options.positional[1], "COUNT", 1, 125), !options.holding, options.timeoutMs};
    return [request](Session& session) {
        Program& program = session.program();
        const auto result = session.await(program.registerView(), &RegisterView::readFinished,
                                          [&] { return program.registerView().read(request); });
        if (!result) return kNoResult;
        QList<QStringList> rows;
        int number = result->start;
        for (const Register& value : result->registers)
            rows << RegisterRowTexts(value, number++, result->at);
        session.printTable(registersGridLayout().headers, rows, true);
        return Session::status(result->ending, result->rows > 0);
    };
}

Runner status(const Options& options) {
    const int unit = options.unit, timeoutMs = options.timeoutMs;
    return [=](Session& session) {
        Program& program = session.program();
        const auto result = session.await(program.gatewayStatus(), &GatewayStatus::finished, [&] {
            return program.gatewayStatus().readStatus(unit, timeoutMs);
        });
        if (!result) return kNoResult;
        for (const QString& line : result->answers)
            session.printLine(line);
        if (result->ending == Ending::LinkLost) return kLinkError;
        if (result->unanswered.size() == GatewayStatus::kSteps) {
            Session::note("the gateway gave no valid answer");
            return kNoResult;
        }
        if (!result->unanswered.isEmpty()) {
            Session::note("not answered: " + result->unanswered.join(", ").toStdString() + " (" +
                          std::to_string(result->unanswered.size()) + " of " +
                          std::to_string(GatewayStatus::kSteps) + " steps)");
            return kNoResult;
        }
        return kDone;
    };
}

Runner devices(const Options& options) {
    const DeviceTable::Settings settings = tableSettings(options);
    const bool version2 = options.version2;
    return [=](Session& session) {
        DeviceTable& table = session.program().deviceTable();
        table.setVersion2(version2);
        const auto result = session.await(table, &DeviceTable::readOutFinished,
                                          [&] { return table.readDevices(settings); });
        if (!result) return kNoResult;
        QList<QStringList> rows;
        for (const TableEntry& entry : result->entries)
            rows << TableEntryTexts(entry);
        session.printTable(devicesGridLayout().headers, rows, true);
        return Session::tableStatus(*result, result->rows > 0);
    };
}

Runner addresses(const Options& options) {
    const DeviceTable::Settings settings = tableSettings(options);
    return [=](Session& session) {
        DeviceTable& table = session.program().deviceTable();
        const auto result = session.await(table, &DeviceTable::addressMapFinished,
                                          [&] { return table.readRealAddresses(settings); });
        if (!result) return kNoResult;
        for (int slot = 0; slot < result->mbusAddresses.size(); ++slot)
            session.printLine(
                QStringLiteral("%1;%2;").arg(slot + 1).arg(result->mbusAddresses[slot]));
        return Session::status(result->ending, result->answered);
    };
}

// "activate", "delete" and "delete-inputs": one command for one meter, or
// every meter ("delete all").
Runner tableCommand(const Options& options, DeviceTable::Operations operations) {
    const bool all = operations.remove && options.positional[0] == "all";
    const MeterTarget meter{1, all ? -1 : Address(options.positional[0]), QString()};
    const DeviceTable::Settings settings = tableSettings(options);
    return [=](Session& session) {
        DeviceTable& table = session.program().deviceTable();
        const auto result = session.await(table, &DeviceTable::commandFinished, [&] {
            return all ? table.deleteAll(settings) : table.write(operations, meter, settings);
        });
        if (!result) return kNoResult;
        session.printLine(RcvdLine(result->reply));
        return Session::status(result->ending, result->acknowledged);
    };
}

Runner activateAll(const Options& options) {
    const QString file = FileNameFromBytes(options.positional[0]);
    std::error_code unreadable;
    if (!std::filesystem::is_regular_file(options.positional[0], unreadable))
        throw UsageError{"no table file " + options.positional[0]};
    const BulkActivation::Settings settings{options.unit, options.scanTimeMs, options.retries};
    return [=](Session& session) {
        Program& program = session.program();
        if (const TableLoad load = program.importDeviceTable(file); load != TableLoad::Loaded) {
            // With -q the log's line is not shown: the refusal still is.
            if (session.options().quiet)
                for (const QString& line : TableLoadLines(load, file))
                    Session::note(line.toStdString());
            return kNoResult;
        }
        if (countRows(program.gridDevices()) == 0) {
            const std::string why = " has no meter rows (a header line, then one line a meter)";
            Session::note(file.toStdString() + why);
            return kNoResult;
        }
        const auto result = session.await(program.bulkActivation(), &BulkActivation::finished,
                                          [&] { return program.bulkActivation().start(settings); });
        if (!result) return kNoResult;
        session.printGrid(program.gridDevices());
        if (result->ending != Ending::LinkLost && !result->notActivated.isEmpty()) {
            Session::note(
                MissingText("row", "rows", result->notActivated, result->rows, "activated")
                    .toStdString());
            return kNoResult;
        }
        return Session::status(result->ending, result->activated > 0);
    };
}

// The command line's hex: a word of more than two digits is its bytes in
// pairs ("01040001" is 01 04 00 01), and an odd number of digits there is
// refused; words of one or two digits are read as the window's console
// reads them.
QString hexInPairs(const std::string& argument) {
    QStringList words;
    for (const QString& word : text(argument).split(' ', Qt::SkipEmptyParts)) {
        if (word.size() <= 2) {
            words << word;
            continue;
        }
        if (word.size() % 2 != 0)
            throw UsageError{"HEX is whole bytes, two digits each: " + word.toStdString() +
                             " has " + std::to_string(word.size()) + " digits"};
        for (int at = 0; at < word.size(); at += 2)
            words << word.mid(at, 2);
    }
    return words.join(' ');
}

Runner command(const Options& options) {
    if (!options.serial) throw UsageError{"a custom command goes on the serial line only"};
    const QString hex = hexInPairs(options.positional[0]);
    const HexCommand parsed = ParseHexCommand(hex);
    if (!parsed.error.isEmpty() || parsed.bytes.isEmpty())
        throw UsageError{parsed.error.isEmpty() ? "no bytes to send" : parsed.error.toStdString()};
    const int timeoutMs = options.timeoutMs;
    return [=](Session& session) {
        CommandConsole& console = session.program().console();
        const auto result = session.await(console, &CommandConsole::commandFinished,
                                          [&] { return console.send(false, hex, timeoutMs); });
        if (!result) return kNoResult;
        session.printLine(RcvdLine(result->reply));
        return Session::status(result->ending, !result->reply.isEmpty());
    };
}

const std::vector<CommandEntry> kCommands = {
    {"scan", 2, "scan FROM TO: the primary scan of the addresses FROM to TO; prints the meters",
     scan},
    {"read", 1, "read ADDR: reads the meter at primary address ADDR; prints its row", read},
    {"search", 1,
     "search ID: the secondary search for ID (8 digits), every meter (FFFFFFFF) or the "
     "meters a mask of digits and F matches; prints the meters",
     search},
    {"registers", 2,
     "registers START COUNT [--holding]: reads COUNT (1 to 125) input (or holding) registers",
     registers},
    {"status", 0, "status: the gateway's status and network settings, one line an answer", status},
    {"devices", 0,
     "devices [--v2]: the gateway's table of activated meters (24-register entries with --v2)",
     devices},
    {"points", 0,
     "points [--ha FILE.yaml] [--v2] [--partial]: the Modbus points list of the gateway's "
     "table (CSV); --ha also writes it as a Home Assistant modbus configuration; from a table "
     "read that missed entries only with --partial, which says so first",
     points},
    {"report", 0,
     "report --pdf FILE [--html FILE] [--site TEXT] [--installer TEXT] [--scan FROM TO]: the "
     "status, the bus and the table read anew, written as a commissioning report (A4 PDF, HTML, "
     "or both)",
     report},
    {"addresses", 0,
     "addresses: the gateway's map of Modbus slots to M-Bus addresses, \"SLOT;ADDR;\" a line",
     addresses},
    {"activate", 1, "activate ADDR: activates the meter at ADDR in the gateway",
     [](const Options& o) {
         return tableCommand(o, {true, false, false});
     }},
    {"delete", 1, "delete ADDR|all: deletes the meter at ADDR, or every meter, from the gateway",
     [](const Options& o) {
         return tableCommand(o, {false, true, false});
     }},
    {"delete-inputs", 1, "delete-inputs ADDR: excludes the meter's two inputs",
     [](const Options& o) {
         return tableCommand(o, {false, false, true});
     }},
    {"activate-all", 1, "activate-all FILE.csv: imports the table and activates every row",
     activateAll},
    {"set-address", 2,
     "set-address ID NEW [--force]: gives the meter ID the primary address NEW (1 to 250); "
     "refused when another meter answers at NEW, unless --force",
     setAddress},
    {"set-medium", 3,
     "set-medium ADDR ID MEDIUM: oil, hot-water, water, electricity, heat, gas or n/a (any case, "
     "or as the window names them)",
     setMedium},
    {"set-baud", 2, "set-baud ADDR 300|2400: the meter's M-Bus baud rate", setBaud},
    {"set-value", 2,
     "set-value ADDR VALUE [--bcd|--binary]: the meter's counter value (BCD: up to 99999999, "
     "binary: up to 4294967295)",
     setValue},
    {"command", 1,
     "command HEX: bytes as typed (CRC included) on the serial line; prints the reply", command},
    {"set-addresses", 1,
     "set-addresses FILE.csv: every meter of a meter table (as \"Load\" reads it) with a number "
     "in Addr gets that primary address (1 to 250), found by its ID; a file that gives two "
     "meters one address is refused",
     setAddresses},
    {"search-activate", 0,
     "search-activate: the gateway searches its M-Bus and activates the meters it finds; its "
     "reply comes when it is done (waited for up to 5 minutes)",
     searchActivate},
    {"set-timeouts", 2,
     "set-timeouts between|respond TIME: the M-Bus time between two readings, or to wait for a "
     "reply, in tenths of a second (0 to 99)",
     setTimeouts},
    {"set-clock", 0, "set-clock: the gateway's date and time from this computer's clock", setClock},
    {"set-port-baud", 3,
     "set-port-baud modbus|mbus BAUD none|even|odd: the baud rate and parity of the gateway's "
     "Modbus port (300 to 115200) or M-Bus port (300 to 9600)",
     setPortBaud},
    {"set-modbus-address", 1,
     "set-modbus-address NEW: the gateway's own Modbus address (0 to 254); later commands go "
     "to it with --unit NEW",
     setModbusAddress},
    {"set-readout-period", 1,
     "set-readout-period MINUTES: how often the gateway reads its meters (1 to 720 minutes)",
     setReadoutPeriod},
    {"set-flag", 2,
     "set-flag FLAG 0|1: resets (0) or sets (1) a universal M-Bus flag: snd-nke, 0x7b, "
     "start-mbus, sort, dhcp, reset or factory-default",
     setFlag},
    {"set-ip", 2,
     "set-ip SETTING ADDRESS: a network setting of the gateway (ip, gateway, mask, control-1, "
     "control-2, operator-1 to operator-4, net-number) to the address a.b.c.d",
     setIp},
    {"set-listen-port", 1,
     "set-listen-port PORT: the TCP port the gateway listens on for Modbus TCP (50 to 65535)",
     setListenPort},
    {"set-serial-number", 1, "set-serial-number DIGITS: the gateway's serial number (8 digits)",
     setSerialNumber},
};

}  // namespace

const CommandEntry* FindCommand(const std::string& name) {
    const auto found = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandEntry& entry) { return entry.name == name; });
    return found == kCommands.end() ? nullptr : &*found;
}

std::string FoldedWord(const std::string& word) {
    std::string folded;
    for (const char c : word)
        folded += c == '-' || c == '_'
                      ? ' '
                      : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string MediumName(const std::string& text) {
    const std::string key = FoldedWord(text);
    static const std::map<std::string, std::string> kNames = {
        {"oil", "Oil"},         {"hot water", "Hot water"},
        {"water", "Water"},     {"electricity", "Electricity"},
        {"heat", "Heat meter"}, {"heat meter", "Heat meter"},
        {"gas", "Gas"},         {"n/a", "Unknown"},
        {"unknown", "Unknown"},
    };
    const auto found = kNames.find(key);
    return found == kNames.end() ? std::string() : found->second;
}

}  // namespace tarnel::cli
