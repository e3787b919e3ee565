#pragma once

// tarnel-cli run as a process, for the end-to-end tests of its commands.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

namespace tarnel::test {

struct CliRun {
    int status = -1;
    QString out, err;
};

inline CliRun cli(const QStringList& args) {
    QProcess process;
    process.start(TARNEL_CLI, args);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A simulated gateway with `faults`; its TCP address and pseudo-terminal.
struct FaultySim {
    QProcess process;
    QString tcp, pty;

    explicit FaultySim(const QStringList& faults) {
        QStringList args{"--tcp", "0", "--pty"};
        for (const QString& fault : faults)
            args << "--fault" << fault;
        process.start(TARNEL_SIM, args);
        for (QString* endpoint : {&tcp, &pty}) {
            if (!QTest::qWaitFor([this] { return process.canReadLine(); }, 5000)) return;
            *endpoint = QString::fromLatin1(process.readLine()).trimmed().section(' ', 1);
        }
    }
    ~FaultySim() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

}  // namespace tarnel::test
