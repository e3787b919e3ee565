// Where the settings file, the files folder and the default data folder are
// taken from: beside the executable when its folder can be written, under
// the user's XDG folders when it cannot, and --settings always.
#include "gateway/program_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <optional>

namespace tarnel {
namespace {

const UserFolders kUser{"/home/ann/.config", "/home/ann/.local/share"};

bool writable(const QString&) {
    return true;
}
bool readOnly(const QString&) {
    return false;
}

TEST(ProgramPaths, ResolvedBesideTheExecutableOrInTheUsersFolders) {
    const struct {
        const char* executable;
        const char* settingsOption;
        bool besideExecutable;
        const char* settingsFile;
        const char* files;
        const char* dataFolder;
    } cases[] = {
        {"/work/build/tarnel", "", true, "/work/build/tarnel.ini", "/work/build/files",
         "/work/build"},
        {"/opt/portable/tarnel-cli", "", true, "/opt/portable/tarnel-cli.ini",
         "/opt/portable/files", "/opt/portable"},
        {"/usr/bin/tarnel", "", false, "/home/ann/.config/Tarnel/tarnel.ini",
         "/home/ann/.local/share/Tarnel/files", "/home/ann/.local/share/Tarnel"},
        {"/usr/bin/tarnel-cli", "", false, "/home/ann/.config/Tarnel/tarnel.ini",
         "/home/ann/.local/share/Tarnel/files", "/home/ann/.local/share/Tarnel"},
        {"/usr/bin/tarnel", "/srv/site.ini", false, "/srv/site.ini",
         "/home/ann/.local/share/Tarnel/files", "/home/ann/.local/share/Tarnel"},
        {"/work/build/tarnel", "/srv/site.ini", true, "/srv/site.ini", "/work/build/files",
         "/work/build"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.executable) + " " + c.settingsOption);
        const ProgramPaths paths = ResolveProgramPaths(c.executable, c.settingsOption, kUser,
                                                       c.besideExecutable ? writable : readOnly);
        EXPECT_EQ(paths.executableFolder, QFileInfo(c.executable).path());
        EXPECT_EQ(paths.settingsFile, c.settingsFile);
        EXPECT_EQ(paths.files(), c.files);
        EXPECT_EQ(paths.defaultDataFolder(), c.dataFolder);
    }
}

TEST(ProgramPaths, ARelativeSettingsOptionIsTakenFromTheCurrentFolder) {
    const ProgramPaths paths = ResolveProgramPaths("/usr/bin/tarnel", "site.ini", kUser, readOnly);
    EXPECT_EQ(paths.settingsFile, QDir::current().absoluteFilePath("site.ini"));
}

TEST(ProgramPaths, TheCheckIsAskedAboutTheExecutablesFolder) {
    QString asked;
    ResolveProgramPaths("/opt/tarnel/bin/tarnel", "", kUser, [&](const QString& folder) {
        asked = folder;
        return true;
    });
    EXPECT_EQ(asked, "/opt/tarnel/bin");
}

// Sets an environment variable (or removes it) for the scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::optional<QString>& value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) old_ = qEnvironmentVariable(name);
        if (value)
            qputenv(name, value->toLocal8Bit());
        else
            qunsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            qputenv(name_, old_->toLocal8Bit());
        else
            qunsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<QString> old_;
};

TEST(ProgramPaths, XdgVariablesAreHonouredWhenAbsolute) {
    const struct {
        std::optional<QString> config, data;
        const char* configHome;
        const char* dataHome;
    } cases[] = {
        {"/x/config", "/x/data", "/x/config", "/x/data"},
        {std::nullopt, std::nullopt, "/home/bo/.config", "/home/bo/.local/share"},
        {"", "", "/home/bo/.config", "/home/bo/.local/share"},
        // The XDG rules ignore a relative path.
        {"relative/config", "/x/data/", "/home/bo/.config", "/x/data"},
    };
    const ScopedVariable home("HOME", QString("/home/bo"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configHome);
        const ScopedVariable config("XDG_CONFIG_HOME", c.config);
        const ScopedVariable data("XDG_DATA_HOME", c.data);
        const UserFolders user = UserFolders::fromEnvironment();
        EXPECT_EQ(user.configHome, c.configHome);
        EXPECT_EQ(user.dataHome, c.dataHome);
    }
}

// The folder's mode bits count, not only the access check: root may write
// in a folder made read-only, but the program must not take it.
TEST(ProgramPaths, AReadOnlyFolderOrAnInstalledBinFolderKeepsNoFiles) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir dir(root.path());
    ASSERT_TRUE(dir.mkpath("portable") && dir.mkpath("frozen") && dir.mkpath("prefix/bin") &&
                dir.mkpath("prefix/share/applications") && dir.mkpath("other/bin"));
    QFile desktop(dir.filePath("prefix/share/applications/tarnel.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::WriteOnly));
    desktop.close();
    // chmod 0555
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("frozen"),
                                      QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    EXPECT_TRUE(MayKeepFilesBesideExecutable(dir.filePath("portable")));
    EXPECT_FALSE(MayKeepFilesBesideExecutable(dir.filePath("frozen")));
    EXPECT_FALSE(MayKeepFilesBesideExecutable(dir.filePath("prefix/bin")));
    EXPECT_TRUE(MayKeepFilesBesideExecutable(dir.filePath("other/bin")));
    EXPECT_FALSE(MayKeepFilesBesideExecutable(dir.filePath("missing")));

    const ProgramPaths frozen =
        ResolveProgramPaths(dir.filePath("frozen/tarnel"), "", {"/c", "/d"});
    EXPECT_EQ(frozen.settingsFile, "/c/Tarnel/tarnel.ini");
}

TEST(ProgramPaths, TheUsersFoldersAreMadeButNotTheFoldersOfAGivenFile) {
    QTemporaryDir root;
    const QDir dir(root.path());
    const UserFolders user{dir.filePath("config"), dir.filePath("data")};
    MakeUserFolders(ResolveProgramPaths("/usr/bin/tarnel", "", user, readOnly), "");
    EXPECT_TRUE(QFileInfo(dir.filePath("config/Tarnel")).isDir());
    EXPECT_TRUE(QFileInfo(dir.filePath("data/Tarnel")).isDir());

    const QString given = dir.filePath("elsewhere/site.ini");
    MakeUserFolders(ResolveProgramPaths("/usr/bin/tarnel", given, user, readOnly), given);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("elsewhere")));

    // Beside the executable nothing is made.
    const UserFolders unused{dir.filePath("c2"), dir.filePath("d2")};
    MakeUserFolders(ResolveProgramPaths(dir.filePath("tarnel"), "", unused, writable), "");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("c2")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("d2")));
}

}  // namespace
}  // namespace tarnel
