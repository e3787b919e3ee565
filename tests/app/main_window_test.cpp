#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <thread>

#include "app/about_box.h"
#include "app/log_view.h"
#include "gateway/settings_file.h"
#include "support/files.h"
#include "window_fixture.h"

namespace tarnel {
namespace {

using test::WindowTest;

QString comboText(const WindowTest& t, const char* name) {
    return t.control<QComboBox>(name)->currentText();
}
QString editText(const WindowTest& t, const char* name) {
    return t.control<QLineEdit>(name)->text();
}
int position(const WindowTest& t, const char* name) {
    return t.control<UpDown>(name)->position();
}

using Settings = WindowTest;

TEST_F(Settings, FirstStartWithoutAFileShowsEveryDefault) {
    start();
    EXPECT_EQ(comboText(*this, "Combo_com2_name"), "COM1");
    EXPECT_EQ(comboText(*this, "Combo_com2_speed"), "19200");
    EXPECT_EQ(comboText(*this, "Combo_com2_parity"), "Even");
    EXPECT_EQ(comboText(*this, "Combo_com2_stop"), "1");
    EXPECT_FALSE(control<QCheckBox>("CB_open_port2")->isChecked());
    EXPECT_EQ(position(*this, "UD_modbusTimeout"), 600);
    EXPECT_EQ(editText(*this, "EditTimeoutModbus"), "600");
    EXPECT_EQ(position(*this, "UDmodbusAddress"), 1);
    EXPECT_EQ(editText(*this, "EditInputAddress"), "1");
    EXPECT_EQ(editText(*this, "EditInputCount"), "125");
    EXPECT_EQ(position(*this, "UDaddressFrom"), 1);
    EXPECT_EQ(position(*this, "UDaddressTo"), 5);
    EXPECT_EQ(position(*this, "UD_timeout"), 1000);
    EXPECT_EQ(position(*this, "UD_retry"), 2);
    EXPECT_EQ(editText(*this, "Edit_lanxp_ip"), "192.168.1.3");
    EXPECT_EQ(editText(*this, "Edit_lanxp_port"), "502");
    EXPECT_EQ(position(*this, "UD_eth_timeout"), 50);
    EXPECT_EQ(form->program().dataFolder(), folder.path());
    EXPECT_FALSE(QFile::exists(paths.settingsFile));

    closeWindow();
    EXPECT_TRUE(dialogs.shown.empty());
    QStringList expected{"COM1",        "19200", "Even", "1", "0", "1000", "1",
                         "5",           "2",     "600",  "1", "1", "125",  folder.path(),
                         "192.168.1.3", "502",   "50",   "1", "",  ""};
    EXPECT_EQ(SettingsFile(paths.settingsFile).read("/unused"), expected);
    for (const SettingKey& key : settingKeys())
        EXPECT_TRUE(settingsContent().contains("\n" + key.key.toUtf8() + "="))
            << key.key.toStdString();
}

TEST_F(Settings, ChangedValuesSurviveARestart) {
    start();
    control<QComboBox>("Combo_com2_name")->setCurrentText("COM12");
    control<QComboBox>("Combo_com2_parity")->setCurrentText("None");
    control<UpDown>("UD_timeout")->setPosition(2500);
    control<QLineEdit>("EditTimeoutModbus")->setText("1200");
    control<QLineEdit>("EditInputCount")->setText("64");
    control<QLineEdit>("Edit_lanxp_ip")->setText("127.0.0.1");
    restart();
    EXPECT_EQ(comboText(*this, "Combo_com2_name"), "COM12");
    EXPECT_EQ(comboText(*this, "Combo_com2_parity"), "None");
    EXPECT_EQ(position(*this, "UD_timeout"), 2500);
    EXPECT_EQ(position(*this, "UD_modbusTimeout"), 1200);
    EXPECT_EQ(editText(*this, "EditInputCount"), "64");
    EXPECT_EQ(editText(*this, "Edit_lanxp_ip"), "127.0.0.1");
}

TEST_F(Settings, ValuesOutsideAControlsRangeAreClampedIntoIt) {
    writeSettings(
        "[Modbus]\nTimeout=10\nAddress=300\n[Mbus]\nTimeout=99999\nSearchFrom=-3\nSearchTo=300\n"
        "Retry=12\n[TCP]\nEthTimeout=5\n");
    start();
    EXPECT_EQ(position(*this, "UD_modbusTimeout"), 50);
    EXPECT_EQ(position(*this, "UDmodbusAddress"), 255);
    EXPECT_EQ(position(*this, "UD_timeout"), 9900);
    EXPECT_EQ(position(*this, "UDaddressFrom"), 0);
    EXPECT_EQ(position(*this, "UDaddressTo"), 255);
    EXPECT_EQ(position(*this, "UD_retry"), 9);
    EXPECT_EQ(position(*this, "UD_eth_timeout"), 30);
    EXPECT_EQ(editText(*this, "EditTimeoutModbus"), "50");
}

TEST_F(Settings, TextsGoIntoTheirControlsAsTheyAreListedOrNot) {
    writeSettings("[Modbus port]\nName=/dev/ttyUSB0\nSpeed=abc\nParity=even\nSB=1.5\n");
    start();
    EXPECT_EQ(comboText(*this, "Combo_com2_name"), "/dev/ttyUSB0");
    EXPECT_EQ(comboText(*this, "Combo_com2_speed"), "abc");
    EXPECT_EQ(comboText(*this, "Combo_com2_parity"), "even");
    EXPECT_EQ(comboText(*this, "Combo_com2_stop"), "1.5");
}

TEST_F(Settings, AReadOnlyFileGivesTheWarningAndKeepsItsContent) {
    const QByteArray old = "[Modbus port]\nName=COM4\n";
    writeSettings(old);
    ASSERT_TRUE(QFile::setPermissions(paths.settingsFile, QFile::ReadOwner | QFile::ReadOther));
    start();
    control<QComboBox>("Combo_com2_name")->setCurrentText("COM9");
    closeWindow();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "warning");
    EXPECT_EQ(dialogs.shown[0].caption, "Saving settings");
    EXPECT_EQ(dialogs.shown[0].text, "Settings will not be saved, no write permission\n" +
                                         paths.settingsFile + ": the file is read-only");
    EXPECT_EQ(settingsContent(), old);
}

// A full disk at close: the old file stays whole, and the box says why.
TEST_F(Settings, AFullDiskAtCloseKeepsTheOldFileAndSaysWhy) {
    const QByteArray old = "[Modbus port]\nName=COM4\n[Installer]\nSite=Boiler house 2\n";
    writeSettings(old);
    start();
    {
        const test::FileSizeLimit full(16);
        closeWindow();
    }
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Settings will not be saved, no write permission\n" +
                                         paths.settingsFile + ": File too large");
    EXPECT_EQ(settingsContent(), old);
}

TEST_F(Settings, TheDataFolderIsWrittenBackAsItWasRead) {
    writeSettings("[Misc]\nDir=/srv/plant room/tables\n");
    start();
    EXPECT_EQ(form->program().dataFolder(), "/srv/plant room/tables");
    closeWindow();
    EXPECT_TRUE(settingsContent().contains("Dir=/srv/plant room/tables\n"));
}

using Shell = WindowTest;

TEST_F(Shell, StartsOnTheSettingsPageInHexModeWithEnglishChecked) {
    start();
    EXPECT_EQ(control<QTabWidget>("PageControl1")->currentWidget(), control<QWidget>("TabSheet2"));
    EXPECT_TRUE(control<QCheckBox>("Check_hex")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("Check_ascii")->isChecked());
    EXPECT_TRUE(control<QAction>("English1")->isChecked());
    EXPECT_EQ(QDir::currentPath(), QDir(folder.path()).canonicalPath());
}

// 891 by 766 where the screen has room. On a laptop of 1366 by 768 with a
// panel the window must still fit, its pages scroll and every control can be
// reached; the meter grid shows all its columns beside the device table.
TEST_F(Shell, TheWindowFitsItsScreenAndWorksOnASmallLaptop) {
    start();
    // Room is left for a window manager's frame, which offscreen has none of.
    const QSize fitted = QSize(891, 766).boundedTo(form->screen()->availableGeometry().size());
    const auto fits = [&] {
        const QSize room = fitted - form->size();
        return room.width() >= 0 && room.height() >= 0 && room.width() <= 40 &&
               room.height() <= 40;
    };
    ASSERT_TRUE(QTest::qWaitFor(fits, 5000)) << form->width() << "x" << form->height();
    auto* pages = control<QTabWidget>("PageControl1");
    pages->setCurrentIndex(1);
    form->resize(891, 766);  // the offscreen screen is narrower
    form->program().gridLoops().setRowTexts(
        1, {"30201567", "3", "GSW", "852.410", "m3", "Gas", "04", "23:59:59"});
    form->program().gridLoops().setRows(3);
    auto* meters = control<QTableView>("gridLoops");
    clock.advance(100);  // the columns are fitted at most every 100 ms
    // The columns fit their cells, then the page lays out anew.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return meters->viewport()->width() >= meters->horizontalHeader()->length(); }, 2000))
        << meters->viewport()->width() << " < " << meters->horizontalHeader()->length();

    for (const QSize small : {QSize(780, 640), QSize(640, 480)}) {
        form->resize(small);
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->size() == small; }, 2000))
            << form->width() << "x" << form->height();
        for (int index = 0; index < pages->count(); ++index) {
            pages->setCurrentIndex(index);
            auto* page = qobject_cast<QScrollArea*>(pages->widget(index));
            ASSERT_NE(page, nullptr);
            QCoreApplication::processEvents();
            for (QPushButton* button : page->findChildren<QPushButton*>()) {
                if (!button->isVisibleTo(page)) continue;
                page->ensureWidgetVisible(button, 0, 0);
                const QRect shown(button->mapTo(page->viewport(), QPoint()), button->size());
                EXPECT_TRUE(page->viewport()->rect().contains(shown))
                    << button->objectName().toStdString() << " at " << small.width();
            }
        }
    }
}

// The buttons beside "Activate All from table" stay where they are whatever
// its caption; copied rows are shown from their first column.
TEST_F(Shell, TheDeviceTablesButtonsStayAndCopiedRowsShowTheirIds) {
    start();
    control<QTabWidget>("PageControl1")->setCurrentIndex(1);
    QCoreApplication::processEvents();
    auto* activate = control<QPushButton>("Butt_activateall");
    const QPoint import = control<QPushButton>("Butt_import")->pos();
    for (const char* caption : {"Stop activation", "Activate All in table"}) {
        activate->setText(caption);
        QCoreApplication::processEvents();
        EXPECT_EQ(control<QPushButton>("Butt_import")->pos(), import) << caption;
    }
    auto* devices = control<QTableView>("GridDevices");
    QScrollBar* across = devices->horizontalScrollBar();
    ASSERT_GT(across->maximum(), 0);
    across->setValue(across->maximum());
    form->program().gridLoops().setRowTexts(
        1, {"30201567", "3", "GSW", "852.41", "m3", "Gas", "04", "10.12.2026 20:40:00"});
    form->program().gridLoops().setRows(3);
    QTest::mouseClick(control<QPushButton>("BitBtn15"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(across->value(), 0);
    // ID, Addr, Mfr, Medium, Unit; the value and the rest are not copied.
    EXPECT_EQ(form->program().gridDevices().rowTexts(1).mid(0, 6),
              (QStringList{"30201567", "3", "GSW", "Gas", "m3", ""}));
}

TEST_F(Shell, ExitAsksAndOnlyYesCloses) {
    start();
    dialogs.answers = {false};
    control<QAction>("Exit1")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, "confirm");
    EXPECT_EQ(dialogs.shown[0].caption, "Exit Confirmation");
    EXPECT_EQ(dialogs.shown[0].text, "Are you sure you want to exit?");
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(QFile::exists(paths.settingsFile));

    dialogs.answers = {true};
    control<QAction>("Exit1")->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(QFile::exists(paths.settingsFile)) << "closing ran the shutdown";
}

TEST_F(Shell, AboutShowsTheAboutBoxWithoutBlocking) {
    start();
    TFAbout about;
    form->setAboutBox(&about);
    EXPECT_FALSE(control<QAction>("About1")->isVisible());
    control<QAction>("About1")->trigger();
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());
    EXPECT_EQ(about.windowTitle(), "Tarnel -> About");
    EXPECT_EQ(about.size(), QSize(380, 280));
    EXPECT_TRUE(about.windowFlags() & Qt::WindowStaysOnTopHint);
    QStringList texts;
    for (const QLabel* label : about.findChildren<QLabel*>())
        texts << label->text();
    EXPECT_TRUE(texts.contains("Tarnel v1.0.1.72"));
    EXPECT_TRUE(texts.contains("This software is developed to ease BMS installers and cients.."));
    EXPECT_TRUE(texts.contains("The user take this software as it is. For updates  contact us."));
    QTest::mouseClick(about.findChild<QPushButton*>("ButtonClose"), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(Shell, EnglishRestoresTheGridHeadersAndCaptions) {
    start();
    form->program().gridLoops().setCell(0, 0, "changed");
    control<QPushButton>("BitBtn5")->setText("changed");
    control<QAction>("English1")->setChecked(false);
    control<QAction>("English1")->trigger();
    EXPECT_TRUE(control<QAction>("English1")->isChecked());
    EXPECT_EQ(form->program().gridLoops().cell(0, 0), " ID ");
    EXPECT_EQ(control<QPushButton>("BitBtn5")->text(), "Clear log");
    EXPECT_EQ(control<QTableView>("gridLoops")->model()->headerData(0, Qt::Horizontal).toString(),
              " ID ");
}

using LogWindow = WindowTest;

TEST_F(LogWindow, LinesAppearInTheLogWindowAndClearLogEmptiesIt) {
    start();
    auto* memo = control<QPlainTextEdit>("Memo_current");
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    form->program().log().append("Serial or TCP port for modbus is not open...");
    form->program().log().append("Error in CRC field\r");
    EXPECT_TRUE(memo->toPlainText().endsWith(
        "Serial or TCP port for modbus is not open...\nError in CRC field"));
    QTest::mouseClick(control<QPushButton>("BitBtn5"), Qt::LeftButton);
    EXPECT_TRUE(form->program().log().lines().isEmpty());
    EXPECT_EQ(memo->toPlainText(), "");
    QTest::mouseClick(control<QPushButton>("BitBtn5"), Qt::LeftButton);
    form->program().log().append("first");
    EXPECT_EQ(form->program().log().lines(), QStringList{"first"});
}

// The view follows new lines: after a clear, through a line wide enough to
// bring the horizontal scroll bar, and across a resize; a user who scrolled up
// keeps their place until they scroll back to the end.
TEST_F(LogWindow, TheViewFollowsNewLinesUnlessTheUserScrolledUp) {
    start();
    auto* memo = control<QPlainTextEdit>("Memo_current");
    QScrollBar* bar = memo->verticalScrollBar();
    Log& log = form->program().log();
    const auto atEnd = [bar] { return bar->maximum() > 0 && bar->value() == bar->maximum(); };
    log.clear();
    for (int n = 1; n <= 64; ++n)
        log.append(QStringLiteral("Modbus %1 -> Mbus 255").arg(n));
    EXPECT_TRUE(atEnd());
    log.append("RCVD:" + QString("00 ").repeated(125));
    log.append("Reading status...");
    EXPECT_TRUE(atEnd());
    form->resize(form->width() + 300, form->height() + 200);
    QCoreApplication::processEvents();
    form->resize(form->width() - 300, form->height() - 200);
    QCoreApplication::processEvents();
    log.append("after the resize");
    EXPECT_TRUE(atEnd());

    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int place = bar->value();
    ASSERT_LT(place, bar->maximum());
    log.append("while reading");
    EXPECT_EQ(bar->value(), place);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    log.append("followed again");
    EXPECT_TRUE(atEnd());
    EXPECT_TRUE(memo->toPlainText().endsWith("followed again"));
}

// What scrolls out of the view stays in the log.
TEST_F(LogWindow, TheViewIsBoundedByCharactersAndKeepsTheNewestLines) {
    start();
    auto* memo = control<QPlainTextEdit>("Memo_current");
    Log& log = form->program().log();
    const QString line = QString("AB ").repeated(333);  // 999 characters
    const int lines = LogView::kMaxCharacters / 1000 + 10;
    for (int n = 0; n < lines; ++n)
        log.append(line + QString::number(n % 10));
    EXPECT_LE(memo->document()->characterCount(), LogView::kMaxCharacters);
    EXPECT_GE(memo->document()->characterCount(), LogView::kMaxCharacters * 8 / 10);
    EXPECT_TRUE(memo->toPlainText().endsWith(line + QString::number((lines - 1) % 10)));
    EXPECT_EQ(log.lines().size(), lines + 1);  // the first empty line
}

TEST_F(LogWindow, LinesFromAWorkerThreadReachTheWindow) {
    start();
    std::thread worker([this] { form->program().log().append("Secondary search Thread started"); });
    worker.join();
    auto* memo = control<QPlainTextEdit>("Memo_current");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return memo->toPlainText().endsWith("Secondary search Thread started"); }, 5000));
}

TEST_F(LogWindow, SaveLogThatCannotWriteSaysSoAndWhy) {
    QFile blocker(folder.filePath("files"));  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    start();
    QTest::mouseClick(control<QPushButton>("BitBtn6"), Qt::LeftButton);
    const QStringList lines = form->program().log().lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], "Can not write file, no rights...");
    EXPECT_TRUE(lines.last().startsWith(folder.filePath("files/log.txt") + ": "));
}

TEST_F(LogWindow, SaveLogOnAFullDiskKeepsTheOldFileAndSaysWhy) {
    ASSERT_TRUE(QDir(folder.path()).mkdir("files"));
    const QString path = folder.filePath("files/log.txt");
    ASSERT_TRUE(test::writeFile(path, "old"));
    start();
    form->program().log().append("a line longer than the disk has room for");
    {
        const test::FileSizeLimit full(16);
        QTest::mouseClick(control<QPushButton>("BitBtn6"), Qt::LeftButton);
    }
    const QStringList lines = form->program().log().lines();
    EXPECT_TRUE(lines.contains("Can not write file, no rights..."));
    EXPECT_TRUE(lines.contains(path + ": File too large"));
    EXPECT_FALSE(lines.contains("Log saved to " + path));
    EXPECT_EQ(test::readFile(path), "old");
}

TEST_F(LogWindow, SaveLogWritesCrLfLinesAndASecondSaveReplacesTheFile) {
    ASSERT_TRUE(QDir(folder.path()).mkdir("files"));
    start();
    Log& log = form->program().log();
    log.clear();
    log.append("RCVD:01 04 02 00 05 78 F3 ");
    log.append("Error - ILLEGAL DATA ADDRESS\r");
    QTest::mouseClick(control<QPushButton>("BitBtn6"), Qt::LeftButton);
    QFile file(folder.filePath("files/log.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "RCVD:01 04 02 00 05 78 F3 \r\nError - ILLEGAL DATA ADDRESS\r\r\n");
    file.close();
    log.clear();
    log.append("second");
    QTest::mouseClick(control<QPushButton>("BitBtn6"), Qt::LeftButton);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "second\r\n");
}

TEST_F(LogWindow, StatusPanelsShowTheLinkStatesAndKeepTheCrcError) {
    start();
    auto* bar = control<QStatusBar>("StatusBar1");
    QList<QLabel*> panels;
    for (int i = 1; i <= 4; ++i)
        panels << bar->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i));
    ASSERT_EQ(panels.size(), 4);
    const int widths[] = {200, 200, 300, 50};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(panels[i], nullptr);
        EXPECT_EQ(panels[i]->width(), widths[i]);
        EXPECT_EQ(panels[i]->text(), "");
    }
    StatusPanels& status = form->program().status();
    status.setTcp("Connected to 192.168.1.3");
    status.setSerial("COM1 - 19200,8,Even");
    status.markCrcError();
    EXPECT_EQ(panels[0]->text(), "Connected to 192.168.1.3");
    EXPECT_EQ(panels[1]->text(), "COM1 - 19200,8,Even");
    EXPECT_EQ(panels[2]->text(), "Error in CRC field");
    status.setSerial("\\\\.\\COM1 is closed");
    EXPECT_EQ(panels[2]->text(), "Error in CRC field");
}

}  // namespace
}  // namespace tarnel
