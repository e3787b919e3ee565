#pragma once

#include <cstdint>
#include <functional>

#include "serial/serial_types.h"

namespace tarnel {

// A group of the port's settings. Before a change the owner may refuse it
// (by throwing); after one it is notified. Between BeginUpdate and the last
// EndUpdate notifications are held back, and the last EndUpdate sends one.
class TSerialSettings {
public:
    virtual ~TSerialSettings() = default;

    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    std::function<void()> OnChanging;  // may throw to refuse the change
    std::function<void()> OnChange;

protected:
    template <typename T>
    void set(T& field, T value) {
        if (field == value) return;
        if (OnChanging) OnChanging();
        field = value;
        changed();
    }

private:
    void changed();

    int updateCount_ = 0;
    bool pending_ = false;
};

// Buffer sizes, a time-out and flow-control limits. ReadTimeout (ms) bounds
// how long a write waits for the driver to take the bytes.
class TSerialBuffers : public TSerialSettings {
public:
    int ReadSize() const { return readSize_; }
    int WriteSize() const { return writeSize_; }
    int ReadTimeout() const { return readTimeout_; }
    int XonLimit() const { return xonLimit_; }
    int XoffLimit() const { return xoffLimit_; }
    void SetReadSize(int v) { set(readSize_, v); }
    void SetWriteSize(int v) { set(writeSize_, v); }
    void SetReadTimeout(int v) { set(readTimeout_, v); }
    void SetXonLimit(int v) { set(xonLimit_, v); }
    void SetXoffLimit(int v) { set(xoffLimit_, v); }

private:
    int readSize_ = 4096, writeSize_ = 2048, readTimeout_ = 1000;
    int xonLimit_ = 1024, xoffLimit_ = 1024;
};

// The special characters of the line.
class TSerialEventChars : public TSerialSettings {
public:
    uint8_t XonChar() const { return xon_; }
    uint8_t XoffChar() const { return xoff_; }
    uint8_t ErrorChar() const { return error_; }
    uint8_t EventChar() const { return event_; }
    uint8_t EofChar() const { return eof_; }
    void SetXonChar(uint8_t v) { set(xon_, v); }
    void SetXoffChar(uint8_t v) { set(xoff_, v); }
    void SetErrorChar(uint8_t v) { set(error_, v); }
    void SetEventChar(uint8_t v) { set(event_, v); }
    void SetEofChar(uint8_t v) { set(eof_, v); }

private:
    uint8_t xon_ = 17, xoff_ = 19, error_ = 0, event_ = 0, eof_ = 0;
};

// Handshake settings.
class TSerialFlowControl : public TSerialSettings {
public:
    bool OutCtsFlow() const { return outCts_; }
    bool OutDsrFlow() const { return outDsr_; }
    TDtrControl ControlDtr() const { return dtr_; }
    TRtsControl ControlRts() const { return rts_; }
    bool XonXoffOut() const { return xonOut_; }
    bool XonXoffIn() const { return xonIn_; }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinue_; }
    void SetOutCtsFlow(bool v) { set(outCts_, v); }
    void SetOutDsrFlow(bool v) { set(outDsr_, v); }
    void SetControlDtr(TDtrControl v) { set(dtr_, v); }
    void SetControlRts(TRtsControl v) { set(rts_, v); }
    void SetXonXoffOut(bool v) { set(xonOut_, v); }
    void SetXonXoffIn(bool v) { set(xonIn_, v); }
    void SetDsrSensitivity(bool v) { set(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { set(txContinue_, v); }

private:
    bool outCts_ = false, outDsr_ = false;
    TDtrControl dtr_ = dtrDisabled;
    TRtsControl rts_ = rtsDisabled;
    bool xonOut_ = false, xonIn_ = false, dsrSensitivity_ = false, txContinue_ = false;
};

}  // namespace tarnel
