#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/clock.h"
#include "sim/sim_bus.h"

namespace tarnel::sim {

// The Corvane-64 as the tool sees it: a Modbus slave whose registers pass
// M-Bus telegrams to the bus, keep the table of activated meters, its
// settings and its status. It works on Modbus PDUs (function code and data);
// the transports add and strip the framing.
class SimGateway {
public:
    SimGateway(SimBus& bus, Clock& clock);

    // A request PDU (function code and data) addressed to this gateway, and
    // the reply PDU: the answer, or an exception reply (function | 0x80,
    // code) for what a gateway refuses. Thread-safe.
    Bytes Handle(const Bytes& requestPdu);

    // The unit address it answers (1 by default). A new address written to
    // 32785 takes effect after the reply to that write.
    uint8_t UnitAddress() const;
    void SetUnitAddress(uint8_t address);

    // Device-table entries of 28 registers (version 0.3, default) or 24 (0.2).
    void SetEntryRegisters(int registers);

    // Activates the meter with this primary address in the next free slot.
    void Activate(uint8_t address);

    SimBus& bus() { return bus_; }

private:
    SimBus& bus_;
    Clock& clock_;
    mutable std::recursive_mutex mutex_;
    // The implementation's state follows here.
};

}  // namespace tarnel::sim
