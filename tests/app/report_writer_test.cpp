// The commissioning report written on a worker: the same pages as written on
// the thread that asks, while that thread goes on with its events.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "base/real_clock.h"
#include "print/report_files.h"

namespace tarnel {
namespace {

// 64 activated meters: the table runs over several pages.
CommissioningReport SixtyFourMeters() {
    CommissioningReport report;
    report.site = "Plant room B";
    report.installer = "J. Doe";
    report.madeAt = QDateTime(QDate(2026, 3, 2), QTime(10, 30));
    report.link = "TCP 127.0.0.1:502";
    report.status.replies = 14;
    report.table.answered = true;
    report.table.count = 64;
    for (int number = 1; number <= 64; ++number) {
        TModbusDevice device;
        device.id = std::to_string(30000000 + number);
        device.address = static_cast<uint8_t>(number);
        device.register10High = 1;
        report.table.entries.push_back({number, device});
    }
    report.points = PointsList(report.table.entries, false);
    return report;
}

QString PdfText(const QString& pdftotext, const QString& pdf) {
    QProcess text;
    text.start(pdftotext, {"-layout", pdf, "-"});
    text.waitForFinished(20000);
    return QString::fromUtf8(text.readAllStandardOutput());
}

// Reads a FIFO from the event loop; it is opened only there, so whoever
// writes into it waits for the loop to run.
struct FifoReader {
    int fd = -1;
    QByteArray read;
    std::unique_ptr<QSocketNotifier> notifier;

    void open(const QByteArray& path) {
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
                read.append(buffer, got);
            if (got == 0 && !read.isEmpty()) notifier->setEnabled(false);  // the writer closed
        });
    }
    ~FifoReader() {
        notifier.reset();
        if (fd >= 0) ::close(fd);
    }
};

TEST(ReportWriter, WritesTheSamePagesOnAWorkerWhileTheAskingThreadGoesOn) {
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    QTemporaryDir dir;
    const CommissioningReport report = SixtyFourMeters();
    ASSERT_EQ(WriteCommissioningReport(report, {dir.filePath("here.pdf"), {}}), "");

    // The HTML goes into a FIFO that this thread opens from its event loop.
    const QByteArray fifo = QFile::encodeName(dir.filePath("page.html"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    RealClock clock;
    QObject context;
    ReportWriter writer(clock);
    QEventLoop loop;
    std::optional<QString> error;
    const ReportFiles files{dir.filePath("worker.pdf"), dir.filePath("page.html")};
    ASSERT_TRUE(writer.start(report, files, &context, [&](const QString& said) {
        error = said;
        loop.quit();
    }));
    EXPECT_TRUE(writer.writing());
    EXPECT_FALSE(writer.start(report, files, &context, [](const QString&) {}))
        << "one report at a time";
    FifoReader reader;
    QTimer::singleShot(0, &context, [&] { reader.open(fifo); });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_EQ(error, QString());
    EXPECT_FALSE(writer.writing());
    EXPECT_TRUE(reader.read.contains("<h1>Commissioning report</h1>"));
    const QString here = PdfText(pdftotext, dir.filePath("here.pdf"));
    const int pages = static_cast<int>(here.count('\f'));
    EXPECT_GE(pages, 3);
    EXPECT_TRUE(here.contains(QString("Page %1 of %1").arg(pages))) << here.toStdString();
    EXPECT_EQ(PdfText(pdftotext, dir.filePath("worker.pdf")), here);
}

}  // namespace
}  // namespace tarnel
