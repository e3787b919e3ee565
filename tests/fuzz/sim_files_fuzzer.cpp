// libFuzzer target over the simulator's inputs: the input as a meter file,
// as a scenario file (applied to a gateway with the built-in meters; its
// meter file is not opened, the input may name any path) and as the text of
// a --fault option.
#include "base/virtual_clock.h"
#include "fuzz_input.h"
#include "sim/faults.h"
#include "sim/scenario.h"
#include "sim/sim_gateway.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    const QByteArray bytes = fuzz::Bytes(data, size);
    const QString path = fuzz::InputFile(bytes, "sim.json");
    QString error;
    sim::SimBus::LoadMeters(path, &error);
    if (const std::optional<sim::Scenario> scenario = sim::LoadScenario(path, &error)) {
        VirtualClock clock;
        sim::SimBus bus(sim::SimBus::DefaultMeters());
        sim::SimGateway gateway(bus, clock);
        sim::ApplyScenario(*scenario, gateway);
    }
    std::string faultError;
    sim::ParseFault(bytes.toStdString(), &faultError);
    return 0;
}
