#pragma once

#include <QObject>

#include "base/clock.h"

namespace tarnel {

class GatewayLink;
class GridModel;
class Log;

// The free register reader: reads a block of input or holding registers into
// the register grid, once or every few seconds. Its reply timer also
// collects the replies to the gateway commands, which it only logs.
class RegisterView : public QObject {
    Q_OBJECT
public:
    // What "Read registers" sends, as the controls hold it.
    struct ReadRequest {
        int slave = 1;
        QString start;      // EditInputAddress
        QString count;      // EditInputCount
        bool input = true;  // function 4; false: function 3
        int timeoutMs = 600;
    };

    RegisterView(GatewayLink& link, Log& log, GridModel& grid, Timer& timerModbus, Timer& timerAuto,
                 QObject* parent = nullptr);

    void BitBtn3Click(const ReadRequest& request);
    void Timer_modbusTimer();
    void BitBtn4Click();
    // "Automatic read" checked or not: the periodic read runs while it is.
    void CheckBox1Click(bool checked);
    void Edit_autoChange(int seconds);
    // A gateway command has sent its request: its reply is awaited and logged.
    void awaitCommandReply();

signals:
    // Timer_auto fired: read again, exactly as the button does.
    void automaticRead();

private:
    GatewayLink& link_;
    Log& log_;
    GridModel& grid_;
    Timer& timerModbus_;
    Timer& timerAuto_;
    bool automatic_ = false;
    int requestStart_ = 0;  // the start register of the read that was sent
};

}  // namespace tarnel
