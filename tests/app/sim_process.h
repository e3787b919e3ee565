#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "base/real_clock.h"
#include "support/fake_dialogs.h"

namespace tarnel::test {

// tarnel-sim as a child process on a free loopback port and a pseudo-terminal.
struct SimProcess {
    QProcess process;
    QString tcpPort;
    QString ptyPath;

    // Starts it and reads the two endpoint lines it prints once ready.
    ::testing::AssertionResult start(const QStringList& extra = {}) {
        process.start(TARNEL_SIM, QStringList{"--tcp", "0", "--pty"} + extra);
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

// The real window on the real clock, with tarnel-sim running beside it.
struct SimWindowTest : ::testing::Test {
    QTemporaryDir folder;
    RealClock clock;
    FakeDialogs dialogs;
    SimProcess sim;
    QStringList simArguments;  // more options for tarnel-sim
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        ASSERT_TRUE(sim.start(simArguments));
        form = std::make_unique<TForm1>(clock, dialogs,
                                        ProgramPaths{folder.path(), folder.filePath("t.ini")});
        form->show();
    }
    void TearDown() override { form.reset(); }

    template <typename T>
    T* control(const char* name) const {
        return form->control<T>(name);
    }
};

}  // namespace tarnel::test
