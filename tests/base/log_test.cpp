#include "base/log.h"

#include <gtest/gtest.h>

#include "support/files.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
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

}  // namespace
}  // namespace tarnel
