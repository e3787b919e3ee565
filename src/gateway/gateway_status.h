#pragma once

#include <QObject>
#include <array>
#include <functional>
#include <optional>

#include "base/clock.h"
#include "gateway/gateway_events.h"
#include "link/exchange.h"
#include "link/gateway_errors.h"
#include "link/request_frames.h"
#include "link/response_parsers.h"
#include "ops/results.h"

namespace tarnel {

class GatewayLink;
class RegisterView;

// "a.b.c.d" as four bytes; nothing unless there are exactly four decimal
// parts below 256.
std::optional<std::array<uint8_t, 4>> ParseDottedAddress(const QString& text);

// The holding register of a network setting named as in "Select IP setting
// type:"; nothing for another text.
std::optional<int> IpSettingRegister(const QString& name);

// Reads the gateway's status and network settings in fourteen steps, one
// event an answer, and programs its network settings.
class GatewayStatus : public QObject {
    Q_OBJECT
public:
    GatewayStatus(GatewayLink& link, Timer& timerStatus, RegisterView& replies,
                  QObject* parent = nullptr);
    // Its exchange ends with it.
    ~GatewayStatus() override;

    // "Read Status of Corvane-64"; `finished` follows when it started.
    static constexpr int kSteps = 14;

    bool readStatus(int slave, int timeoutMs);
    // Ends a read that runs at once, with what it got (Ending::Stopped).
    void stop();
    // The network settings' writes. Each returns whether it sent its
    // command; when it did, the register view's one `commandFinished`
    // follows with the reply.
    // "Program IP": the setting as "Select IP setting type:" names it, and
    // the address as ParseDottedAddress reads it (nothing: not an address).
    bool programIp(int slave, const QString& setting,
                   const std::optional<std::array<uint8_t, 4>>& address);
    // Listen port "Save"; nothing for an empty box.
    bool setListenPort(int slave, std::optional<int> port);
    // Serial number "Save".
    bool setSerialNumber(int slave, const QString& serialNumber);

    int step() const { return step_; }

    // Called with true when the gateway's version asks for 28-register
    // entries ("v 0.3"), false for 24 ("v 0.2").
    std::function<void(bool version3)> setVersion;

signals:
    // What the read and the writes tell as they go (the presenter words it).
    void event(const GatewayEvent& event);
    void finished(const StatusResult& result);
    // The gateway answered the version read ("Modbus card version: high.low").
    void versionRead(int high, int low);

private:
    void say(const GatewayEvent& answer);
    void report(const ParseReport& parsed);
    void end(Ending ending);
    ModbusRequest stepRequest() const;
    void sendStep();
    void Timer_statusTimer(const ExchangeResult& result);
    void connectionLost();
    void decodeStep(const QByteArray& reply);
    void writeNetworkSetting(int slave, int registerNumber, const QByteArray& bytes,
                             const GatewayEvent& told);

    GatewayLink& link_;
    Timer& timer_;
    RegisterView& replies_;
    int slave_ = 1;
    int step_ = 0;
    StatusResult result_;
    SilentGateway silence_;  // the read stops when the gateway is silent
};

}  // namespace tarnel
