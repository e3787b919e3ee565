#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "base/clock.h"
#include "sim/faults.h"
#include "sim/line_settings.h"
#include "sim/modbus_framing.h"
#include "sim/sim_gateway.h"

namespace tarnel::sim {

// One request or reply as it went over the wire.
struct WireRecord {
    qint64 atMs = 0;  // the clock's elapsed time
    bool request = true;
    Bytes bytes;
};

// A part of a reply and when it goes out, after the request came in: the
// gateway's time on the M-Bus (an activation) and any delay a fault adds.
struct ReplyChunk {
    int delayMs = 0;
    Bytes bytes;
};

// What the gateway does about one request.
struct Exchange {
    std::optional<ModbusFrame> request;  // nothing when the frame was not a request
    Bytes replyPdu;
    std::vector<ReplyChunk> chunks;  // nothing to send when empty
    bool faulted = false;            // a fault changed the reply
    bool close = false;              // the link goes away: closed, or the device hung up
};

// The gateway behind one kind of framing: it answers whole request frames,
// applies the faults planned for them, and keeps a record of the wire.
// Thread-safe.
class SimEndpoint {
public:
    SimEndpoint(SimGateway& gateway, Clock& clock, Framing framing);

    Exchange Answer(const Bytes& frame);
    // A request as it came over a client's serial line: answered as Answer
    // does when the client's line is the gateway's (or the gateway has none
    // set), else the garbled bytes a client at the wrong speed or parity
    // receives, whatever unit the request named: the gateway cannot read it.
    Exchange AnswerOn(const LineSettings& client, const Bytes& frame);
    // The line the gateway is set to; none: it answers whatever the client's.
    void SetLine(std::optional<LineSettings> line) { line_ = line; }
    const std::optional<LineSettings>& line() const { return line_; }
    // A reply (or part of one) has been written.
    void RecordReply(const Bytes& bytes);

    Framing framing() const { return framing_; }
    FaultPlan& faults() { return faults_; }
    SimGateway& gateway() { return gateway_; }
    std::vector<WireRecord> Records() const;
    void ClearRecords();
    // Called with every record as it is made (tarnel-sim -v).
    void SetObserver(std::function<void(const WireRecord&)> observer);

private:
    void record(bool request, const Bytes& bytes);

    SimGateway& gateway_;
    Clock& clock_;
    const Framing framing_;
    FaultPlan faults_;
    std::optional<LineSettings> line_;
    Bytes lastReplyPdu_;  // for a stale reply
    mutable std::mutex recordsLock_;
    std::vector<WireRecord> records_;
    std::function<void(const WireRecord&)> observer_;
};

}  // namespace tarnel::sim
