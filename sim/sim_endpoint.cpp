#include "sim/sim_endpoint.h"

namespace tarnel::sim {
namespace {

int startRegister(const Bytes& pdu) {
    return pdu.size() >= 3 ? pdu[1] << 8 | pdu[2] : -1;
}

// The header the reply goes out with: the request's, unless a fault changes
// its transaction id (TCP) or its unit.
ModbusFrame replyHeader(ModbusFrame header, const std::vector<Fault>& faults, Framing framing) {
    for (const Fault& fault : faults) {
        if (fault.kind == FaultKind::WrongTid && framing == Framing::Tcp) ++header.transaction;
        if (fault.kind == FaultKind::WrongUnit)
            header.unit = fault.value > 0 ? static_cast<uint8_t>(fault.value)
                                          : static_cast<uint8_t>(header.unit % 255 + 1);
    }
    return header;
}

bool has(const std::vector<Fault>& faults, FaultKind kind) {
    return std::any_of(faults.begin(), faults.end(),
                       [kind](const Fault& f) { return f.kind == kind; });
}

// The reply frame, after the gateway's own delay, with the faults that
// change its bytes or its timing.
std::vector<ReplyChunk> shape(Bytes frame, int delay, const std::vector<Fault>& faults,
                              Framing framing) {
    int splitGap = -1;
    for (const Fault& fault : faults) {
        switch (fault.kind) {
            case FaultKind::WrongCrc:
                if (framing == Framing::Rtu && !frame.empty()) frame.back() ^= 0xFF;
                break;
            case FaultKind::Filler:
                frame.push_back(0x00);
                break;
            case FaultKind::LeadingZero:
                frame.insert(frame.begin(), 0x00);
                break;
            case FaultKind::ShortTcp:
                frame.resize(std::min<size_t>(frame.size(), 5));
                break;
            case FaultKind::Delay:
                delay += fault.value;
                break;
            case FaultKind::Split:
                splitGap = fault.value;
                break;
            default:
                break;
        }
    }
    if (has(faults, FaultKind::Double)) {
        const Bytes once = frame;
        frame.insert(frame.end(), once.begin(), once.end());
    }
    if (splitGap < 0 || frame.size() < 2) return {{delay, frame}};
    const auto half = frame.begin() + static_cast<long>(frame.size() / 2);
    return {{delay, Bytes(frame.begin(), half)}, {delay + splitGap, Bytes(half, frame.end())}};
}

}  // namespace

SimEndpoint::SimEndpoint(SimGateway& gateway, Clock& clock, Framing framing)
    : gateway_(gateway), clock_(clock), framing_(framing) {}

Exchange SimEndpoint::Answer(const Bytes& frame) {
    record(true, frame);
    Exchange exchange;
    exchange.request = ParseRequest(frame, framing_);
    if (!exchange.request || exchange.request->pdu.empty()) return exchange;
    const ModbusFrame& request = *exchange.request;
    const bool broadcast = request.unit == 0;
    if (!broadcast && !gateway_.IsAddressed(request.unit)) return exchange;

    const std::vector<Fault> faults = faults_.Take(request.pdu[0], startRegister(request.pdu));
    exchange.faulted = !faults.empty();
    exchange.close = has(faults, FaultKind::Close) || has(faults, FaultKind::HangUp);
    const auto exception = std::find_if(faults.begin(), faults.end(), [](const Fault& f) {
        return f.kind == FaultKind::Exception;
    });
    int delay = 0;
    if (exception != faults.end()) {
        exchange.replyPdu = {static_cast<uint8_t>(request.pdu[0] | 0x80),
                             static_cast<uint8_t>(exception->value)};
    } else {
        SimGateway::Reply reply = gateway_.Serve(request.pdu);
        exchange.replyPdu = std::move(reply.pdu);
        delay = static_cast<int>(reply.delayMs);
    }
    if (has(faults, FaultKind::Stale) && !lastReplyPdu_.empty())
        std::swap(exchange.replyPdu, lastReplyPdu_);
    else
        lastReplyPdu_ = exchange.replyPdu;
    if (broadcast || exchange.close || has(faults, FaultKind::NoReply) || exchange.replyPdu.empty())
        return exchange;
    const ModbusFrame header = replyHeader(request, faults, framing_);
    exchange.chunks =
        shape(ReplyFrame(header, exchange.replyPdu, framing_), delay, faults, framing_);
    return exchange;
}

Exchange SimEndpoint::AnswerOn(const LineSettings& client, const Bytes& frame) {
    if (!line_ || client == *line_) return Answer(frame);
    record(true, frame);
    Exchange exchange;
    exchange.chunks = {{0, GarbledOnWrongLine(frame)}};
    return exchange;
}

void SimEndpoint::RecordReply(const Bytes& bytes) {
    record(false, bytes);
}

std::vector<WireRecord> SimEndpoint::Records() const {
    std::lock_guard lock(recordsLock_);
    return records_;
}

void SimEndpoint::ClearRecords() {
    std::lock_guard lock(recordsLock_);
    records_.clear();
}

void SimEndpoint::SetObserver(std::function<void(const WireRecord&)> observer) {
    std::lock_guard lock(recordsLock_);
    observer_ = std::move(observer);
}

void SimEndpoint::record(bool request, const Bytes& bytes) {
    std::lock_guard lock(recordsLock_);
    records_.push_back({clock_.elapsed(), request, bytes});
    if (observer_) observer_(records_.back());
}

}  // namespace tarnel::sim
