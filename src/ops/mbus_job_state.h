#pragma once

#include <atomic>

namespace tarnel {

// The one record of the M-Bus operations: the scan, the single requests, the
// secondary search and the meter changes all read and write it. The search
// runs on a worker thread while the window reads the selection, so every
// field is atomic.
struct MbusJobState {
    std::atomic<int> currentAddress{0};    // the address the scan requests now
    std::atomic<int> retryCount{0};        // retries made for the current address or request
    std::atomic<bool> scanRunning{false};  // a primary scan runs; the decoder appends rows
    std::atomic<bool> singleRead{false};   // a request to the selected meter awaits its reply
    std::atomic<bool> noAnswer{false};     // the current request counts as unanswered
    std::atomic<bool> rawReply{false};     // the search wants the telegram undecoded
    std::atomic<bool> matchById{false};    // the decoder matches rows by identification number
    std::atomic<int> selectedAddress{-1};  // primary address of the selected row; -1: none
    std::atomic<int> selectedRow{0};       // index of the selected row; 0 before any selection
    std::atomic<bool> searchIdle{true};    // neither the search nor the bulk address change runs
    std::atomic<int> bulkRow{0};           // the next row of the bulk address change
};

}  // namespace tarnel
