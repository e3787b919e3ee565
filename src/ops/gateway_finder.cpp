#include "ops/gateway_finder.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "link/request_frames.h"

namespace tarnel {
namespace {

constexpr uint8_t kRegularIdentification = 2;
constexpr int kActiveDeviceMap = 59500;  // 0xE86C, 16 registers
constexpr int kActiveDeviceRegisters = 16;

QByteArray identificationRequest(int unit) {
    return ReadDeviceIdRequest(unit, kRegularIdentification).adu;
}

// The active devices in a reply to the bit map's read; -1 when it is not one.
int activeDevices(const QByteArray& pdu) {
    if (pdu.size() != 2 + 2 * kActiveDeviceRegisters || pdu[0] != 0x04) return -1;
    int count = 0;
    for (qsizetype at = 2; at < pdu.size(); ++at)
        count += std::popcount(static_cast<uint8_t>(pdu[at]));
    return count;
}

}  // namespace

GatewayFinder::GatewayFinder(SerialTransport& serial, TcpTransport& tcp, Clock& clock,
                             BusyRule& busy, QObject* parent)
    : QObject(parent),
      clock_(clock),
      serial_(serial),
      tcp_(tcp),
      busy_(busy),
      timer_(clock.createTimer(this, QStringLiteral("Timer_findGateway"))) {
    connect(timer_, &Timer::timeout, this, [this] {
        if (then_) return answer();
        if (onConnect_) std::exchange(onConnect_, {})();
    });
    connect(&serial_, &SerialTransport::received, this, [this](const QByteArray& bytes) {
        if (!then_ || settingsTcp()) return;
        received_ += bytes;
        if (pdu(received_, unit_)) return answer();
        // Bytes that are no reply yet: the end of what comes is the
        // silence after it, and the time-out at the latest.
        const qint64 left = deadline_ - clock_.elapsed();
        if (left <= 0) return answer();
        timer_->start(static_cast<int>(std::min<qint64>(frameGapMs_, left)));
    });
    connect(&tcp_, &TcpTransport::received, this, [this](const QByteArray& bytes) {
        if (!then_ || !settingsTcp()) return;
        received_ += bytes;
        if (pdu(received_, unit_)) answer();
    });
    connect(&tcp_, &TcpTransport::connected, this, [this] {
        if (!onConnect_) return;
        timer_->stop();
        hostUp_ = true;
        ++result_.linksOpened;
        std::exchange(onConnect_, {})();
    });
    connect(&tcp_, &TcpTransport::errorOccurred, this, [this] {
        if (!onConnect_) return;
        timer_->stop();
        std::exchange(onConnect_, {})();
    });
    connect(&tcp_, &TcpTransport::disconnected, this, [this] { hostUp_ = false; });
}

GatewayFinder::~GatewayFinder() {
    stop();
}

bool GatewayFinder::start(const Settings& settings) {
    if (running_ || !busy_.begin(Operation::FindGateway)) return false;
    settings_ = settings;
    result_ = {};
    portIndex_ = 0;
    running_ = true;
    nextPort();
    return true;
}

void GatewayFinder::stop() {
    if (!running_) return;
    timer_->stop();
    then_ = {};
    onConnect_ = {};
    finish(Ending::Stopped);
}

bool GatewayFinder::settingsTcp() const {
    return portIndex_ > settings_.serialPorts.size();
}

void GatewayFinder::nextPort() {
    if (serial_.isOpen()) serial_.close();
    if (hostUp_) tcp_.abort();
    hostUp_ = false;
    linkDone_ = false;
    linkCounted_ = false;
    if (enough()) return finish(Ending::Done);
    const qsizetype index = portIndex_++;
    if (index < settings_.serialPorts.size()) {
        port_ = settings_.serialPorts[index];
        lines_ = SerialLineOrder(settings_.currentLine);
        silentLines_.clear();
        return probeLine(0);
    }
    if (index - settings_.serialPorts.size() < settings_.tcpHosts.size()) {
        port_ = settings_.tcpHosts[index - settings_.serialPorts.size()];
        return connectHost();
    }
    finish(Ending::Done);
}

bool GatewayFinder::openSerial(const SerialTransport::Line& line) {
    if (serial_.isOpen()) serial_.close();
    try {
        serial_.open(QStringLiteral("\\\\.\\") + port_, line);
    } catch (const std::runtime_error&) {
        return false;
    }
    if (serial_.isOpen() && !std::exchange(linkCounted_, true)) ++result_.linksOpened;
    frameGapMs_ = FrameGapMs(line.baudrate);
    return serial_.isOpen();
}

FoundDevice GatewayFinder::serialPlace(const SerialTransport::Line& line, int unit) const {
    FoundDevice place;
    place.port = port_;
    place.line = line;
    place.unit = unit;
    return place;
}

void GatewayFinder::probeLine(int index) {
    if (index >= lines_.size()) return afterProbes();
    const SerialTransport::Line line = lines_[index];
    if (!openSerial(line)) return nextPort();
    // The factory line goes with the factory address.
    const int unit = index > 0 && IsFactoryLine(line) ? 1 : settings_.currentUnit;
    tell(QStringLiteral("%1 %2, address %3").arg(port_, LineName(line)).arg(unit),
         static_cast<int>(lines_.size()) - index);
    ask(identificationRequest(unit), SweepTimeoutMs(line.baudrate),
        [this, index, line, unit](const QByteArray& received) {
            const LineJudgement judgement = JudgeLine(received);
            if (judgement == LineJudgement::Wrong) return probeLine(index + 1);
            if (judgement == LineJudgement::Silent) {
                silentLines_.append(line);
                return probeLine(index + 1);
            }
            const QList<int> rest = SerialUnitOrder(unit).mid(1);
            const std::optional<QByteArray> reply = pdu(received, unit);
            if (!reply) return sweepSerial(line, SerialUnitOrder(unit), [this] { nextPort(); });
            confirm(serialPlace(line, unit), *reply,
                    [this, line, rest] { sweepSerial(line, rest, [this] { nextPort(); }); });
        });
}

void GatewayFinder::afterProbes() {
    // Nothing answered at the likely address: the two most likely silent
    // lines are swept for another.
    if (silentLines_.size() > 2) silentLines_.resize(2);
    sweepSilentLines();
}

void GatewayFinder::sweepSilentLines() {
    if (silentLines_.isEmpty() || linkDone_ || enough()) return nextPort();
    const SerialTransport::Line line = silentLines_.takeFirst();
    if (!openSerial(line)) return nextPort();
    sweepSerial(line, SerialUnitOrder(settings_.currentUnit), [this] { sweepSilentLines(); });
}

void GatewayFinder::sweepSerial(const SerialTransport::Line& line, QList<int> units,
                                std::function<void()> done) {
    if (units.isEmpty() || linkDone_ || enough()) return done();
    const int unit = units.takeFirst();
    tell(QStringLiteral("%1 %2, address %3").arg(port_, LineName(line)).arg(unit),
         static_cast<int>(units.size()) + 1);
    ask(identificationRequest(unit), SweepTimeoutMs(line.baudrate),
        [this, line, units, unit, done](const QByteArray& received) {
            const auto next = [this, line, units, done] { sweepSerial(line, units, done); };
            const std::optional<QByteArray> reply = pdu(received, unit);
            if (!reply) return next();
            confirm(serialPlace(line, unit), *reply, next);
        });
}

void GatewayFinder::connectHost() {
    tell(QStringLiteral("%1:%2, connecting").arg(port_).arg(settings_.tcpPort),
         static_cast<int>(TcpUnitOrder().size()));
    onConnect_ = [this] {
        if (!hostUp_) return nextPort();
        sweepTcp(TcpUnitOrder());
    };
    timer_->start(settings_.connectTimeoutMs);
    tcp_.connectToHost(port_, settings_.tcpPort);
}

void GatewayFinder::sweepTcp(QList<int> units) {
    if (units.isEmpty() || linkDone_ || !hostUp_ || enough()) return nextPort();
    const int unit = units.takeFirst();
    tell(QStringLiteral("%1:%2, unit %3").arg(port_).arg(settings_.tcpPort).arg(unit),
         static_cast<int>(units.size()) + 1);
    ask(identificationRequest(unit), settings_.tcpTimeoutMs,
        [this, units, unit](const QByteArray& received) {
            const std::optional<QByteArray> reply = pdu(received, unit);
            if (!reply) return sweepTcp(units);
            FoundDevice place;
            place.tcp = true;
            place.port = port_;
            place.tcpPort = settings_.tcpPort;
            place.unit = unit;
            confirm(place, *reply, [this, units] { sweepTcp(units); });
        });
}

void GatewayFinder::confirm(const FoundDevice& place, const QByteArray& idPdu,
                            std::function<void()> done) {
    const std::optional<DeviceIdentification> id = ParseIdentification(idPdu);
    const auto list = [this, done](const FoundDevice& device) {
        result_.found.append(device);
        if (device.gateway) linkDone_ = true;
        emit found(device);
        done();
    };
    if (!id || !id->product.contains(QStringLiteral("Corvane-64"))) {
        FoundDevice device = place;
        device.answered = AnsweredText(idPdu);
        return list(device);
    }
    const int timeoutMs = place.tcp ? settings_.tcpTimeoutMs : SweepTimeoutMs(place.line.baudrate);
    ask(ReadInputRegistersRequest(place.unit, kActiveDeviceMap, kActiveDeviceRegisters).adu,
        timeoutMs, [place, id, list, this](const QByteArray& received) {
            FoundDevice device = place;
            device.identification = *id;
            const std::optional<QByteArray> reply = pdu(received, place.unit);
            device.activeDevices = reply ? activeDevices(*reply) : -1;
            device.gateway = device.activeDevices >= 0;
            if (!device.gateway)
                device.answered =
                    QStringLiteral("%1 %2, no active-device count").arg(id->vendor, id->product);
            list(device);
        });
}

void GatewayFinder::ask(const QByteArray& adu, int timeoutMs, Reply then) {
    received_.clear();
    unit_ = static_cast<uint8_t>(adu[0]);
    then_ = std::move(then);
    ++result_.tries;
    if (settingsTcp()) {
        tcp_.send(TcpFrame(++transaction_, adu));
    } else {
        serial_.purgeAll();
        serial_.setRts(true);
        if (!serial_.writeFrame(RtuFrame(adu), [this] { serial_.setRts(false); }))
            serial_.setRts(false);
    }
    deadline_ = clock_.elapsed() + timeoutMs;
    timer_->start(timeoutMs);
}

void GatewayFinder::answer() {
    timer_->stop();
    Reply then = std::exchange(then_, {});
    then(std::exchange(received_, {}));
}

std::optional<QByteArray> GatewayFinder::pdu(const QByteArray& received, int unit) const {
    if (!settingsTcp()) return RtuPdu(received, unit);
    if (received.size() < 7 || static_cast<uint8_t>(received[6]) != unit) return std::nullopt;
    return TcpPdu(received, transaction_);
}

bool GatewayFinder::enough() const {
    if (settings_.all) return false;
    return std::any_of(result_.found.begin(), result_.found.end(),
                       [](const FoundDevice& device) { return device.gateway; });
}

void GatewayFinder::tell(const QString& trying, int left) {
    emit progress({trying, left});
}

void GatewayFinder::finish(Ending ending) {
    if (serial_.isOpen()) serial_.close();
    if (hostUp_) tcp_.abort();
    hostUp_ = false;
    running_ = false;
    busy_.end(Operation::FindGateway);
    result_.ending = ending;
    emit finished(result_);
}

}  // namespace tarnel
