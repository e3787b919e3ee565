#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "sim/faults.h"
#include "sim/sim_bus.h"

namespace tarnel::sim {

class SimGateway;

// A scenario for the simulated gateway: its unit address, the size of its
// device-table entries, the meters on its bus, the meters it has activated,
// the faults it starts with.
struct Scenario {
    std::optional<int> unit;
    std::optional<int> entryRegisters;         // 24 or 28
    QString metersFile;                        // a meter file; empty: the built-in meters
    std::optional<std::vector<int>> activate;  // primary addresses; nothing: the first three
    bool activateAll = false;                  // "activate": "all"
    std::vector<Fault> faults;

    // sim/scenario64.json, built into the simulator: the 64-meter bus
    // (SimBus::kMeters64File) with all 64 meters activated.
    static constexpr char k64File[] = ":/sim/scenario64.json";
};

// A scenario from a JSON file (format in docs/SIMULATOR.md); nothing and an
// error text when it cannot be read. A relative meter file is taken from the
// scenario file's folder.
std::optional<Scenario> LoadScenario(const QString& path, QString* error);

// The meters of the scenario's bus; nothing and an error text when its meter
// file cannot be read.
std::optional<std::vector<SimMeter>> ScenarioMeters(const Scenario& scenario, QString* error);

// Sets up a gateway whose bus carries the scenario's meters: the entry size,
// the unit address and the activated meters (at once, as SimGateway::Activate
// does). The faults are the endpoints' to take. Returns the number of active
// devices.
int ApplyScenario(const Scenario& scenario, SimGateway& gateway);

}  // namespace tarnel::sim
