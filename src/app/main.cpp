// Tarnel: commissioning and diagnosis of the Corvane-64 M-Bus/Modbus gateway.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/widget_dialogs.h"
#include "base/real_clock.h"
#include "gateway/program_paths.h"

using namespace tarnel;

namespace {

struct Options {
    QString settingsFile;  // empty: the settings file's usual place
    QString screenshot;
};

Options parseOptions(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Configuration and diagnosis of the Corvane-64 gateway");
    parser.addHelpOption();
    const QCommandLineOption settings(
        "settings",
        "Use FILE as the settings file (default: tarnel.ini beside the executable, or "
        "~/.config/Tarnel/tarnel.ini when that folder cannot be written).",
        "FILE");
    const QCommandLineOption screenshot(
        "screenshot", "Render the main window to the PNG FILE once started, then close.", "FILE");
    parser.addOption(settings);
    parser.addOption(screenshot);
    parser.process(app);
    return {parser.value(settings), parser.isSet(screenshot)
                                        ? QFileInfo(parser.value(screenshot)).absoluteFilePath()
                                        : QString()};
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    // The desktop file's name, so that the window finds its entry and icon.
    QGuiApplication::setDesktopFileName("tarnel");
    const Options options = parseOptions(app);
    const ProgramPaths paths =
        ResolveProgramPaths(QApplication::applicationFilePath(), options.settingsFile);
    MakeUserFolders(paths, options.settingsFile);

    // An unattended screenshot run must never wait on a box.
    const bool unattended = !options.screenshot.isEmpty();
    WidgetDialogs widgetDialogs;
    ConsoleDialogs consoleDialogs;
    Dialogs& dialogs = unattended ? static_cast<Dialogs&>(consoleDialogs) : widgetDialogs;

    RealClock clock;
    TForm1 form(clock, dialogs, paths);
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
