#pragma once

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_status.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "ops/busy_rule.h"
#include "ops/primary_scan.h"
#include "support/in_process_gateway.h"

namespace tarnel::test {

// Every gateway operation on one link to the simulated gateway, in-process,
// on the virtual clock, with the window's timers.
struct Rig : InProcessGateway {
    Timer* timerModbus = timer("Timer_modbus", 1000);
    Timer* timerAuto = timer("Timer_auto", 1000, true);
    Timer* timerStatus = timer("Timer_status", 1000);
    Timer* timerMbus = timer("Timer_mbus", 1000);
    Timer* timerMbusRespond = timer("Timer_mbusRespond", 1000);
    GridModel registers{registersGridLayout().headers};
    GridModel meters{loopsGridLayout().headers};
    GridModel devices{devicesGridLayout().headers};
    BusyRule busy;
    RegisterView view{link, *timerModbus, *timerAuto};
    GatewayCommands commands{link, view};
    GatewayStatus gatewayStatus{link, *timerStatus, view};
    PrimaryScan scan{link, busy, *timerMbus, *timerMbusRespond};

    // Opens the serial link, or connects TCP, with fast replies on or off.
    Rig(bool tcpLink, bool fast) {
        presenter.watch(busy);
        presenter.watch(view, registers);
        presenter.watch(commands, dialogs);
        presenter.watch(gatewayStatus);
        presenter.watch(scan, meters);
        link.setFastReplies(fast);
        if (tcpLink) {
            link.connectTcp("127.0.0.1", 502, 30);
            clock.advance(400);
        } else {
            link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        }
        log.clear();
    }
    Timer* timer(const char* name, int interval, bool periodic = false) {
        Timer* made = clock.createTimer(&owner, name);
        made->setInterval(interval);
        made->setSingleShot(!periodic);
        return made;
    }
    sim::SimEndpoint& endpoint() { return link.TcpMode() ? tcpEndpoint : rtu; }
    void addFault(sim::FaultKind kind, int value = 0, int count = 1) {
        sim::Fault fault;
        fault.kind = kind;
        fault.value = value;
        fault.count = count;
        endpoint().faults().Add(fault);
    }
    // Every data row of a grid without its time column (the last).
    static QStringList rowsOf(const GridModel& grid) {
        QStringList rows;
        for (int row = 1; row < grid.rows(); ++row)
            rows << grid.rowTexts(row).mid(0, grid.cols() - 1).join('|');
        return rows;
    }
};

}  // namespace tarnel::test
