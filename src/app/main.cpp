// Tarnel: commissioning and diagnosis of the Corvane-64 M-Bus/Modbus gateway.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/widget_dialogs.h"
#include "base/real_clock.h"

using namespace tarnel;

namespace {

struct Options {
    QString settingsFile;
    QString screenshot;
};

Options parseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Configuration and diagnosis of the Corvane-64 gateway");
    parser.addHelpOption();
    const QCommandLineOption settings("settings", "Use FILE as the settings file.", "FILE");
    const QCommandLineOption screenshot(
        "screenshot", "Render the main window to the PNG FILE once started, then close.", "FILE");
    parser.addOption(settings);
    parser.addOption(screenshot);
    parser.process(app);

    // The settings file sits beside the executable: tarnel -> tarnel.ini.
    const QFileInfo executable(QApplication::applicationFilePath());
    const QString besideExecutable =
        executable.absoluteDir().filePath(executable.completeBaseName() + ".ini");
    return {parser.isSet(settings) ? QFileInfo(parser.value(settings)).absoluteFilePath()
                                   : besideExecutable,
            parser.isSet(screenshot) ? QFileInfo(parser.value(screenshot)).absoluteFilePath()
                                     : QString()};
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    const Options options = parseOptions(app);

    // An unattended screenshot run must never wait on a box.
    const bool unattended = !options.screenshot.isEmpty();
    WidgetDialogs widgetDialogs;
    ConsoleDialogs consoleDialogs;
    Dialogs& dialogs = unattended ? static_cast<Dialogs&>(consoleDialogs) : widgetDialogs;

    RealClock clock;
    TForm1 form(clock, dialogs, {QApplication::applicationDirPath(), options.settingsFile});
    TFAbout about;
    TForm2 newAddress;
    form.setAboutBox(&about);
    widgetDialogs.setOwner(&form);
    form.show();

    int status = 0;
    if (unattended) {
        QTimer::singleShot(0, &form, [&] {
            if (!form.grab().save(options.screenshot, "PNG")) status = 1;
            form.close();
        });
    }
    const int loop = app.exec();
    return status != 0 ? status : loop;
}
