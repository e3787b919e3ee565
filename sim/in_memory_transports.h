#pragma once

#include "base/clock.h"
#include "link/transport.h"
#include "sim/sim_endpoint.h"

namespace tarnel::sim {

// The tool's serial link wired straight to the simulated gateway, on the
// clock it is given: bytes written reach the gateway at once, its reply comes
// back after the time it takes on a line at the opened speed (11 bits a
// byte) plus any delay a fault adds; at a line the gateway is not set to,
// garbled bytes come back instead. A request the gateway answers by
// closing the link (a hang-up or close fault) makes the device go away, as an
// unplugged adapter does: the port is closed and lost() reported.
class InMemorySerial final : public SerialTransport {
    Q_OBJECT
public:
    InMemorySerial(SimEndpoint& endpoint, Clock& clock, QObject* parent = nullptr);

    QString busyReason;  // non-empty: the port is busy for this reason
    int rtsChanges = 0;

    QString probe(const QString& deviceName) override;
    void open(const QString& deviceName, const Line& line) override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool writeByte(uint8_t byte) override;
    bool writeText(const QByteArray& text) override;
    void setRts(bool on) override;
    void purgeAll() override { inbound_.clear(); }
    // The device goes away: closed, and lost() reported.
    void hangUp();

private:
    void answerWhole();

    SimEndpoint& endpoint_;
    Clock& clock_;
    bool open_ = false;
    LineSettings line_;
    Bytes inbound_;
    // One talker on the line: a reply never starts before the one before it
    // has gone out, so a late reply holds back every reply after it.
    qint64 repliesDoneAt_ = 0;
};

// The tool's TCP link wired straight to the simulated gateway.
class InMemoryTcp final : public TcpTransport {
    Q_OBJECT
public:
    InMemoryTcp(SimEndpoint& endpoint, Clock& clock, QObject* parent = nullptr);

    bool refuse = false;  // connects fail with 10061

    void connectToHost(const QString& host, uint16_t port) override;
    void abort() override;
    void send(const QByteArray& frame) override;
    bool isConnected() const { return connected_; }

private:
    SimEndpoint& endpoint_;
    Clock& clock_;
    bool connected_ = false;
    Bytes inbound_;
};

// Runs `action` once, `delayMs` from now on `clock`.
void After(Clock& clock, QObject* owner, int delayMs, std::function<void()> action);

}  // namespace tarnel::sim
