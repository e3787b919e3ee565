#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/owner_hand_over.h"
#include "serial/serial_device.h"
#include "serial/serial_settings.h"
#include "serial/serial_types.h"

namespace tarnel {

class TSerialEventThread;

// A serial port with its line settings, an event thread that reports
// received bytes, line errors and a hang-up on the owner's thread (the thread
// the port lives in), and writes straight to the device on the caller's
// thread. Every error is an ESerialPortError.
class TCustomSerialPort : public QObject {
    Q_OBJECT
public:
    explicit TCustomSerialPort(QObject* parent = nullptr);
    ~TCustomSerialPort() override;

    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    TBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TBaudrate value);
    int UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    TDatabits Databits() const { return databits_; }
    void SetDatabits(TDatabits value);
    TStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TStopbits value);
    TSerialOptions Options() const { return options_; }
    void SetOptions(TSerialOptions value);
    TSerialEventChars& EventChars() { return eventChars_; }
    TSerialFlowControl& FlowControl() { return flowControl_; }
    TSerialBuffers& Buffers() { return buffers_; }

    // The following refuse while the port is open.
    int PortNum() const { return portNum_; }
    void SetPortNum(int value);
    // A format with one integer placeholder (%d) for PortNum, or a name.
    QString DeviceName() const { return deviceName_; }
    void SetDeviceName(const QString& value);
    TSerialEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TSerialEvents value);
    bool UpdateDCB() const { return updateDcb_; }
    void SetUpdateDCB(bool value);

    // The event thread's priority is kept for the settings' sake; Linux gives
    // normal threads no priorities to choose from.
    int EventPriority() const { return eventPriority_; }
    void SetEventPriority(int value) { eventPriority_ = value; }

    // The device name with PortNum filled in, and the path it opens.
    QString FormattedDeviceName() const;

    void Open();
    void Close();
    bool IsOpen() const { return device_.isOpen(); }
    // Opens the port if AutoOpen is set (once the owner has set it up).
    void Loaded();

    long WriteBytes(const uint8_t* data, long count);
    bool WriteByte(uint8_t byte);
    bool WriteText(const QByteArray& text);
    long ReadBytes(uint8_t* buffer, long count);
    void Purge(uint32_t flags);
    void PurgeAll() { Purge(kPurgeAll); }
    void SetRts(bool on);
    TSerialStatus ReadStatus();
    int InputCount();
    int OutputFree();
    // Everything written has left the transmitter (true while closed).
    bool TransmitterEmpty() const { return device_.transmitterEmpty(); }

    bool EventThreadRunning() const { return eventThread_ != nullptr; }

    // Purge flags: abort and clear of either direction.
    static constexpr uint32_t kPurgeTxAbort = 0x1, kPurgeRxAbort = 0x2, kPurgeTxClear = 0x4,
                              kPurgeRxClear = 0x8, kPurgeAll = 0xF;

    // Run on the owner's thread. OnRxChar gets the number of bytes waiting
    // (at most the read size); OnError gets the error bits of ReadStatus, or
    // ceHangup once the other side went away and the port has closed. An
    // exception thrown by either is logged and the events go on.
    std::function<void(TCustomSerialPort&, uint32_t errors)> OnError;
    std::function<void(TCustomSerialPort&, int count)> OnRxChar;

private:
    void refuseWhileOpen() const;
    void applyLineSettings();
    LineSettings lineSettings() const;
    void dispatchEvents(TSerialEvents events, bool hangup);
    void reportException(const std::exception& error);
    [[noreturn]] void raiseOsError(const char* format, int code) const;

    bool autoOpen_ = false;
    TBaudrate baudrate_ = br1200;
    int userBaudrate_ = 0;
    TParity parity_ = paNone;
    TDatabits databits_ = db8;
    TStopbits stopbits_ = sb1;
    TSerialOptions options_ = 0;
    TSerialEventChars eventChars_;
    TSerialFlowControl flowControl_;
    TSerialBuffers buffers_;
    int portNum_ = 0;
    QString deviceName_ = QStringLiteral("COM%d");
    TSerialEvents monitorEvents_ = ceError | ceRxChar;
    int eventPriority_ = 0;
    bool updateDcb_ = true;

    SerialDevice device_;
    LineErrorCounts lastCounts_;  // as of the last ReadStatus
    std::mutex readLock_;         // reads, status queries, purges, closing
    std::mutex writeLock_;        // writes
    OwnerHandOver handOver_;
    std::unique_ptr<TSerialEventThread> eventThread_;
};

// The port as the program uses it.
class TSerialPort : public TCustomSerialPort {
    Q_OBJECT
public:
    using TCustomSerialPort::TCustomSerialPort;
};

}  // namespace tarnel
