#include "gateway/register_view.h"

#include "base/grid_model.h"
#include "base/log.h"
#include "link/gateway_link.h"

namespace tarnel {

RegisterView::RegisterView(GatewayLink& link, Log& log, GridModel& grid, Timer& timerModbus,
                           Timer& timerAuto, QObject* parent)
    : QObject(parent),
      link_(link),
      log_(log),
      grid_(grid),
      timerModbus_(timerModbus),
      timerAuto_(timerAuto) {
    connect(&timerModbus_, &Timer::timeout, this, &RegisterView::Timer_modbusTimer);
    connect(&timerAuto_, &Timer::timeout, this, &RegisterView::automaticRead);
}

void RegisterView::BitBtn3Click(const ReadRequest& request) {
    if (!link_.requireLink()) return;
    if (request.start.isEmpty() || request.count.isEmpty()) {
        log_.append(QStringLiteral("Enter proper initial conditions..."));
        return;
    }
    link_.prepareRequest();
    link_.CommandReplyPending = false;
    // Only the low 16 bits go into the request; the count is not limited here:
    // the gateway answers a count above 125 with an exception.
    requestStart_ = request.start.toInt() & 0xFFFF;
    const int count = request.count.toInt() & 0xFFFF;
    const auto armed = [this, timeout = request.timeoutMs] {
        timerModbus_.setInterval(timeout);
        timerModbus_.start();
    };
    if (request.input)
        link_.SendReadInputRegisters(request.slave, requestStart_, count, armed);
    else
        link_.SendReadHoldingRegisters(request.slave, requestStart_, count, armed);
    log_.append(QStringLiteral("Reading free number of registers..."));
}

void RegisterView::Timer_modbusTimer() {
    timerModbus_.stop();
    const QByteArray reply = link_.takeReply(false);
    if (automatic_) BitBtn4Click();
    if (!link_.CommandReplyPending && reply.size() > 4) {
        const RegisterReply parsed = ParseRegisterResponse(reply);
        link_.report(parsed.report);
        // Rows are numbered from the start register of the read that was sent,
        // whatever the start box says now.
        int number = requestStart_;
        for (const Register& r : parsed.registers)
            AddRegisterRow(grid_, r.high, r.low, grid_.rows() - 1, number++, link_.clock().now());
    }
    log_.append(RcvdLine(reply));
    link_.CommandReplyPending = false;
}

void RegisterView::BitBtn4Click() {
    grid_.clearData();
}

void RegisterView::CheckBox1Click(bool checked) {
    automatic_ = checked;
    if (checked)
        timerAuto_.start();
    else
        timerAuto_.stop();
}

void RegisterView::Edit_autoChange(int seconds) {
    timerAuto_.setInterval(seconds * 1000);
    if (timerAuto_.isActive()) timerAuto_.start();
}

void RegisterView::awaitCommandReply() {
    timerModbus_.start();
}

}  // namespace tarnel
