#pragma once

#include <QObject>
#include <optional>

#include "base/clock.h"
#include "gateway/gateway_events.h"
#include "link/exchange.h"
#include "link/request_frames.h"
#include "ops/results.h"

namespace tarnel {

class GatewayLink;

// The free register reader: reads a block of input or holding registers for
// the register grid, once or every few seconds. Its reply timer also
// collects the replies to the gateway commands, which it only tells.
class RegisterView : public QObject {
    Q_OBJECT
public:
    // What "Read registers" sends; an empty box gives nothing.
    struct ReadRequest {
        int slave = 1;
        std::optional<int> start;  // EditInputAddress
        std::optional<int> count;  // EditInputCount
        bool input = true;         // function 4; false: function 3
        int timeoutMs = 600;
    };

    RegisterView(GatewayLink& link, Timer& timerModbus, Timer& timerAuto,
                 QObject* parent = nullptr);
    // Its reads and commands end with it.
    ~RegisterView() override;

    // `readFinished` follows when it was sent.
    bool read(const ReadRequest& request);
    // Ends a read in flight at once: `readFinished` with Ending::Stopped.
    void stopRead();
    void clearGrid();
    // "Automatic read" checked or not: the periodic read runs while it is.
    void setAutomatic(bool on);
    void setAutomaticPeriod(int seconds);
    bool automatic() const { return automatic_; }
    // A gateway command: sends the request; its reply is awaited for the
    // interval of Timer_modbus and told (`commandFinished`).
    void sendCommand(const ModbusRequest& request);

signals:
    // What the reads and the commands tell as they go (the presenter words
    // it and writes the register grid).
    void event(const GatewayEvent& event);
    // Timer_auto fired: read again, exactly as the button does.
    void automaticRead();
    // The automatic read ended without the user (the link went down).
    void automaticReadEnded();
    void readFinished(const RegisterReadResult& result);
    void commandFinished(const CommandResult& result);

private:
    void Timer_modbusTimer(const ExchangeResult& result, bool command);
    void connectionLost();

    GatewayLink& link_;
    Timer& timerModbus_;
    Timer& timerAuto_;
    bool automatic_ = false;
    int requestStart_ = 0;       // the start register of the read that was sent
    const char commandTag_ = 0;  // names the commands' exchanges; reads are `this`
};

}  // namespace tarnel
