#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "base/virtual_clock.h"
#include "support/fake_dialogs.h"
#include "support/fake_transports.h"

namespace tarnel::test {

// A main window on a virtual clock with dialogs that the test answers; a
// temporary folder stands for the executable's folder and holds the settings
// file.
struct WindowTest : ::testing::Test {
    QTemporaryDir folder;
    VirtualClock clock;
    FakeDialogs dialogs;
    ProgramPaths paths{folder.path(), folder.filePath("tarnel.ini")};
    std::unique_ptr<TForm1> form;
    // The window's transports, owned by it; new ones at every start.
    FakeSerial* serial = nullptr;
    FakeTcp* tcp = nullptr;
    QString busyReason;  // the serial port of the next start is busy for this reason

    void start() {
        auto fakeSerial = std::make_unique<FakeSerial>(clock);
        auto fakeTcp = std::make_unique<FakeTcp>();
        serial = fakeSerial.get();
        tcp = fakeTcp.get();
        serial->probeReason = busyReason;
        form = std::make_unique<TForm1>(clock, dialogs, paths,
                                        Transports{std::move(fakeSerial), std::move(fakeTcp)});
        form->show();
    }
    // Closes the window as its title bar would: the settings are written.
    void closeWindow() { form->close(); }
    void restart() {
        closeWindow();
        form.reset();
        start();
    }

    template <typename T>
    T* control(const QString& name) const {
        return form->control<T>(name);
    }

    // Whether the control shows once its tab page is the current one: false
    // only for controls the window keeps hidden.
    bool shownOnItsPage(const QWidget* widget) const {
        const QWidget* page = widget;
        while (page->parentWidget() &&
               page->parentWidget()->objectName() != "qt_tabwidget_stackedwidget")
            page = page->parentWidget();
        return widget == page ? widget->isVisibleTo(form.get()) : widget->isVisibleTo(page);
    }

    QByteArray settingsContent() const {
        QFile file(paths.settingsFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeSettings(const QByteArray& content) const {
        QFile file(paths.settingsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
};

}  // namespace tarnel::test
