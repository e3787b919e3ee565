// libFuzzer target over the decoding of the gateway status read: the whole
// fourteen-step sequence runs on a link over a fake serial port and the
// virtual clock, and every step is answered with the same reply, so each
// step's decoder (first register, bit map count, device identification,
// dotted addresses) reads it. The first byte chooses the form of the reply
// (see FramedReply); the rest is the reply.
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/status_panels.h"
#include "base/virtual_clock.h"
#include "fuzz_input.h"
#include "gateway/gateway_status.h"
#include "gateway/presenter.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "support/fake_dialogs.h"
#include "support/fake_transports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    if (size == 0) return 0;
    fuzz::EnsureApplication();
    const QByteArray reply = fuzz::FramedReply(data[0], fuzz::Bytes(data + 1, size - 1));
    VirtualClock clock;
    test::FakeSerial serial{clock};
    test::FakeTcp tcp;
    Log log;
    StatusPanels status;
    test::FakeDialogs dialogs;
    GatewayLink link{serial, tcp, clock};
    Presenter presenter{log, status};
    presenter.watch(link, dialogs);
    link.openSerial(SerialSettingsFromTexts("COM1", "19200", "Even", "1"));
    QObject owner;
    Timer* timerStatus = clock.createTimer(&owner);
    Timer* timerModbus = clock.createTimer(&owner);
    Timer* timerAuto = clock.createTimer(&owner);
    GridModel grid{registersGridLayout().headers};
    GridModel meters{loopsGridLayout().headers};
    GridModel devices{devicesGridLayout().headers};
    RegisterView view{link, *timerModbus, *timerAuto};
    GatewayStatus gatewayStatus{link, *timerStatus, view};
    presenter.watch(view, grid);
    presenter.watch(gatewayStatus);
    gatewayStatus.readStatus(1, 600);
    qsizetype answered = 0;  // bytes of the requests answered so far
    for (int tick = 0; tick < 1000 && gatewayStatus.step() != 0; ++tick) {
        if (serial.written.size() > answered) {
            answered = serial.written.size();
            serial.deliver(reply);
        }
        clock.advance(50);
    }
    fuzz::Check(gatewayStatus.step() == 0);
    return 0;
}
