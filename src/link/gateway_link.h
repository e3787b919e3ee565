#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>

#include "base/clock.h"
#include "link/request_frames.h"
#include "link/response_parsers.h"
#include "link/transport.h"

namespace tarnel {

class Dialogs;
class Log;
class SerialPacer;
class StatusPanels;

// The link to the gateway: which of the two links is up, the receive
// buffers, the reply-kind flags, the senders of every request, and the steps
// every operation takes around a request (guard, prepare, send, take the
// reply). At most one link is in use: opening the serial port closes TCP.
class GatewayLink : public QObject {
    Q_OBJECT
public:
    // Texts of the serial port's combo boxes, as typed.
    struct SerialTexts {
        QString name, speed, parity, stop;
    };
    using Sent = std::function<void()>;

    // No reply is longer than 260 bytes; a buffer keeps at most this much and
    // drops what a flooding peer sends beyond it.
    static constexpr qsizetype kMaxBuffer = 64 * 1024;

    GatewayLink(SerialTransport& serial, TcpTransport& tcp, Clock& clock, Log& log,
                StatusPanels& status, Dialogs& dialogs, QObject* parent = nullptr);
    ~GatewayLink() override;

    Clock& clock() const { return clock_; }

    // --- link state ---
    bool SerialOpen() const { return serialOpen_; }
    bool TcpMode() const { return tcpMode_; }
    int TransactionId() const { return transactionId_; }
    bool CommandReplyPending = false;  // the awaited reply answers a command
    bool DeviceCountPending = false;   // the awaited reply is the active-device bit map
    uint8_t ActiveDeviceCount = 0;

    // --- receive buffers (any thread) ---
    QByteArray SerialRxBuffer() const;
    QByteArray TcpRxBuffer() const;
    void clearBuffers();

    // --- the steps of every operation ---
    // False, with the line "Serial or TCP port for modbus is not open...",
    // when neither link is up.
    bool requireLink();
    // Empties both buffers and, with the serial port open, purges its queues.
    void prepareRequest();
    // What the active link has received, in RTU form, logged as "RCVD:"
    // (unless the caller logs that line itself, later).
    QByteArray takeReply(bool logReceived = true);
    // Writes a parser's lines to the log and a CRC error to the status bar.
    void report(const ParseReport& parsed);

    // --- senders: RTU with pacing, or Modbus TCP while TcpMode; `sent` runs
    // once the request has left ---
    bool SendWriteRegisters(int slave, int startRegister, int byteCount, QByteArrayView payload,
                            Sent sent = {});
    void SendWriteSingleRegister(int slave, int registerNumber, uint8_t valueHigh, uint8_t valueLow,
                                 Sent sent = {});
    void SendReadInputRegisters(int slave, int startRegister, int quantity, Sent sent = {});
    void SendReadHoldingRegisters(int slave, int startRegister, int quantity, Sent sent = {});
    void SendReadDeviceId(int slave, uint8_t readDeviceIdCode, Sent sent = {});
    bool SendSetClock(int slave, int startRegister, int registerCount, Sent sent = {});
    bool SendWriteRegistersTcp(int slave, int startRegister, int byteCount, QByteArrayView payload,
                               Sent sent = {});
    void SendWriteSingleRegisterTcp(int slave, int registerNumber, uint8_t valueHigh,
                                    uint8_t valueLow, Sent sent = {});
    void SendReadInputRegistersTcp(int slave, int startRegister, int quantity, Sent sent = {});
    void SendReadHoldingRegistersTcp(int slave, int startRegister, int quantity, Sent sent = {});
    void SendReadDeviceIdTcp(int slave, uint8_t readDeviceIdCode, Sent sent = {});
    bool SendSetClockTcp(int slave, int startRegister, int registerCount, Sent sent = {});

    // Raw writes of the command console (serial only, no pacing, no RTS).
    bool writeRawByte(uint8_t byte);
    bool writeRawText(const QByteArray& text);

    // --- port management ---
    void Butt_open_port2Click(const SerialTexts& texts);  // toggles the serial port
    void openSerial(const SerialTexts& texts);
    void closeSerial();
    void Butt_connect_xportClick(const QString& ip, const QString& port, int ethTimeoutPosition);
    void BitBtn24Click();  // disconnect TCP
    // At close of the program: the serial port closed, the socket inactive.
    void shutdown();
    // The connect wait of a TCP connect is running.
    bool connectWaiting() const;

signals:
    // SerialOpen or TcpMode changed.
    void stateChanged();

private:
    void sendRequest(const ModbusRequest& request, Sent sent);
    void sendTcp(const QByteArray& adu, Sent sent);
    void append(QByteArray& buffer, const QByteArray& bytes);
    void onTcpConnected();
    void onTcpDisconnected();
    void onSerialLost(const QString& reason);

    SerialTransport& serial_;
    TcpTransport& tcp_;
    Clock& clock_;
    Log& log_;
    StatusPanels& status_;
    Dialogs& dialogs_;
    SerialPacer* pacer_;
    Timer* connectWait_;

    bool serialOpen_ = false;
    bool tcpMode_ = false;
    std::atomic<int> transactionId_{1000};
    QString serialDeviceName_;
    QString tcpHostText_;

    mutable std::mutex buffersLock_;
    QByteArray serialRxBuffer_;
    QByteArray tcpRxBuffer_;
};

}  // namespace tarnel
