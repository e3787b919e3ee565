#pragma once

#include <QStringList>
#include <stdexcept>
#include <string>

#include "base/clock.h"
#include "link/transport.h"
#include "serial/serial_types.h"

namespace tarnel::test {

// A serial transport that records what the link does with it, each step
// stamped with the clock's time: "RTS on@0", "01@0", "RTS off@18".
class FakeSerial final : public SerialTransport {
public:
    explicit FakeSerial(Clock& clock) : clock_(clock) {}

    QStringList steps;
    QByteArray written;
    QString probeReason;  // non-empty: the port is busy
    QString openError;    // non-empty: open throws it
    QString deviceName;
    Line line;
    int purges = 0;

    QString probe(const QString& name) override {
        deviceName = name;
        return probeReason;
    }
    void open(const QString& name, const Line& settings) override {
        if (!openError.isEmpty()) throw ESerialPortError(openError);
        deviceName = name;
        line = settings;
        open_ = true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool writeByte(uint8_t byte) override {
        if (!open_) return false;
        written.append(static_cast<char>(byte));
        record(QString::asprintf("%02X", byte));
        return true;
    }
    bool writeText(const QByteArray& text) override {
        if (!open_) return false;
        written.append(text);
        record("text " + QString::fromLatin1(text));
        return true;
    }
    bool writeFrame(const QByteArray& frame, std::function<void()> sent) override {
        if (!open_) return false;
        written.append(frame);
        record("frame " + QString::fromLatin1(frame.toHex(' ').toUpper()));
        if (sent) sent();
        return true;
    }
    void setRts(bool on) override { record(on ? "RTS on" : "RTS off"); }
    void purgeAll() override {
        ++purges;
        if (!purgeError.empty()) throw std::runtime_error(purgeError);
    }
    std::string purgeError;  // the purge fails with it, as on a device gone

    void deliver(const QByteArray& bytes) { emit received(bytes); }
    void unplug() {
        open_ = false;
        emit lost("Serial device went away...");
    }

private:
    void record(const QString& step) {
        steps << QStringLiteral("%1@%2").arg(step).arg(clock_.elapsed());
    }

    Clock& clock_;
    bool open_ = false;
};

// A TCP transport the test drives: it accepts, refuses, delivers and hangs up.
class FakeTcp final : public TcpTransport {
public:
    QString host;
    uint16_t port = 0;
    QList<QByteArray> sent;
    int aborts = 0;

    void connectToHost(const QString& h, uint16_t p) override {
        host = h;
        port = p;
    }
    void abort() override {
        ++aborts;
        if (!connected_) return;
        connected_ = false;
        emit disconnected();
    }
    void send(const QByteArray& frame) override { sent << frame; }

    void accept() {
        connected_ = true;
        emit connected();
    }
    void hangUp() {
        connected_ = false;
        emit disconnected();
    }
    void deliver(const QByteArray& bytes) { emit received(bytes); }
    void fail(int code, const QString& reason = {}) { emit errorOccurred(code, reason); }

private:
    bool connected_ = false;
};

}  // namespace tarnel::test
