#pragma once

#include <gtest/gtest.h>

#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "gateway/gateway_commands.h"
#include "gateway/gateway_status.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "support/hex.h"
#include "support/in_process_gateway.h"

namespace tarnel::test {

// The gateway chores against the simulated gateway, in-process, on the
// virtual clock; the serial link is open unless a test connects TCP.
struct GatewayTest : ::testing::Test, InProcessGateway {
    Timer* timerModbus = clock.createTimer(&owner, "Timer_modbus");
    Timer* timerAuto = clock.createTimer(&owner, "Timer_auto");
    Timer* timerStatus = clock.createTimer(&owner, "Timer_status");
    GridModel grid{registersGridLayout().headers};
    GridModel meters{loopsGridLayout().headers};
    GridModel devices{devicesGridLayout().headers};
    RegisterView view{link, *timerModbus, *timerAuto};
    GatewayCommands commands{link, view};
    GatewayStatus gatewayStatus{link, *timerStatus, view};

    GatewayTest() {
        presenter.watch(view, grid);
        presenter.watch(commands, dialogs);
        presenter.watch(gatewayStatus);
        timerModbus->setInterval(1000);
        timerAuto->setInterval(1000);
        timerAuto->setSingleShot(false);
        // These tests pin each wait to its full time; fast replies have their own.
        link.setFastReplies(false);
        link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
        log.clear();
        rtu.ClearRecords();
    }
    void useTcp() {
        link.closeSerial();
        link.connectTcp("127.0.0.1", 502, 30);
        clock.advance(400);
        log.clear();
    }
    // Runs the clock until every request has been answered and handled.
    void settle() { clock.runUntilIdle(60'000); }
    using InProcessGateway::requests;
    QStringList requests() const { return requests(rtu); }
};

}  // namespace tarnel::test
