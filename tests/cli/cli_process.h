#pragma once

// tarnel-cli run as a process, for the end-to-end tests of its commands.
#include <QProcess>
#include <QString>
#include <QStringList>

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

}  // namespace tarnel::test
