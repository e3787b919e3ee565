#include "gateway/gateway_status.h"

#include "gateway/gateway_lines.h"
#include "gateway/register_view.h"
#include "link/gateway_link.h"
#include "link/register_map.h"

namespace tarnel {
namespace {

using namespace gateway_event;

// Steps 7 to 14: the network settings read, and the name of each line.
struct IpStep {
    int registerNumber;
    const char* name;
};
constexpr IpStep kIpSteps[] = {
    {55400, "IP"},
    {55402, "GATE"},
    {55404, "MASK"},
    {55406, "CONTROL IP #1"},
    {55408, "CONTROL IP #2"},
    {55410, "DATA IP #1"},
    {55412, "DATA IP #2"},
    {55420, "NETWORK NUMBER (Identification)"},
};
constexpr int kLastStep = GatewayStatus::kSteps;

// What a step reads, for the line that tells it went unanswered.
QString stepName(int step) {
    static const char* const kFirstSteps[] = {"active devices", "M-Bus flags",
                                              "working days",   "active-device map",
                                              "card version",   "device identification"};
    if (step <= 6) return QLatin1String(kFirstSteps[step - 1]);
    return QLatin1String(kIpSteps[step - 7].name);
}

// The first two registers' four bytes.
std::array<uint8_t, 4> address(const QVector<Register>& registers) {
    return {registers[0].high, registers[0].low, registers[1].high, registers[1].low};
}

}  // namespace

std::optional<std::array<uint8_t, 4>> ParseDottedAddress(const QString& text) {
    const QStringList parts = text.split('.');
    if (parts.size() != 4) return std::nullopt;
    std::array<uint8_t, 4> bytes{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok);
        if (parts[i].isEmpty() || !ok || value < 0 || value >= 256) return std::nullopt;
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
    }
    return bytes;
}

std::optional<int> IpSettingRegister(const QString& name) {
    static const QStringList kNames = {"IP address",           "Gateway",        "Mask",
                                       "Control IP #1",        "Control IP #2",  "Operator IP #1",
                                       "Operator IP #2",       "Operator IP #3", "Operator IP #4",
                                       "Net number (optional)"};
    static const int kRegisters[] = {55400, 55402, 55404, 55406, 55408,
                                     55410, 55412, 55414, 55416, 55420};
    const qsizetype index = kNames.indexOf(name);
    if (index < 0) return std::nullopt;
    return kRegisters[index];
}

GatewayStatus::GatewayStatus(GatewayLink& link, Timer& timerStatus, RegisterView& replies,
                             QObject* parent)
    : QObject(parent), link_(link), timer_(timerStatus), replies_(replies) {
    connect(&link_, &GatewayLink::linkLost, this, &GatewayStatus::connectionLost);
}

GatewayStatus::~GatewayStatus() {
    step_ = 0;
    link_.cancel(this);
}

bool GatewayStatus::readStatus(int slave, int timeoutMs) {
    if (!link_.requireLink()) return false;
    link_.cancel(this);  // started again while it runs: from step 1
    if (step_ != 0) end(Ending::Stopped);
    slave_ = slave;
    step_ = 1;
    result_ = {};
    silence_.reset();
    timer_.setInterval(timeoutMs);
    say(StatusStarted{});
    sendStep();
    return true;
}

// The read's answers are told, and their lines kept in its result.
void GatewayStatus::say(const GatewayEvent& answer) {
    result_.answers << GatewayEventLines(answer);
    emit event(answer);
}

void GatewayStatus::report(const ParseReport& parsed) {
    say(Reception{parsed.lines, parsed.crcError});
}

void GatewayStatus::end(Ending ending) {
    // A read cut short did not get the step in flight nor those after it.
    for (int step = step_; ending != Ending::Done && step >= 1 && step <= kLastStep; ++step)
        result_.unanswered << stepName(step);
    step_ = 0;
    result_.ending = ending;
    emit finished(result_);
}

ModbusRequest GatewayStatus::stepRequest() const {
    switch (step_) {
        case 1:
            return ReadInputRegistersRequest(slave_, reg::kStatusFirst, 1);
        case 2:
            return ReadInputRegistersRequest(slave_, reg::kStatusFirst + 1, 1);
        case 3:
            return ReadInputRegistersRequest(slave_, reg::kStatusLast, 1);
        case 4:
            return ReadInputRegistersRequest(slave_, reg::kActiveDeviceMap,
                                             reg::kActiveDeviceMapRegisters);
        case 5:
            return ReadInputRegistersRequest(slave_, reg::kStatusExtra, 1);
        case 6:
            return ReadDeviceIdRequest(slave_, reg::kDeviceIdCodeRegular);
        default:
            return ReadHoldingRegistersRequest(slave_, kIpSteps[step_ - 7].registerNumber, 2);
    }
}

void GatewayStatus::sendStep() {
    link_.exchange(this, stepRequest(), timer_, timer_.interval(),
                   [this](const ExchangeResult& result) { Timer_statusTimer(result); });
}

void GatewayStatus::stop() {
    if (step_ == 0) return;
    link_.cancel(this);
    emit event(Stopped{Task::StatusRead});
    end(Ending::Stopped);
}

void GatewayStatus::connectionLost() {
    if (step_ == 0) return;
    emit event(LinkLost{Task::StatusRead});
    end(Ending::LinkLost);
}

void GatewayStatus::Timer_statusTimer(const ExchangeResult& result) {
    if (result.aborted()) return;  // a lost link is told by connectionLost()
    emit event(Reception{result.lines});
    if (result.end == ExchangeEnd::Reply) ++result_.replies;
    if (!result.acknowledged()) result_.unanswered << stepName(step_);
    if (!result.reply.isEmpty()) decodeStep(result.reply);
    ++step_;
    if (silence_.note(result.reply)) {
        end(Ending::GatewaySilent);
        return;
    }
    if (step_ > kLastStep) {
        say(StatusFinished{});
        end(Ending::Done);
        return;
    }
    sendStep();
}

void GatewayStatus::decodeStep(const QByteArray& reply) {
    if (step_ <= 5 && step_ != 4) {
        // A failed check is logged and the step's line written with zero bytes.
        const FirstRegister first = ReadFirstRegister(reply);
        report(first.report);
        switch (step_) {
            case 1:
                say(ActiveDevices{first.low, first.high});
                break;
            case 2:
                say(MbusFlags{first.low});
                break;
            case 3:
                say(WorkingDays{first.low});
                break;
            case 5:
                say(CardVersion{first.high, first.low});
                // A failed answer says nothing of the version: the boxes stay.
                if (!first.read) break;
                if (setVersion) setVersion(first.low >= 3);
                emit versionRead(first.high, first.low);
                break;
        }
        return;
    }
    if (step_ == 4) {
        // The active-device bit map: checked, nothing shown.
        report(ParseRegisterResponse(reply).report);
        return;
    }
    if (step_ == 6) {
        report(ParseDeviceIdResponse(reply));
        return;
    }
    const RegisterReply parsed = ParseRegisterResponse(reply);
    report(parsed.report);
    if (parsed.registers.size() >= 2)
        say(NetworkSetting{stepName(step_), address(parsed.registers)});
}

void GatewayStatus::writeNetworkSetting(int slave, int registerNumber, const QByteArray& bytes,
                                        const GatewayEvent& told) {
    replies_.sendCommand(
        *WriteRegistersRequest(slave, registerNumber, static_cast<int>(bytes.size()), bytes));
    emit event(told);
}

bool GatewayStatus::programIp(int slave, const QString& setting,
                              const std::optional<std::array<uint8_t, 4>>& bytes) {
    if (!link_.requireLink()) return false;
    const std::optional<int> registerNumber = IpSettingRegister(setting);
    if (!registerNumber || !bytes) {
        emit event(Refused{registerNumber ? Refusal::IpAddress : Refusal::IpSetting});
        return false;
    }
    writeNetworkSetting(slave, *registerNumber,
                        QByteArray(reinterpret_cast<const char*>(bytes->data()), 4),
                        ProgramIp{setting});
    return true;
}

bool GatewayStatus::setListenPort(int slave, std::optional<int> port) {
    if (!port) {
        emit event(Refused{Refusal::NoListenPort});
        return false;
    }
    const int number = *port;
    if (number < 50) {
        emit event(Refused{Refusal::ListenPort});
        return false;
    }
    if (number > 65535) {
        emit event(Refused{Refusal::ListenPortRange});
        return false;
    }
    if (!link_.requireLink()) return false;
    replies_.sendCommand(WriteSingleRegisterRequest(slave, reg::kListenPort,
                                                    static_cast<uint8_t>(number >> 8 & 0xFF),
                                                    static_cast<uint8_t>(number & 0xFF)));
    emit event(Sent{Request::ListenPort});
    return true;
}

bool GatewayStatus::setSerialNumber(int slave, const QString& serialNumber) {
    if (!link_.requireLink()) return false;
    if (serialNumber.size() != 8) {
        emit event(Refused{Refusal::SerialNumberLength});
        return false;
    }
    QByteArray bytes;
    for (int i = 0; i < 8; i += 2) {
        const QChar high = serialNumber[i], low = serialNumber[i + 1];
        if (!high.isDigit() || !low.isDigit() || high.unicode() > '9' || low.unicode() > '9') {
            emit event(NotADigit{high.isDigit() ? low : high});
            return false;
        }
        bytes.append(static_cast<char>((high.unicode() - '0') << 4 | (low.unicode() - '0')));
    }
    writeNetworkSetting(slave, reg::kSerialNumber, bytes, Sent{Request::SerialNumber});
    return true;
}

}  // namespace tarnel
