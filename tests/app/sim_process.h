#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

namespace tarnel::test {

// tarnel-sim as a child process on a free loopback port and a pseudo-terminal.
struct SimProcess {
    QProcess process;
    QString tcpPort;
    QString ptyPath;

    // Starts it and reads the two endpoint lines it prints once ready.
    ::testing::AssertionResult start() {
        process.start(TARNEL_SIM, {"--tcp", "0", "--pty"});
        if (!process.waitForStarted(5000))
            return ::testing::AssertionFailure() << "tarnel-sim did not start";
        const auto line = [this] {
            if (!QTest::qWaitFor([this] { return process.canReadLine(); }, 5000)) return QString();
            return QString::fromLatin1(process.readLine()).trimmed();
        };
        tcpPort = line().section(':', -1);
        ptyPath = line().section(' ', 1);
        if (tcpPort.isEmpty() || ptyPath.isEmpty())
            return ::testing::AssertionFailure() << "no endpoints printed";
        return ::testing::AssertionSuccess();
    }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

}  // namespace tarnel::test
