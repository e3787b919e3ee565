#pragma once

#include <cstdint>

namespace tarnel {

// The one record of the M-Bus operations: the scan, the single requests, the
// secondary search and the meter changes all read and write it.
struct MbusJobState {
    int currentAddress = 0;    // the address the scan requests now
    int retryCount = 0;        // retries made for the current address or request
    bool scanRunning = false;  // a primary scan runs; the decoder appends rows
    bool singleRead = false;   // a request to the selected meter awaits its reply
    bool noAnswer = false;     // the current request counts as unanswered
    bool dataPhase = false;    // false: the status read is pending; true: the data read
    int registerCount = 0;     // data registers to read in the data phase
    bool rawReply = false;     // the search wants the telegram undecoded
    bool matchById = false;    // the decoder matches rows by identification number
    int selectedAddress = -1;  // primary address of the selected row; -1: none
    int selectedRow = 0;       // index of the selected row; 0 before any selection
    bool searchIdle = true;    // neither the search nor the bulk address change runs
    int bulkRow = 0;           // the next row of the bulk address change
};

}  // namespace tarnel
