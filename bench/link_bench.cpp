// Measures the link:
//  1. the longest stretch the GUI thread is blocked while the longest
//     request (a write of a 19-byte M-Bus telegram, 29 bytes on the wire) is
//     paced out on a serial port (a pseudo-terminal), and how long it takes;
//  2. the time from a complete reply arriving on loopback TCP to its "RCVD:"
//     line, with the default Modbus time-out of 600 ms.
// Usage: link_bench [rounds]
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "base/log.h"
#include "base/real_clock.h"
#include "base/status_panels.h"
#include "link/gateway_link.h"
#include "link/real_transports.h"
#include "link/register_map.h"
#include "no_dialogs.h"

using namespace tarnel;
using bench::NoDialogs;

namespace {

// Runs the event loop until `done`, measuring the longest gap between two
// turns of a 0 ms timer: how long the GUI thread was kept from its events.
qint64 longestBlockMs(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), longest = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    heartbeat.start(0);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return longest / 1000;  // microseconds
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    RealClock clock;
    Log log;
    StatusPanels status;
    NoDialogs dialogs;
    CommTransport serial;
    SocketTransport tcp;
    GatewayLink link(serial, tcp, clock, log, status, dialogs);

    // 1. Pacing on the serial line.
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 1;
    link.openSerial(SerialSettingsFromTexts(QString::fromLocal8Bit(ttyname(slave)), "2400", "Even", "1"));
    // SND_UD with a 19-byte telegram (a medium change).
    const QByteArray telegram =
        QByteArray::fromHex("68 0D 0D 68 53 FE 51 0F 1A 00 00 00 00 00 00 00 00 B3 16");
    qint64 worstBlock = 0, worstSend = 0;
    for (int i = 0; i < rounds; ++i) {
        bool sent = false;
        QElapsedTimer took;
        took.start();
        link.SendWriteRegisters(1, reg::kMbusBuffer, static_cast<int>(telegram.size()), telegram,
                                [&] { sent = true; });
        worstBlock = std::max(worstBlock, longestBlockMs([&] { return sent; }));
        worstSend = std::max(worstSend, took.elapsed());
        tcflush(master, TCIOFLUSH);  // nobody reads the other side
    }
    std::printf(
        "29-byte paced request, %d rounds: GUI thread blocked at most %lld us; frame out in at "
        "most %lld ms\n",
        rounds, static_cast<long long>(worstBlock), static_cast<long long>(worstSend));
    link.closeSerial();

    // 2. Reply on loopback TCP to its "RCVD:" line.
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QTcpSocket* peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [&] {
            peer->readAll();
            peer->write(QByteArray::fromHex("03E8000000050104020005"));
        });
    });
    link.Butt_connect_xportClick("127.0.0.1", QString::number(server.serverPort()), 30);
    while (!link.TcpMode())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QElapsedTimer arrival;
    QObject::connect(&tcp, &TcpTransport::received, [&] { arrival.start(); });
    qint64 worst = 0, best = 1 << 30;
    for (int i = 0; i < std::min(rounds, 5); ++i) {
        Timer* timer = clock.createTimer(&app);
        bool logged = false;
        QObject::connect(timer, &Timer::timeout, [&] {
            link.takeReply();
            logged = true;
        });
        link.prepareRequest();
        link.SendReadInputRegisters(1, reg::kMbusStatus, 1, [&] { timer->start(600); });
        while (!logged)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worst = std::max(worst, arrival.elapsed());
        best = std::min(best, arrival.elapsed());
    }
    std::printf("reply on loopback TCP to its RCVD line (Modbus time-out 600 ms): %lld..%lld ms\n",
                static_cast<long long>(best), static_cast<long long>(worst));
    close(master);
    close(slave);
    return 0;
}
