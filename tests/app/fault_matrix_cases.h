#pragma once

// The rows of the fault matrix: every operation of the tool, driven through
// the window on a virtual clock against the simulated gateway in-process.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/main_window.h"
#include "app/up_down.h"
#include "base/virtual_clock.h"
#include "link/exchange.h"
#include "sim/in_memory_transports.h"
#include "support/fake_dialogs.h"

namespace tarnel::test {

// The simulated gateway of one case, with its default meters: new for every
// case, since many operations change it (a meter's address, the table).
struct SimWorld {
    sim::SimBus bus{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway;
    sim::SimEndpoint rtu;
    sim::SimEndpoint tcp;
    explicit SimWorld(Clock& clock)
        : gateway(bus, clock),
          rtu(gateway, clock, sim::Framing::Rtu),
          tcp(gateway, clock, sim::Framing::Tcp) {}
};

// One case: the window, wired to a fresh simulated gateway over the serial
// line or TCP, with short waits.
struct MatrixRun {
    // The waits every case runs with: the Modbus time-out and the scan time.
    static constexpr int kModbusTimeoutMs = 200;
    static constexpr int kScanTimeMs = 600;
    // The interval Timer_modbus keeps until the first register read: the
    // wait of the gateway commands in a fresh window.
    static constexpr int kCommandWaitMs = 1000;

    MatrixRun(bool overTcp, bool fastReplies);

    VirtualClock clock;
    QObject probeOwner;  // before the window: the link may keep the probe's timer
    QTemporaryDir folder;
    FakeDialogs dialogs;
    SimWorld sim{clock};
    std::unique_ptr<TForm1> form;
    const bool overTcp;

    Program& program() { return form->program(); }
    sim::SimEndpoint& endpoint() { return overTcp ? sim.tcp : sim.rtu; }
    template <typename T>
    T* control(const char* name) const {
        return form->control<T>(name);
    }
    void click(const char* button) { control<QPushButton>(button)->click(); }
    void trigger(const char* action) { control<QAction>(action)->trigger(); }
    void setText(const char* edit, const QString& text) { control<QLineEdit>(edit)->setText(text); }
    void setPosition(const char* upDown, int position) {
        control<UpDown>(upDown)->setPosition(position);
    }
    void check(const char* box, bool on = true) { control<QCheckBox>(box)->setChecked(on); }

    // Opens the serial port, or connects TCP and waits for the connection.
    void connectLink();
    // Runs the clock until nothing is due; false when something still ran
    // after a simulated hour.
    bool runUntilIdle();
    // A meter grid row for the default meter at `address`, selected.
    void listMeter(const QString& id, int address);
    // Device grid rows with these addresses; the first one selected.
    void listDevices(const QStringList& addresses);
    // One more request on the link, free of faults, after the operation:
    // how it ended, nothing when it never did (an exchange left in flight
    // holds it up).
    std::optional<ExchangeResult> probeLink();

private:
    std::optional<ExchangeResult> probe_;
};

// What a case checks of an operation, besides the common checks.
struct Operation {
    const char* name{};
    // Fills grids, selects rows, sets the controls; before the faults are planned.
    std::function<void(MatrixRun&)> prepare{};
    // Starts the operation as the user does.
    std::function<void(MatrixRun&)> start{};
    // Ends an operation that would run on (the automatic read), after a few ticks.
    std::function<void(MatrixRun&)> finish{};
    // The request the fault hits: its function and start register; every
    // such request (count -1), or only the first `count` (a passing fault).
    int function{};
    int registerNumber{};
    int count = -1;
    // The wait of that request: a reply later than this is late.
    int waitMs = MatrixRun::kModbusTimeoutMs;
    // A line that ends it when no link was lost (any one of them), and the
    // line of a lost link.
    QStringList endLines{};
    QString lostLine{};
    // The gateway's reply is judged (a Modbus fault is told by its own log
    // line), rather than only logged as "RCVD:".
    bool judged = true;
    // A line the operation writes for each reply it accepted ("Respond: ").
    QString successLine{};
    // What the operation shows of the gateway's replies: grid rows without
    // their time column, decoded log lines.
    std::function<QStringList(MatrixRun&)> shown{};
    // The first words of its summary line ("Scan ended: "), when it has one.
    QString summary{};
    // The exception code its summary counts as the meter's own refusal, apart
    // from the gateway's errors (SLAVE DEVICE FAILURE to an activation).
    std::optional<int> meterRefusal{};
    // Runs over the serial line only (the custom command console).
    bool serialOnly = false;
};

const std::vector<Operation>& Operations();

}  // namespace tarnel::test
