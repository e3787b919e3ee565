#include "sim/sim_gateway.h"

namespace tarnel::sim {

SimGateway::SimGateway(SimBus& bus, Clock& clock) : bus_(bus), clock_(clock) {}

Bytes SimGateway::Handle(const Bytes& requestPdu) {
    std::lock_guard lock(mutex_);
    if (requestPdu.empty()) return {};
    return {static_cast<uint8_t>(requestPdu[0] | 0x80), 0x01};  // first cut: illegal function
}

uint8_t SimGateway::UnitAddress() const { return 1; }
void SimGateway::SetUnitAddress(uint8_t) {}
void SimGateway::SetEntryRegisters(int) {}
void SimGateway::Activate(uint8_t) {}

}  // namespace tarnel::sim
