#pragma once

#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "gateway/presenter.h"
#include "link/gateway_link.h"
#include "sim/in_memory_transports.h"
#include "support/fake_dialogs.h"

namespace tarnel::test {

// The tool's link wired to the simulated gateway and its default meters,
// in-process, on a virtual clock. Tests of the operations build on it.
struct InProcessGateway {
    VirtualClock clock;
    sim::SimBus bus{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway{bus, clock};
    sim::SimEndpoint rtu{gateway, clock, sim::Framing::Rtu};
    sim::SimEndpoint tcpEndpoint{gateway, clock, sim::Framing::Tcp};
    sim::InMemorySerial serial{rtu, clock};
    sim::InMemoryTcp tcp{tcpEndpoint, clock};
    Log log;
    StatusPanels status;
    FakeDialogs dialogs;
    GatewayLink link{serial, tcp, clock};
    // Words what the link and the operations tell into the log.
    Presenter presenter{log, status};
    bool linkWatched = (presenter.watch(link, dialogs), true);
    QObject owner;  // parent of the operations' timers

    // The requests the gateway received on `endpoint`, as hex.
    static QStringList requests(const sim::SimEndpoint& endpoint) {
        QStringList frames;
        for (const sim::WireRecord& record : endpoint.Records())
            if (record.request)
                frames << QByteArray(reinterpret_cast<const char*>(record.bytes.data()),
                                     static_cast<qsizetype>(record.bytes.size()))
                              .toHex(' ')
                              .toUpper();
        return frames;
    }
    // The same without the link's fences (the short reads it sends after an
    // unanswered request), as the operations asked for them.
    static QStringList operationRequests(const sim::SimEndpoint& endpoint) {
        QStringList frames = requests(endpoint);
        frames.removeIf([](const QString& frame) {
            return frame.startsWith("01 04 E8 6D") || frame.startsWith("01 03 D8 23");
        });
        return frames;
    }
};

}  // namespace tarnel::test
