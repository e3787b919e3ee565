#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_bus.h"

namespace tarnel::sim {

// Faults the simulated gateway puts on its replies.
enum class FaultKind {
    NoReply,      // the request is not answered
    WrongCrc,     // the reply's CRC does not match (RTU)
    Filler,       // one 0x00 byte after the reply
    LeadingZero,  // one 0x00 byte before the reply
    Exception,    // the exception reply with code `value`
    Delay,        // the reply comes `value` ms late
    Split,        // the reply comes in two writes, `value` ms apart
    ShortTcp,     // a TCP answer of 5 bytes
    Close,        // the connection is closed instead of answered (TCP)
    HangUp,       // the link goes away instead of answering: the serial device
                  // hangs up (in-memory serial), the TCP connection is closed
    Double,       // the reply twice, back to back in one write
    WrongTid,     // the reply carries the request's transaction id + 1 (TCP)
    WrongUnit,    // the reply carries unit `value`, or the request's unit + 1 when 0
    Stale,        // the reply to the previous request again, in place of this one's
};

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int value = 0;
    int count = 1;                      // requests it hits; -1 for every matching request
    std::optional<int> function;        // only requests of this function
    std::optional<int> registerNumber;  // only requests starting at this register
};

// "crc", "no-reply", ... ; nothing for an unknown name.
std::optional<FaultKind> FaultKindFromName(const std::string& name);
// "KIND[,count=N][,function=F][,register=R][,value=V]", as tarnel-sim takes it.
std::optional<Fault> ParseFault(const std::string& text, std::string* error);

// The faults waiting for the next requests. Thread-safe.
class FaultPlan {
public:
    void Add(const Fault& fault);
    void Clear();
    // The faults that hit a request of `function` at `registerNumber` (-1 when
    // it has none); each use counts against its fault.
    std::vector<Fault> Take(int function, int registerNumber);

private:
    std::mutex mutex_;
    std::vector<Fault> faults_;
};

}  // namespace tarnel::sim
