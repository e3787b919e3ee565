#include "base/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <thread>

namespace tarnel {
namespace {

TEST(Log, StartsWithOneEmptyLineAndClearLeavesNone) {
    Log log;
    EXPECT_EQ(log.lines(), QStringList{QString()});
    log.clear();
    EXPECT_TRUE(log.lines().isEmpty());
    log.clear();  // clearing an empty log keeps it empty
    EXPECT_TRUE(log.lines().isEmpty());
    log.append("Serial port for modbus closed");
    EXPECT_EQ(log.lines(), QStringList{"Serial port for modbus closed"});
}

TEST(Log, WritesEveryLineWithCrLfKeepingATrailingCarriageReturn) {
    QTemporaryDir dir;
    Log log;
    log.clear();
    log.append("RCVD:01 03 02 00 0A 38 43 ");
    log.append("Error in CRC field\r");
    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(log.writeTo(path));
    EXPECT_EQ(test::readFile(path),
              QByteArray("RCVD:01 03 02 00 0A 38 43 \r\nError in CRC field\r\r\n"));
}

TEST(Log, WritingAgainReplacesTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    Log log;
    log.append("first");
    ASSERT_TRUE(log.writeTo(path));
    log.clear();
    log.append("second");
    ASSERT_TRUE(log.writeTo(path));
    EXPECT_EQ(test::readFile(path), QByteArray("second\r\n"));
}

TEST(Log, WritingIntoAMissingFolderFailsAndCreatesNothing) {
    QTemporaryDir dir;
    Log log;
    EXPECT_FALSE(log.writeTo(dir.filePath("files/log.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("files")));
}

TEST(Log, LinesFromOtherThreadsArriveWholeAndInOrder) {
    Log log;
    log.clear();
    QStringList seen;
    QObject::connect(&log, &Log::lineAppended, [&](const QString& line) { seen << line; });
    constexpr int kLines = 500;
    auto writer = [&log](const QString& tag) {
        for (int i = 0; i < kLines; ++i)
            log.append(QStringLiteral("%1 line %2 ...").arg(tag).arg(i));
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines().size() == 2 * kLines; }, 5000));
    EXPECT_EQ(seen, log.lines());
    int nextA = 0, nextB = 0;
    for (const QString& line : log.lines()) {
        int& next = line.startsWith('A') ? nextA : nextB;
        EXPECT_EQ(line.mid(2), QStringLiteral("line %1 ...").arg(next));
        ++next;
    }
}

TEST(Log, ARefusedSaveKeepsTheTargetAndSaysWhy) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(test::writeFile(path, "kept\r\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    Log log;
    log.append("new");
    QString reason;
    EXPECT_FALSE(log.writeTo(path, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(test::readFile(path), QByteArray("kept\r\n"));
}

// Past its bound the log drops its oldest lines from memory, but the session
// file has them, and a save writes every line since the last clear.
TEST(Log, BoundedInMemoryWithNothingLostInTheSaveOrTheSessionFile) {
    QTemporaryDir dir;
    Log log;
    log.append("before the session");
    ASSERT_TRUE(log.startSession(dir.filePath("sessions")));
    log.clear();
    const qsizetype total = Log::kMaxLines + 5000;
    QByteArray expected;
    for (qsizetype i = 0; i < total; ++i) {
        const QString line = QStringLiteral("line %1").arg(i);
        log.append(line);
        expected += line.toUtf8() + "\r\n";
    }
    EXPECT_LE(log.lines().size(), Log::kMaxLines);
    EXPECT_GT(log.droppedLines(), 0);
    EXPECT_EQ(log.lines().size() + log.droppedLines(), total);
    EXPECT_EQ(log.lines().last(), QStringLiteral("line %1").arg(total - 1));

    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(log.writeTo(path));
    EXPECT_EQ(test::readFile(path), expected);
    EXPECT_EQ(test::readFile(log.sessionFile()), "\r\nbefore the session\r\n" + expected);
}

TEST(Log, BoundedByCharactersFromTheFirstCharacterPastTheBound) {
    Log log;
    log.clear();
    const QString line(1024, 'x');
    for (qsizetype held = 0; held < Log::kMaxCharacters; held += line.size())
        log.append(line);
    EXPECT_EQ(log.droppedLines(), 0) << "at the bound";
    log.append("y");
    EXPECT_GT(log.droppedLines(), 0);
    qsizetype held = 0;
    for (const QString& kept : log.lines())
        held += kept.size();
    EXPECT_LE(held, Log::kMaxCharacters);
    EXPECT_EQ(log.lines().last(), "y");
}

// The newest are kept, and one that another window still writes (it holds
// the lock), however old.
TEST(Log, KeepsTheNewestSessionFilesAndOneInUse) {
    QTemporaryDir dir;
    const QDir sessions(dir.filePath("sessions"));
    ASSERT_TRUE(sessions.mkpath("."));
    for (int day = 1; day <= 12; ++day)
        ASSERT_TRUE(test::writeFile(
            sessions.filePath(
                QStringLiteral("session-202601%1-120000-000.txt").arg(day, 2, 10, QChar('0'))),
            "old"));
    const QString inUse = sessions.filePath("session-20260102-120000-000.txt");
    const int other = ::open(QFile::encodeName(inUse).constData(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    Log log;
    ASSERT_TRUE(log.startSession(sessions.path(), 10));
    ::close(other);
    const QStringList kept = sessions.entryList({"session-*.txt"}, QDir::Files, QDir::Name);
    ASSERT_EQ(kept.size(), 11);
    EXPECT_EQ(kept[0], "session-20260102-120000-000.txt");
    EXPECT_EQ(kept[1], "session-20260104-120000-000.txt");
    EXPECT_TRUE(kept.contains(QFileInfo(log.sessionFile()).fileName()));
}

// A session file that can no longer be written (a full disk) is said once.
TEST(Log, ASessionFileThatCannotBeWrittenIsSaidOnce) {
    QTemporaryDir dir;
    Log log;
    ASSERT_TRUE(log.startSession(dir.path()));
    {
        const test::FileSizeLimit full(1);
        log.append("first");
        log.append("second");
    }
    EXPECT_EQ(
        log.lines().mid(1),
        (QStringList{"first", "Session file not written: " + log.sessionFile() + ": File too large",
                     "second"}));
}

// Past its bound the session file keeps its newest half under a line that
// says so; a save then starts with that line.
TEST(Log, TheSessionFileIsCutToItsNewestHalfAtItsBound) {
    QTemporaryDir dir;
    Log log;
    log.setSessionBound(4096);
    ASSERT_TRUE(log.startSession(dir.path()));
    for (int i = 0; i < 1000; ++i)
        log.append(QStringLiteral("line %1").arg(i));
    const QByteArray session = test::readFile(log.sessionFile());
    EXPECT_LE(session.size(), 4096);
    EXPECT_GE(session.size(), 2048);
    const QByteArray head = "Older lines of this session were dropped to keep its file small.\r\n";
    EXPECT_TRUE(session.startsWith(head + "line ")) << session.left(80).constData();
    EXPECT_TRUE(session.endsWith("\r\nline 999\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// A save after the session file failed (a full disk) and the memory dropped
// lines: the lines in memory, not the broken file, under a line that says
// what is missing.
TEST(Log, ASaveAfterTheSessionFileBrokeWritesWhatMemoryHolds) {
    QTemporaryDir dir;
    Log log;
    ASSERT_TRUE(log.startSession(dir.filePath("sessions")));
    {
        const test::FileSizeLimit full(1);
        log.append("first");
    }
    for (qsizetype i = 0; i < Log::kMaxLines + 10; ++i)
        log.append(QStringLiteral("line %1").arg(i));
    ASSERT_GT(log.droppedLines(), 0);
    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(log.writeTo(path));
    const QList<QByteArray> saved = test::readFile(path).split('\n');
    EXPECT_EQ(saved.first(), QStringLiteral("%1 earlier lines of this log were dropped and are not "
                                            "in this file.\r")
                                 .arg(log.droppedLines())
                                 .toUtf8());
    EXPECT_EQ(saved.size(), log.lines().size() + 2);  // the first line and the last's end
    EXPECT_EQ(saved.at(saved.size() - 2),
              QStringLiteral("line %1\r").arg(Log::kMaxLines + 9).toUtf8());
}

// Run only as the child of the next test: saves a large log over and over
// until it is killed.
TEST(LogSaveChild, SavesUntilKilled) {
    const QString path = qEnvironmentVariable("TARNEL_LOG_CHILD_TARGET");
    if (path.isEmpty()) GTEST_SKIP() << "runs as a child process only";
    Log log;
    const QString line(118, QChar('B'));
    for (int i = 0; i < 30'000; ++i)
        log.append(line);  // 3.6 MB, within the bound
    for (;;)
        ASSERT_TRUE(log.writeTo(path));
}

TEST(Log, AKillDuringASaveLeavesTheOldFileOrTheNewOneNeverATornOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    const QByteArray old = "the old log\r\n";
    QByteArray fresh = "\r\n";
    for (int i = 0; i < 30'000; ++i)
        fresh += QByteArray(118, 'B') + "\r\n";
    for (const qint64 killAt : {qint64{0}, qint64{1} << 20, qint64{3} << 20}) {
        ASSERT_TRUE(test::writeFile(path, old));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARNEL_LOG_CHILD_TARGET", path);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=LogSaveChild.SavesUntilKilled"});
        ASSERT_TRUE(child.waitForStarted());
        // Kill it while the new file is being written: once the temporary
        // file beside the target has grown to `killAt` bytes.
        QElapsedTimer waited;
        waited.start();
        const auto writing = [&] {
            for (const QFileInfo& file : QDir(dir.path()).entryInfoList(QDir::Files))
                if (file.fileName() != "log.txt" && file.size() >= killAt) return true;
            return false;
        };
        while (!writing() && waited.elapsed() < 30'000)
            QThread::yieldCurrentThread();
        child.kill();
        child.waitForFinished();
        const QByteArray left = test::readFile(path);
        EXPECT_TRUE(left == old || left == fresh) << "torn: " << left.size() << " bytes";
    }
}

}  // namespace
}  // namespace tarnel
