#include "gateway/program_paths.h"

#include <QDir>
#include <QFileInfo>

namespace tarnel {
namespace {

constexpr auto kApplicationFolder = "Tarnel";
constexpr auto kSettingsName = "tarnel.ini";

// An XDG variable counts only when it holds an absolute path.
QString xdgFolder(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    return !value.isEmpty() && QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : fallback;
}

bool canWrite(const QString& folder) {
    const QFileInfo info(folder);
    constexpr auto anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return info.isDir() && (info.permissions() & anyWrite) && info.isWritable();
}

bool isInstalledBinFolder(const QString& folder) {
    const QDir bin(folder);
    return bin.dirName() == "bin" &&
           QFileInfo::exists(bin.filePath("../share/applications/tarnel.desktop"));
}

}  // namespace

UserFolders UserFolders::fromEnvironment() {
    const QString home = QDir::homePath();
    return {xdgFolder("XDG_CONFIG_HOME", home + "/.config"),
            xdgFolder("XDG_DATA_HOME", home + "/.local/share")};
}

bool MayKeepFilesBesideExecutable(const QString& folder) {
    return canWrite(folder) && !isInstalledBinFolder(folder);
}

ProgramPaths ResolveProgramPaths(const QString& executableFilePath, const QString& settingsOption,
                                 const UserFolders& user,
                                 const BesideExecutableCheck& besideExecutable) {
    const QFileInfo executable(executableFilePath);
    ProgramPaths paths;
    paths.executableFolder = executable.absolutePath();
    if (besideExecutable(paths.executableFolder)) {
        paths.settingsFile =
            QDir(paths.executableFolder).filePath(executable.completeBaseName() + ".ini");
        paths.filesFolder = paths.executableFolder + "/files";
    } else {
        const QString data = QDir(user.dataHome).filePath(kApplicationFolder);
        paths.settingsFile =
            QDir(user.configHome).filePath(QString(kApplicationFolder) + "/" + kSettingsName);
        paths.filesFolder = data + "/files";
        paths.dataFolder = data;
    }
    if (!settingsOption.isEmpty())
        paths.settingsFile = QFileInfo(settingsOption).absoluteFilePath();
    return paths;
}

void MakeUserFolders(const ProgramPaths& paths, const QString& settingsOption) {
    if (paths.dataFolder.isEmpty()) return;  // everything lives beside the executable
    QDir().mkpath(paths.dataFolder);
    if (settingsOption.isEmpty()) QDir().mkpath(QFileInfo(paths.settingsFile).absolutePath());
}

}  // namespace tarnel
