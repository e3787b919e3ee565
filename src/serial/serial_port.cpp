#include "serial/serial_port.h"

#include <QtGlobal>
#include <cerrno>

#include "serial/device_names.h"
#include "serial/serial_threads.h"

namespace tarnel {

TCustomSerialPort::TCustomSerialPort(QObject* parent)
    : QObject(parent),
      handOver_(this, [this](const std::exception& error) { reportException(error); }) {
    // Line settings take effect at once; buffer sizes only while closed.
    for (TSerialSettings* group : {static_cast<TSerialSettings*>(&eventChars_),
                                   static_cast<TSerialSettings*>(&flowControl_)})
        group->OnChange = [this] { applyLineSettings(); };
    buffers_.OnChanging = [this] { refuseWhileOpen(); };
}

TCustomSerialPort::~TCustomSerialPort() {
    Close();
}

void TCustomSerialPort::refuseWhileOpen() const {
    if (IsOpen()) throw ESerialPortError("Can't perform this operation while port is open");
}

void TCustomSerialPort::raiseOsError(const char* format, int code) const {
    throw ESerialPortError(QString::fromLatin1(format).arg(code).arg(osErrorText(code)));
}

// --- properties ------------------------------------------------------------

void TCustomSerialPort::SetBaudrate(TBaudrate value) {
    baudrate_ = value;
    if (value != brUser) userBaudrate_ = 0;
    applyLineSettings();
}

void TCustomSerialPort::SetUserBaudrate(int value) {
    userBaudrate_ = value;
    baudrate_ = brUser;
    applyLineSettings();
}

void TCustomSerialPort::SetParity(TParity value) {
    parity_ = value;
    applyLineSettings();
}

void TCustomSerialPort::SetDatabits(TDatabits value) {
    databits_ = value;
    applyLineSettings();
}

void TCustomSerialPort::SetStopbits(TStopbits value) {
    stopbits_ = value;
    applyLineSettings();
}

void TCustomSerialPort::SetOptions(TSerialOptions value) {
    options_ = value;
    applyLineSettings();
}

void TCustomSerialPort::SetPortNum(int value) {
    refuseWhileOpen();
    portNum_ = value;
}

void TCustomSerialPort::SetDeviceName(const QString& value) {
    refuseWhileOpen();
    deviceName_ = value;
}

void TCustomSerialPort::SetMonitorEvents(TSerialEvents value) {
    refuseWhileOpen();
    monitorEvents_ = value;
}

void TCustomSerialPort::SetUpdateDCB(bool value) {
    refuseWhileOpen();
    updateDcb_ = value;
}

QString TCustomSerialPort::FormattedDeviceName() const {
    QString name = deviceName_;
    return name.replace(QLatin1String("%d"), QString::number(portNum_));
}

LineSettings TCustomSerialPort::lineSettings() const {
    LineSettings line;
    line.baudrate = baudrate_ == brUser ? userBaudrate_ : baudrateValue(baudrate_);
    line.parity = parity_;
    line.dataBits = 4 + databits_;
    line.stopBits = stopbits_;
    line.ctsFlow = flowControl_.OutCtsFlow() || flowControl_.ControlRts() == rtsHandshake;
    line.xonXoffOut = flowControl_.XonXoffOut();
    line.xonXoffIn = flowControl_.XonXoffIn();
    line.parityCheck = options_ & coParityCheck;
    line.xonChar = eventChars_.XonChar();
    line.xoffChar = eventChars_.XoffChar();
    line.dtr = flowControl_.ControlDtr() != dtrDisabled;
    return line;
}

void TCustomSerialPort::applyLineSettings() {
    if (!IsOpen() || !updateDcb_) return;
    if (const int error = device_.applyLineSettings(lineSettings()))
        raiseOsError("Error writing dcb (%1), %2", error);
}

// --- open and close --------------------------------------------------------

void TCustomSerialPort::Open() {
    refuseWhileOpen();
    const QString name = FormattedDeviceName();
    const QString path = serialDevicePath(name);
    const QString typed = typedDeviceName(name);
    const QString shown = typed == path ? typed : typed + " as " + path;
    if (const int error = device_.open(path)) {
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            throw ESerialPortError(QStringLiteral("Specified device not found (%1: %2).")
                                       .arg(shown, osErrorText(error)));
        throw ESerialPortError(QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                                   .arg(shown)
                                   .arg(error)
                                   .arg(osErrorText(error)));
    }
    lastCounts_ = device_.errorCounts();
    try {
        applyLineSettings();
        handOver_.Reset();
        if (monitorEvents_ != 0)
            eventThread_ = std::make_unique<TSerialEventThread>(
                device_, monitorEvents_, handOver_,
                [this](TSerialEvents events, bool hangup) { dispatchEvents(events, hangup); });
    } catch (...) {
        handOver_.Cancel();
        eventThread_.reset();
        device_.close();
        throw;
    }
}

void TCustomSerialPort::Close() {
    if (!IsOpen()) return;
    // Release the event thread if it waits for a hand-over, then join it.
    handOver_.Cancel();
    eventThread_.reset();
    std::lock_guard lock(readLock_);
    device_.close();
}

void TCustomSerialPort::Loaded() {
    if (autoOpen_ && !IsOpen()) Open();
}

// --- events ----------------------------------------------------------------

void TCustomSerialPort::dispatchEvents(TSerialEvents events, bool hangup) {
    if (events & ceRxChar) {
        const int waiting = std::min(InputCount(), buffers_.ReadSize());
        if (waiting > 0 && OnRxChar) OnRxChar(*this, waiting);
    }
    if (events & ceError) {
        const TSerialStatus status = ReadStatus();
        if (status.errors != 0 && OnError) OnError(*this, status.errors);
    }
    if (hangup && IsOpen()) {
        // The other side is gone: say so and end in the closed state.
        Close();
        if (OnError) OnError(*this, ceHangup);
    }
}

void TCustomSerialPort::reportException(const std::exception& error) {
    qWarning("serial port: %s", error.what());
}

// --- reading, writing and the line -----------------------------------------

long TCustomSerialPort::WriteBytes(const uint8_t* data, long count) {
    if (!IsOpen() || count <= 0) return 0;
    std::lock_guard lock(writeLock_);
    const long written = device_.write(data, count, buffers_.ReadTimeout());
    if (written < 0) raiseOsError("Write error (%1), %2", static_cast<int>(-written));
    return written;
}

bool TCustomSerialPort::WriteByte(uint8_t byte) {
    return WriteBytes(&byte, 1) == 1;
}

bool TCustomSerialPort::WriteText(const QByteArray& text) {
    const auto* data = reinterpret_cast<const uint8_t*>(text.constData());
    return WriteBytes(data, text.size()) == text.size();
}

long TCustomSerialPort::ReadBytes(uint8_t* buffer, long count) {
    if (!IsOpen()) return 0;
    long got;
    {
        std::lock_guard lock(readLock_);
        got = device_.read(buffer, count);
    }
    if (got < 0) raiseOsError("Read error (%1), %2", static_cast<int>(-got));
    if (got > 0 && eventThread_) eventThread_->InputConsumed();
    return got;
}

void TCustomSerialPort::Purge(uint32_t flags) {
    if (!IsOpen()) return;
    std::lock_guard lock(readLock_);
    const bool input = flags & (kPurgeRxAbort | kPurgeRxClear);
    const bool output = flags & (kPurgeTxAbort | kPurgeTxClear);
    if (const int error = device_.flush(input, output))
        raiseOsError("Error clearing buffers (%1), %2", error);
    if (input && eventThread_) eventThread_->InputConsumed();
}

void TCustomSerialPort::SetRts(bool on) {
    const TRtsControl control = flowControl_.ControlRts();
    if (control == rtsHandshake || control == rtsToggle)
        throw ESerialPortError(
            "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    if (!IsOpen()) return;
    if (const int error = device_.setRts(on))
        raiseOsError("Error calling comm function (%1), %2", error);
}

TSerialStatus TCustomSerialPort::ReadStatus() {
    TSerialStatus status;
    if (!IsOpen()) return status;
    std::lock_guard lock(readLock_);
    const LineErrorCounts now = device_.errorCounts();
    if (now.bufferOverrun != lastCounts_.bufferOverrun) status.errors |= ceRxOver;
    if (now.overrun != lastCounts_.overrun) status.errors |= ceOverrun;
    if (now.parity != lastCounts_.parity) status.errors |= ceRxParity;
    if (now.frame != lastCounts_.frame) status.errors |= ceFrame;
    if (now.breaks != lastCounts_.breaks) status.errors |= ceBreakBit;
    lastCounts_ = now;
    status.inQueue = device_.inputCount();
    status.outQueue = device_.outputCount();
    return status;
}

int TCustomSerialPort::InputCount() {
    return IsOpen() ? device_.inputCount() : 0;
}

int TCustomSerialPort::OutputFree() {
    if (!IsOpen()) return 0;
    return buffers_.WriteSize() - device_.outputCount();
}

}  // namespace tarnel
