#include "fault_matrix_cases.h"

#include <QComboBox>

#include "link/gateway_link.h"

namespace tarnel::test {
namespace {

// Register numbers as carried in the requests.
constexpr int kMbusBuffer = 33800;  // 0x8408: the meter's reply is read from here
constexpr int kMbusStatus = 33799;  // 0x8407: the state of the meter's reply
constexpr int kActiveDeviceMap = 59500;
constexpr int kAddressMap = 59400;
constexpr int kSecondEntry = 29;  // device entry 2 of 28 registers
constexpr int kStatusFirst = 32768;

constexpr int kReadInput = 4, kReadHolding = 3, kWriteSingle = 6, kWriteMultiple = 16;

// A search waits the scan time less one 10 ms step.
constexpr int kSearchWaitMs = MatrixRun::kScanTimeMs - 10;

// The non-empty rows of a grid, cells joined, without the columns from
// `timeColumn` on (the time of reading differs from run to run).
QStringList rowsOf(const GridModel& grid, int timeColumn) {
    QStringList rows;
    for (int row = 1; row < grid.rows(); ++row) {
        const QStringList cells = grid.rowTexts(row).mid(0, timeColumn);
        if (std::any_of(cells.begin(), cells.end(), [](const QString& c) { return !c.isEmpty(); }))
            rows << cells.join('|');
    }
    return rows;
}

QStringList meterRows(MatrixRun& run) {
    return rowsOf(run.program().gridLoops(), 7);
}
QStringList deviceRows(MatrixRun& run) {
    return rowsOf(run.program().gridDevices(), 14);
}
QStringList registerRows(MatrixRun& run) {
    return rowsOf(run.program().gridInputRegisters(), 5);
}

// The gateway's slots and the M-Bus address of each, as logged.
QStringList addressMapLines(MatrixRun& run) {
    QStringList lines;
    for (const QString& line : run.program().log().lines())
        if (line.startsWith("Modbus ") && line.contains(" -> Mbus ")) lines << line;
    return lines;
}

// The lines the status sequence decodes from the gateway's answers.
QStringList statusLines(MatrixRun& run) {
    static const QStringList kPrefixes = {"Active devices: ",
                                          "SND_NKE,",
                                          "0x7B",
                                          "0x5B",
                                          "Working days: ",
                                          "Modbus card version: ",
                                          "IP: ",
                                          "GATE: ",
                                          "MASK: ",
                                          "CONTROL IP #",
                                          "DATA IP #",
                                          "NETWORK NUMBER (Identification): "};
    QStringList lines;
    for (const QString& line : run.program().log().lines())
        for (const QString& prefix : kPrefixes)
            if (line.startsWith(prefix)) lines << line;
    return lines;
}

void scanOneToThree(MatrixRun& run) {
    run.setPosition("UDaddressFrom", 1);
    run.setPosition("UDaddressTo", 3);
    run.dialogs.answers = {true};  // clear the table
}

void selectFirstMeter(MatrixRun& run) {
    run.listMeter("12345678", 1);
}

void registersOfTheStatus(MatrixRun& run) {
    run.setText("EditInputAddress", QString::number(kStatusFirst));
    run.setText("EditInputCount", "3");
    run.check("checkInput");
}

// A gateway setting command: its reply is only logged.
Operation command(const char* name, std::function<void(MatrixRun&)> start, int function,
                  int registerNumber, const char* line) {
    return {.name = name,
            .start = std::move(start),
            .function = function,
            .registerNumber = registerNumber,
            .waitMs = MatrixRun::kCommandWaitMs,
            .endLines = {line},
            .lostLine = "Connection lost: command stopped.",
            .judged = false};
}

// A request to the selected meter (a read, or a change telegram followed by
// the read-out that shows it), faulted where its reply is read.
Operation meterRequest(const char* name, std::function<void(MatrixRun&)> start) {
    return {.name = name,
            .prepare = selectFirstMeter,
            .start = std::move(start),
            .function = kReadInput,
            .registerNumber = kMbusBuffer,
            .lostLine = "Connection lost: read stopped.",
            .successLine = "Respond: ",
            .shown = meterRows};
}

// A device table command through the console's reply timer, on the scan time.
Operation tableCommand(const char* name, std::function<void(MatrixRun&)> prepare,
                       const char* action, int registerNumber, const char* line) {
    return {.name = name,
            .prepare = std::move(prepare),
            .start = [action](MatrixRun& r) { r.trigger(action); },
            .function = kWriteSingle,
            .registerNumber = registerNumber,
            .waitMs = MatrixRun::kScanTimeMs,
            .endLines = {line},
            .lostLine = "Connection lost: device command stopped.",
            .judged = false};
}

std::vector<Operation> mbusOperations() {
    return {
        {.name = "primary scan",
         .prepare = scanOneToThree,
         .start = [](MatrixRun& r) { r.click("BitBtn1"); },
         .function = kReadInput,
         .registerNumber = kMbusBuffer,
         .lostLine = "Connection lost: scan stopped.",
         .successLine = "Respond: ",
         .shown = meterRows,
         .summary = "Scan ended: "},
        meterRequest("read of the selected meter", [](MatrixRun& r) { r.trigger("Read1"); }),
        {.name = "secondary search",
         .prepare = [](MatrixRun& r) { r.setText("editID", "1234567F"); },
         .start = [](MatrixRun& r) { r.click("BitBtn21"); },
         .function = kReadInput,
         .registerNumber = kMbusBuffer,
         .waitMs = kSearchWaitMs,
         .endLines = {"Secondary search thread terminated normally."},
         .lostLine = "Connection lost: secondary search stopped.",
         .successLine = "Respond: ",
         .shown = meterRows,
         .summary = "Search ended: "},
        meterRequest("medium change", [](MatrixRun& r) { r.trigger("ColdWater1"); }),
        meterRequest("baud rate change", [](MatrixRun& r) { r.trigger("Setbaud2400bps1"); }),
        meterRequest("value change",
                     [](MatrixRun& r) {
                         r.setText("Edit_valuePulses", "42");
                         r.click("Button4");
                     }),
        {.name = "primary address by ID",
         .prepare =
             [](MatrixRun& r) {
                 selectFirstMeter(r);
                 r.setPosition("UD_address", 9);
                 r.dialogs.answers = {true};
             },
         .start = [](MatrixRun& r) { r.click("BitBtn23"); },
         .function = kReadInput,
         .registerNumber = kMbusBuffer,
         .waitMs = kSearchWaitMs,
         .endLines = {"Secondary search thread terminated normally."},
         .lostLine = "Connection lost: secondary search stopped.",
         .successLine = "Respond: ",
         .shown = meterRows},
    };
}

std::vector<Operation> tableOperations() {
    return {
        // Faulted at the second of the three entries.
        {.name = "device table read-out",
         .start = [](MatrixRun& r) { r.click("buttonReadModbus"); },
         .function = kReadInput,
         .registerNumber = kSecondEntry,
         .endLines = {"Number of devices: 3"},
         .lostLine = "Connection lost: device table read stopped.",
         .shown = deviceRows},
        {.name = "address map",
         .start = [](MatrixRun& r) { r.click("BitBtn22"); },
         .function = kReadInput,
         .registerNumber = kAddressMap,
         .endLines = {"RCVD:"},
         .lostLine = "Connection lost: address map read stopped.",
         .shown = addressMapLines},
        tableCommand(
            "activate", [](MatrixRun& r) { r.listDevices({"4"}); }, "Activate1", 0,
            "Activating selected device..."),
        tableCommand(
            "delete",
            [](MatrixRun& r) {
                r.listDevices({"1"});
                r.dialogs.answers = {true};
            },
            "Delete1", 1, "Deleting selected device..."),
        {.name = "bulk activation",
         .prepare =
             [](MatrixRun& r) {
                 r.listDevices({"4", "5"});
             },
         .start = [](MatrixRun& r) { r.click("Butt_activateall"); },
         .function = kWriteSingle,
         .registerNumber = 0,
         .waitMs = MatrixRun::kScanTimeMs,
         .endLines = {"Activation process finished!",
                      "No answer from the gateway to 3 requests in a row: activation stopped."},
         .lostLine = "Connection lost: activation stopped.",
         .judged = false,
         .summary = "Activation ended: ",
         .meterRefusal = 4},
    };
}

std::vector<Operation> registerOperations() {
    return {
        {.name = "register read",
         .prepare = registersOfTheStatus,
         .start = [](MatrixRun& r) { r.click("BitBtn3"); },
         .function = kReadInput,
         .registerNumber = kStatusFirst,
         .endLines = {"RCVD:"},
         .lostLine = "Connection lost: register read stopped.",
         .shown = registerRows},
        {.name = "automatic read",
         .prepare =
             [](MatrixRun& r) {
                 registersOfTheStatus(r);
                 r.setPosition("UD_auto", 1);
             },
         .start = [](MatrixRun& r) { r.control<QCheckBox>("CheckBox1")->click(); },
         .finish =
             [](MatrixRun& r) {
                 r.clock.advance(3500);
                 // A lost link has ended it already and unchecked the box.
                 if (r.control<QCheckBox>("CheckBox1")->isChecked())
                     r.control<QCheckBox>("CheckBox1")->click();
             },
         .function = kReadInput,
         .registerNumber = kStatusFirst,
         .endLines = {"RCVD:"},
         .lostLine = "Connection lost: automatic read stopped.",
         .shown = registerRows},
        // Faulted at its step 7, the IP address.
        {.name = "status sequence",
         .start = [](MatrixRun& r) { r.click("BitBtn18"); },
         .function = kReadHolding,
         .registerNumber = 55400,
         .endLines = {"Reading settings finished!"},
         .lostLine = "Connection lost: status read stopped.",
         .shown = statusLines},
        // The console's example: 125 input registers from 1, its CRC typed in.
        {.name = "custom command",
         .prepare = [](MatrixRun& r) { r.setText("Edit_command", "01 04 00 01 00 7D 61 EB"); },
         .start = [](MatrixRun& r) { r.click("Butt_command_send"); },
         .function = kReadInput,
         .registerNumber = 1,
         .endLines = {"RCVD:"},
         .lostLine = "Connection lost: custom command stopped.",
         .judged = false,
         .serialOnly = true},
    };
}

std::vector<Operation> commandOperations() {
    return {
        command(
            "timeouts",
            [](MatrixRun& r) {
                r.setText("editTimeouts", "10");
                r.control<QCheckBox>("checkBetween")->click();
                r.click("BitBtn9");
            },
            kWriteSingle, 4, "Setting timeouts for device..."),
        command(
            "clock", [](MatrixRun& r) { r.click("BitBtn10"); }, kWriteMultiple, 16,
            "Setting datetime of device..."),
        command(
            "baud and parity",
            [](MatrixRun& r) {
                r.control<QComboBox>("Combo_baud")->setCurrentText("9600");
                r.control<QComboBox>("Combo_parity")->setCurrentText("Even");
                r.click("BitBtn11");
            },
            kWriteSingle, 32786, "Changing baud settings..."),
        command(
            "Modbus address",
            [](MatrixRun& r) {
                r.setText("Edit_address", "1");  // the gateway keeps answering at 1
                r.click("BitBtn12");
            },
            kWriteSingle, 32785, "Changing primary address of device..."),
        command(
            "readout period",
            [](MatrixRun& r) {
                r.setText("editReadoutMinutes", "2");
                r.click("BitBtn17");
            },
            kWriteSingle, 3, "Updating readout time in minutes..."),
        command(
            "flags",
            [](MatrixRun& r) {
                r.control<QCheckBox>("checkNKE")->click();
                r.click("BitBtn20");
            },
            kWriteSingle, 6, "Set/reset selected flag..."),
        command(
            "IP setting",
            [](MatrixRun& r) {
                r.control<QComboBox>("Combo_tcpCommand")->setCurrentText("Mask");
                r.setText("Edit_ip", "255.255.255.0");
                r.click("Button1");
            },
            kWriteMultiple, 55404, "Program Mask..."),
        command(
            "listen port",
            [](MatrixRun& r) {
                r.setText("Edit_tcpPort", "502");
                r.click("Button2");
            },
            kWriteSingle, 56002, "Changing listen port for modbus TCP..."),
        command(
            "serial number",
            [](MatrixRun& r) {
                r.setText("Edit_id", "12345678");
                r.click("Button3");
            },
            kWriteMultiple, 55330, "Setting new serial number..."),
    };
}

// The same operation with the fault on another of its requests.
Operation faultedElsewhere(const Operation& operation, const char* name, int registerNumber,
                           int count = -1) {
    Operation moved = operation;
    moved.name = name;
    moved.registerNumber = registerNumber;
    moved.count = count;
    return moved;
}

// The waits for the meter (the reply state, polled with fast replies), the
// first request of the read-out, and faults that pass after one request.
std::vector<Operation> otherRequests(const std::vector<Operation>& operations) {
    const auto named = [&](const char* name) {
        return *std::find_if(operations.begin(), operations.end(),
                             [&](const Operation& o) { return QLatin1String(o.name) == name; });
    };
    Operation bitMap = faultedElsewhere(named("device table read-out"),
                                        "device table read-out, bit map", kActiveDeviceMap);
    bitMap.endLines << "No active devices in Corvane memory..."
                    << "No answer from the gateway to the device count...";
    return {
        faultedElsewhere(named("primary scan"), "primary scan, reply state", kMbusStatus),
        faultedElsewhere(named("primary scan"), "primary scan, passing fault", kMbusBuffer, 1),
        faultedElsewhere(named("secondary search"), "secondary search, reply state", kMbusStatus),
        bitMap,
        faultedElsewhere(named("bulk activation"), "bulk activation, passing fault", 0, 1),
    };
}

std::vector<Operation> makeOperations() {
    std::vector<Operation> operations;
    for (auto part : {mbusOperations, tableOperations, registerOperations, commandOperations})
        for (Operation& operation : part())
            operations.push_back(std::move(operation));
    for (Operation& operation : otherRequests(operations))
        operations.push_back(std::move(operation));
    return operations;
}

}  // namespace

MatrixRun::MatrixRun(bool tcpLink, bool fastReplies) : overTcp(tcpLink) {
    form = std::make_unique<TForm1>(
        clock, dialogs, ProgramPaths{folder.path(), folder.filePath("tarnel.ini")},
        Transports{std::make_unique<sim::InMemorySerial>(sim.rtu, clock),
                   std::make_unique<sim::InMemoryTcp>(sim.tcp, clock)});
    setPosition("UD_modbusTimeout", kModbusTimeoutMs);
    setPosition("UD_timeout", kScanTimeMs);
    setPosition("UD_retry", 1);
    check("CheckFastReplies", fastReplies);
    connectLink();
    // The gateway's table holds meters 1 to 3, as tarnel-sim starts.
    for (const uint8_t address : {1, 2, 3})
        sim.gateway.Activate(address);
    program().log().clear();
    endpoint().ClearRecords();
}

void MatrixRun::connectLink() {
    GatewayLink& link = program().link();
    if (overTcp && !link.TcpMode()) {
        setText("Edit_lanxp_ip", "127.0.0.1");
        click("Butt_connect_xport");
        runUntilIdle();
    } else if (!overTcp && !link.SerialOpen()) {
        click("Butt_open_port2");
    }
}

bool MatrixRun::runUntilIdle() {
    constexpr qint64 kHour = 3'600'000;
    return clock.runUntilIdle(kHour) < kHour;
}

void MatrixRun::listMeter(const QString& id, int address) {
    GridModel& grid = program().gridLoops();
    grid.setRowTexts(1, {id, QString::number(address), "-", "-", "-", "-", "-", "-"});
    grid.setRows(3);
    grid.setCurrentRow(1);
}

void MatrixRun::listDevices(const QStringList& addresses) {
    GridModel& grid = program().gridDevices();
    grid.setRows(static_cast<int>(addresses.size()) + 1);
    for (int row = 1; row <= addresses.size(); ++row)
        grid.setRowTexts(row, {"", addresses[row - 1]});
    grid.setCurrentRow(1);
}

std::optional<ExchangeResult> MatrixRun::probeLink() {
    endpoint().faults().Clear();
    connectLink();
    probe_.reset();
    Timer* deadline = clock.createTimer(&probeOwner);
    // The version register (60000): 01 04 02 followed by its two bytes. The
    // gateway may still be on the M-Bus for a request it was sent.
    constexpr int kProbeWaitMs = 3000;
    program().link().exchange(&probeOwner, ReadInputRegistersRequest(1, 60000, 1), *deadline,
                              kProbeWaitMs,
                              [this](const ExchangeResult& result) { probe_ = result; });
    runUntilIdle();
    return probe_;
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> operations = makeOperations();
    return operations;
}

}  // namespace tarnel::test
