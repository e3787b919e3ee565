// Tarnel: commissioning and diagnosis of the Corvane-64 M-Bus/Modbus gateway.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <csignal>

#include "app/about_box.h"
#include "app/main_window.h"
#include "app/widget_dialogs.h"
#include "base/real_clock.h"
#include "base/safe_file.h"
#include "gateway/program_paths.h"

using namespace tarnel;

namespace {

struct Options {
    QString settingsFile;  // empty: the settings file's usual place
    QString screenshot;
};

// The value of --settings as the system gave its bytes: Qt's own arguments
// would turn a name that is not UTF-8 into another name.
QString settingsBytes(int argc, char** argv, const QString& parsed) {
    const std::string_view option = "--settings";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == option && i + 1 < argc) return FileNameFromBytes(argv[i + 1]);
        if (argument.substr(0, option.size() + 1) == "--settings=")
            return FileNameFromBytes(argument.substr(option.size() + 1));
    }
    return parsed;
}

// --help prints and exits, with or without a display.
bool onlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help" || argument == "--help-all" ||
            argument == "-?")
            return true;
    }
    return false;
}

Options parseOptions(const QCoreApplication& app, int argc, char** argv) {
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
    return {parser.isSet(settings) ? settingsBytes(argc, argv, parser.value(settings)) : QString(),
            parser.isSet(screenshot) ? QFileInfo(parser.value(screenshot)).absoluteFilePath()
                                     : QString()};
}

}  // namespace

int main(int argc, char* argv[]) {
    // Under a file-size limit a write then fails with EFBIG, which the
    // writers report, instead of the signal ending the program mid-file
    // (and the settings unsaved).
    signal(SIGXFSZ, SIG_IGN);
    if (onlyPrints(argc, argv)) {
        QCoreApplication printer(argc, argv);
        QCoreApplication::setApplicationName("Tarnel");
        parseOptions(printer, argc, argv);  // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    // The desktop file's name, so that the window finds its entry and icon.
    QGuiApplication::setDesktopFileName("tarnel");
    const Options options = parseOptions(app, argc, argv);
    const ProgramPaths paths =
        ResolveProgramPaths(QApplication::applicationFilePath(), options.settingsFile);
    MakeUserFolders(paths, options.settingsFile);
    // What a killed earlier run left half-written in the folders it writes.
    for (const QString& folder : {QFileInfo(paths.settingsFile).absolutePath(), paths.files(),
                                  paths.defaultDataFolder()})
        RemoveStaleTemporaries(FileNameBytes(folder));

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
