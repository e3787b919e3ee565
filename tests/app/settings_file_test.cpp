#include "gateway/settings_file.h"

#include <gtest/gtest.h>

#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace tarnel {
namespace {

const QStringList kDefaults{"COM1",        "19200", "Even", "1", "0", "1000", "1",
                            "5",           "2",     "600",  "1", "1", "125",  "/opt/tarnel",
                            "192.168.1.3", "502",   "50",   "1", "",  ""};

struct SettingsFileTest : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath("tarnel.ini");
    SettingsFile file{path};
};

TEST_F(SettingsFileTest, MissingFileGivesEveryDefaultAndTheExecutableFolderAsDir) {
    EXPECT_EQ(file.read("/opt/tarnel"), kDefaults);
}

TEST_F(SettingsFileTest, WritesEveryKeyAsKeyEqualsValueInTheTablesOrder) {
    ASSERT_TRUE(file.write(kDefaults));
    QStringList lines;
    for (const QByteArray& line : test::readFile(path).split('\n'))
        if (!line.trimmed().isEmpty()) lines << QString::fromUtf8(line);
    EXPECT_EQ(lines,
              (QStringList{"[Modbus port]",  "Name=COM1",    "Speed=19200",     "Parity=Even",
                           "SB=1",           "[Modbus]",     "AutoOpen=0",      "Timeout=600",
                           "Address=1",      "STADDR=1",     "Count=125",       "Fast=1",
                           "[Mbus]",         "Timeout=1000", "SearchFrom=1",    "SearchTo=5",
                           "Retry=2",        "[Misc]",       "Dir=/opt/tarnel", "[TCP]",
                           "IP=192.168.1.3", "Port=502",     "EthTimeout=50",   "[Report]",
                           "Site=",          "Installer="}));
    EXPECT_EQ(file.read("/elsewhere"), kDefaults);
}

TEST_F(SettingsFileTest, AHandWrittenFileWithCrLfAndBlanksLoads) {
    ASSERT_TRUE(test::writeFile(
        path,
        "; written by hand\r\n[TCP]\r\nPort=1502\r\n[Modbus port]\r\nName=/dev/ttyUSB0\r\n"
        "Parity=None\r\n[Modbus]\r\nAutoOpen=1\r\nTimeout = 1200\r\n[Misc]\r\n"
        "Dir=/home/installer/plant rooms\r\n"));
    const QStringList values = file.read("/opt/tarnel");
    EXPECT_EQ(values[0], "/dev/ttyUSB0");
    EXPECT_EQ(values[2], "None");
    EXPECT_EQ(values[4], "1");
    EXPECT_EQ(values[9], "1200");
    EXPECT_EQ(values[13], "/home/installer/plant rooms");
    EXPECT_EQ(values[15], "1502");
    EXPECT_EQ(values[14], "192.168.1.3") << "keys that are missing keep their defaults";
}

TEST_F(SettingsFileTest, NumbersThatDoNotParseFallBackToTheDefault) {
    ASSERT_TRUE(
        test::writeFile(path, "[Mbus]\nTimeout=fast\nRetry=\n[Modbus]\nAutoOpen=yes\nAddress=7\n"));
    const QStringList values = file.read("/opt/tarnel");
    EXPECT_EQ(values[5], "1000");
    EXPECT_EQ(values[8], "2");
    EXPECT_EQ(values[4], "0");
    EXPECT_EQ(values[10], "7");
    EXPECT_EQ(values[17], "1") << "fast replies are on unless the file says 0";
}

// A file past 1 MB is not ours: not read (and not replaced at close); one of
// exactly 1 MB is. A line with a NUL byte is skipped with a line, the lines
// after it are read.
TEST_F(SettingsFileTest, AnOversizedFileAndANulByteAreReported) {
    const QByteArray head = "[TCP]\nPort=1502\n;";
    for (const qint64 size : {SettingsFile::kMaxBytes, SettingsFile::kMaxBytes + 1}) {
        const QByteArray content = head + QByteArray(size - head.size() - 1, 'x') + "\n";
        ASSERT_TRUE(test::writeFile(path, content));
        QStringList problems;
        const bool over = size > SettingsFile::kMaxBytes;
        EXPECT_EQ(file.read("/opt/tarnel", &problems)[15], over ? "502" : "1502") << size;
        EXPECT_EQ(problems, over ? QStringList{"Settings file " + path +
                                               " not read: it is larger than 1 MB."}
                                 : QStringList{})
            << size;
        QString reason;
        EXPECT_EQ(file.write(kDefaults, &reason), !over) << size;
        if (over) {
            EXPECT_EQ(test::readFile(path), content);
        }
    }
    ASSERT_TRUE(test::writeFile(path, QByteArray("[TCP]\nIP=10.0.0.9\0junk\nPort=1502\n", 33)));
    QStringList problems;
    const QStringList values = file.read("/opt/tarnel", &problems);
    EXPECT_EQ(values[14], "192.168.1.3");
    EXPECT_EQ(values[15], "1502");
    EXPECT_EQ(problems,
              QStringList{"Settings file " + path + ": line 2 holds a NUL byte and is not read."});
}

TEST_F(SettingsFileTest, KeysTheToolDoesNotKnowSurviveAWrite) {
    ASSERT_TRUE(
        test::writeFile(path, "[Modbus port]\nName=COM3\n[Installer]\nSite=Boiler house 2\n"));
    ASSERT_TRUE(file.write(kDefaults));
    const QByteArray content = test::readFile(path);
    EXPECT_TRUE(content.contains("[Installer]\nSite=Boiler house 2\n")) << content.constData();
    EXPECT_TRUE(content.contains("Name=COM1\n"));
}

TEST_F(SettingsFileTest, AFileThatGrantsWriteToNobodyIsNotWrittenEvenByRoot) {
    ASSERT_TRUE(test::writeFile(path, "[Modbus port]\nName=COM7\n"));
    ASSERT_TRUE(
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    EXPECT_FALSE(file.write(kDefaults));
    EXPECT_EQ(test::readFile(path), QByteArray("[Modbus port]\nName=COM7\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tarnel.ini"})
        << "no temporary file is left behind";
}

TEST_F(SettingsFileTest, AFolderThatCannotBeWrittenLeavesNoFile) {
    SettingsFile nowhere(dir.filePath("missing/tarnel.ini"));
    EXPECT_FALSE(nowhere.write(kDefaults));
    EXPECT_FALSE(QFile::exists(dir.filePath("missing")));
}

// A settings file kept elsewhere and linked: the link stays, its file is
// rewritten.
TEST_F(SettingsFileTest, ALinkedFileIsRewrittenAndTheLinkKept) {
    const QString real = dir.filePath("shared.ini");
    ASSERT_TRUE(test::writeFile(real, "[Modbus port]\nName=COM7\n"));
    ASSERT_TRUE(QFile::link("shared.ini", path));
    ASSERT_TRUE(file.write(kDefaults));
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_TRUE(test::readFile(real).contains("Name=COM1\n"));
}

TEST_F(SettingsFileTest, RewritingKeepsTheFilesPermissions) {
    ASSERT_TRUE(test::writeFile(path, "[Modbus port]\nName=COM7\n"));
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(path, mode));
    ASSERT_TRUE(file.write(kDefaults));
    EXPECT_EQ(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              mode);
}

}  // namespace
}  // namespace tarnel
