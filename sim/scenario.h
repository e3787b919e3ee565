#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "sim/faults.h"

namespace tarnel::sim {

// A scenario for the simulated gateway: its unit address, the size of its
// device-table entries, the meters it has activated, the faults it starts with.
struct Scenario {
    std::optional<int> unit;
    std::optional<int> entryRegisters;  // 24 or 28
    std::optional<std::vector<int>> activate;  // primary addresses
    std::vector<Fault> faults;
};

// A scenario from a JSON file (format in docs/SIMULATOR.md); nothing and an
// error text when it cannot be read.
std::optional<Scenario> LoadScenario(const QString& path, QString* error);

}  // namespace tarnel::sim
