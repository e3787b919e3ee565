#pragma once

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "base/log.h"
#include "base/real_clock.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "support/fake_dialogs.h"

namespace tarnel::test {

// Runs an event loop until `done`, looked at after each `signal` of `sender`
// (once the call that emitted it has returned); false when `timeoutMs`
// passed first.
template <typename Sender, typename Signal>
bool WaitOn(const Sender* sender, Signal signal, const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QObject::connect(
        sender, signal, &loop,
        [&] {
            if (done()) loop.quit();
        },
        Qt::QueuedConnection);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

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
            if (!WaitOn(
                    &process, &QProcess::readyReadStandardOutput,
                    [this] { return process.canReadLine(); }, 5000))
                return QString();
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
    // Waits for `done`, looked at whenever the log gains a line.
    bool whenLogged(const std::function<bool()>& done, int timeoutMs) {
        return WaitOn(&form->program().log(), &Log::lineAppended, done, timeoutMs);
    }
    // Waits for `done`, looked at whenever an operation begins or ends.
    bool whenBusyChanged(const std::function<bool()>& done, int timeoutMs) {
        return WaitOn(&form->program().busy(), &BusyRule::changed, done, timeoutMs);
    }
    bool tcpUp() {
        GatewayLink& link = form->program().link();
        return WaitOn(
            &link, &GatewayLink::stateChanged, [&link] { return link.TcpMode(); }, 5000);
    }
};

}  // namespace tarnel::test
