#include "gateway/register_view.h"

#include "link/gateway_link.h"

namespace tarnel {

using namespace gateway_event;

RegisterView::RegisterView(GatewayLink& link, Timer& timerModbus, Timer& timerAuto, QObject* parent)
    : QObject(parent), link_(link), timerModbus_(timerModbus), timerAuto_(timerAuto) {
    connect(&timerAuto_, &Timer::timeout, this, [this] {
        // A read still waiting for its reply is not doubled by the next tick.
        if (!link_.busy(this)) emit automaticRead();
    });
    connect(&link_, &GatewayLink::linkLost, this, &RegisterView::connectionLost);
}

RegisterView::~RegisterView() {
    link_.cancel(this);
    link_.cancel(&commandTag_);
}

bool RegisterView::read(const ReadRequest& request) {
    if (!link_.requireLink()) return false;
    if (!request.start || !request.count) {
        emit event(Refused{Refusal::NoInitialConditions});
        return false;
    }
    link_.cancel(this);  // the last read asked for is the one answered
    // Only the low 16 bits go into the request; the count is not limited here:
    // the gateway answers a count above 125 with an exception.
    requestStart_ = *request.start & 0xFFFF;
    const int count = *request.count & 0xFFFF;
    timerModbus_.setInterval(request.timeoutMs);
    link_.exchange(this,
                   request.input ? ReadInputRegistersRequest(request.slave, requestStart_, count)
                                 : ReadHoldingRegistersRequest(request.slave, requestStart_, count),
                   timerModbus_, request.timeoutMs,
                   [this](const ExchangeResult& result) { Timer_modbusTimer(result, false); });
    emit event(Sent{Request::ReadRegisters});
    return true;
}

void RegisterView::stopRead() {
    if (!link_.busy(this)) return;
    link_.cancel(this);
    RegisterReadResult stopped;
    stopped.ending = Ending::Stopped;
    emit readFinished(stopped);
}

void RegisterView::sendCommand(const ModbusRequest& request) {
    link_.exchange(&commandTag_, request, timerModbus_, timerModbus_.interval(),
                   [this](const ExchangeResult& result) { Timer_modbusTimer(result, true); });
}

void RegisterView::Timer_modbusTimer(const ExchangeResult& result, bool command) {
    if (result.end == ExchangeEnd::Cancelled) return;
    const QByteArray& reply = result.reply;
    const Ending ending = result.end == ExchangeEnd::LinkLost ? Ending::LinkLost
                          : result.end == ExchangeEnd::Reply  ? Ending::Done
                                                              : Ending::NoAnswer;
    if (ending == Ending::LinkLost) {
        // A running automatic read is ended, with its line, by connectionLost();
        // a command's result tells its own.
        if (!command && !automatic_) emit event(LinkLost{Task::RegisterRead});
    } else {
        emit event(Reception{result.lines});
        if (automatic_) clearGrid();
    }
    RegisterReadResult read;
    read.ending = ending;
    read.reply = reply;
    read.start = requestStart_;
    if (ending != Ending::LinkLost && !command && reply.size() > 4) {
        const RegisterReply parsed = ParseRegisterResponse(reply);
        emit event(Reception{parsed.report.lines, parsed.report.crcError});
        // Rows are numbered from the start register of the read that was sent,
        // whatever the start box says now.
        read.at = link_.clock().now();
        emit event(RegistersRead{requestStart_, parsed.registers, read.at});
        read.rows = static_cast<int>(parsed.registers.size());
        read.registers = parsed.registers;
    }
    // Bytes that came as they stand at the deadline may still hold registers.
    if (read.rows > 0 && ending == Ending::NoAnswer) read.ending = Ending::Done;
    if (command)
        emit commandFinished(
            {ending == Ending::NoAnswer ? Ending::Done : ending, reply, result.acknowledged()});
    else
        emit readFinished(read);
}

void RegisterView::connectionLost() {
    if (!automatic_) return;
    setAutomatic(false);
    emit event(LinkLost{Task::AutomaticRead});
    emit automaticReadEnded();
}

void RegisterView::clearGrid() {
    emit event(ClearRegisters{});
}

void RegisterView::setAutomatic(bool on) {
    automatic_ = on;
    if (on)
        timerAuto_.start();
    else
        timerAuto_.stop();
}

void RegisterView::setAutomaticPeriod(int seconds) {
    timerAuto_.setInterval(seconds * 1000);
    if (timerAuto_.isActive()) timerAuto_.start();
}

}  // namespace tarnel
