#pragma once

#include <gtest/gtest.h>

#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "gateway/presenter.h"
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
    GatewayLink link{serial, tcp, clock};
    // Words what the link and the operations tell into the log.
    Presenter presenter{log, status};
    bool linkWatched = (presenter.watch(link, dialogs), true);

    QObject owner;
    Timer* deadline = clock.createTimer(&owner, "Deadline");
    QList<ExchangeResult> results;  // how each exchange asked by exchange() ended

    LinkTest() { log.clear(); }

    void exchange(const ModbusRequest& request, int timeoutMs = 600) {
        link.exchange(&owner, request, *deadline, timeoutMs,
                      [this](const ExchangeResult& result) { results << result; });
    }

    void openSerial(const QString& name = "COM1") {
        link.openSerial(SerialSettingsFromTexts(name, "19200", "Even", "1"));
        serial.steps.clear();
        log.clear();
    }
    void connectTcp() {
        link.connectTcp("127.0.0.1", 502, 30);
        tcp.accept();
        clock.advance(400);
        log.clear();
    }
};

}  // namespace tarnel::test
