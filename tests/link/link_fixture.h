#pragma once

#include <gtest/gtest.h>

#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "link/gateway_link.h"
#include "support/fake_dialogs.h"
#include "support/fake_transports.h"
#include "support/hex.h"

namespace tarnel::test {

// The link on fake transports and a virtual clock.
struct LinkTest : ::testing::Test {
    VirtualClock clock;
    Log log;
    StatusPanels status;
    FakeDialogs dialogs;
    FakeSerial serial{clock};
    FakeTcp tcp;
    GatewayLink link{serial, tcp, clock, log, status, dialogs};

    LinkTest() { log.clear(); }

    void openSerial(const QString& name = "COM1") {
        link.openSerial({name, "19200", "Even", "1"});
        serial.steps.clear();
        log.clear();
    }
    void connectTcp() {
        link.Butt_connect_xportClick("127.0.0.1", "502", 30);
        tcp.accept();
        clock.advance(400);
        log.clear();
    }
};

}  // namespace tarnel::test
