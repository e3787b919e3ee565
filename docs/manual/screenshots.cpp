// tarnel-screenshots OUTPUT_FOLDER
//
// Makes the pictures of the user manual with the program itself: the real
// main window, on a virtual clock, against the simulated gateway and its
// eight default meters wired in-process. It connects, reads registers and
// the status, searches by ID, scans, reads a meter, copies the meters into
// the device table, activates them, reads the table back, and grabs the
// window, parts of it and its pop-up menus into PNG files. Run it offscreen
// (QT_QPA_PLATFORM=offscreen); a QT_SCALE_FACTOR of 2 gives sharper pictures.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/form_builder.h"
#include "app/main_window.h"
#include "base/virtual_clock.h"
#include "gateway/program.h"
#include "link/gateway_link.h"
#include "ops/secondary_search.h"
#include "sim/in_memory_transports.h"

using namespace tarnel;

namespace {

// Every question is answered Yes (clear the table before a scan, ...); a
// box that only informs is printed, so that the build log shows it.
class ScriptedDialogs final : public Dialogs {
public:
    void warning(const QString& caption, const QString& text) override { print(caption, text); }
    void error(const QString& caption, const QString& text) override { print(caption, text); }
    bool confirm(const QString&, const QString&) override { return true; }
    void message(const QString& text) override { print("Tarnel", text); }
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }
    bool openDocument(const QString&) override { return false; }

private:
    static void print(const QString& caption, const QString& text) {
        std::fprintf(stderr, "box %s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
    }
};

// The simulated gateway and the window wired to it. The window is declared
// last, so it goes before the gateway its transports talk to.
class Session {
public:
    explicit Session(QString output) : output_(std::move(output)) {
        form_ = std::make_unique<TForm1>(
            clock_, dialogs_, ProgramPaths{folder_.path(), folder_.filePath("tarnel.ini")},
            Transports{std::make_unique<sim::InMemorySerial>(rtu_, clock_),
                       std::make_unique<sim::InMemoryTcp>(tcpEndpoint_, clock_)});
        form_->show();
        QCoreApplication::processEvents();
        // The window at its designed size, though the offscreen screen is
        // smaller: the window would fit itself to it.
        const QSize designed(891, 766);
        form_->resize(designed);
        QElapsedTimer waited;
        waited.start();
        while (form_->size() != designed && waited.elapsed() < 2000)
            QCoreApplication::processEvents();
    }
    ~Session() { form_->close(); }

    TForm1& form() { return *form_; }
    Program& program() { return form_->program(); }
    template <typename T>
    T* control(const char* name) const {
        return form_->control<T>(name);
    }
    void click(const char* name) { control<QPushButton>(name)->click(); }
    void setPosition(const char* name, int position) {
        control<UpDown>(name)->setPosition(position);
    }

    // Lets the window work until nothing is due on the clock any more and no
    // search runs; false when that takes more than `limitMs` of virtual time.
    bool runUntilIdle(qint64 limitMs = 600'000) {
        const qint64 end = clock_.elapsed() + limitMs;
        while (program().search().running() && clock_.elapsed() < end)
            clock_.advance(50);
        clock_.settle();
        clock_.runUntilIdle(end - clock_.elapsed());
        QCoreApplication::processEvents();
        return clock_.armedTimers() == 0 && !program().search().running();
    }
    // Lets the window work until `done`; false when that takes more than
    // `limitMs` of virtual time.
    bool runUntil(const std::function<bool()>& done, qint64 limitMs = 600'000) {
        const qint64 end = clock_.elapsed() + limitMs;
        while (!done() && clock_.elapsed() < end) {
            clock_.advance(50);
            QCoreApplication::processEvents();
        }
        return done();
    }

    void showPage(const char* page) {
        control<QTabWidget>("PageControl1")->setCurrentWidget(control<QWidget>(page));
        QCoreApplication::processEvents();
    }
    // Shows the log's last lines, or its lines from the first one that reads
    // `from` on.
    void scrollLog(const QString& from = {}) {
        auto* memo = control<QPlainTextEdit>("Memo_current");
        QScrollBar* bar = memo->verticalScrollBar();
        memo->horizontalScrollBar()->setValue(0);
        if (from.isEmpty()) {
            bar->setValue(bar->maximum());
            return;
        }
        const qsizetype line = memo->toPlainText().split('\n').indexOf(from);
        if (line < 0) fail(qUtf8Printable("no log line " + from));
        bar->setValue(static_cast<int>(std::max<qsizetype>(line, 0)));
    }

    // The rectangle `widget` covers in the window.
    QRect areaOf(const QWidget* widget) const {
        return {widget->mapTo(form_.get(), QPoint(0, 0)), widget->size()};
    }
    void save(const QPixmap& picture, const QString& name) {
        const QString path = QDir(output_).filePath(name);
        const bool saved = !picture.isNull() && picture.save(path, "PNG");
        std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "FAILED", qUtf8Printable(path));
        failures_ += saved ? 0 : 1;
    }
    void shootWindow(const QString& name) {
        scrollLog();
        save(form_->grab(), name);
    }
    void shootArea(const QRect& area, const QString& name, const QString& logFrom = {}) {
        scrollLog(logFrom);
        save(form_->grab(area), name);
    }
    void shootWidget(const QWidget* widget, const QString& name, const QString& logFrom = {}) {
        shootArea(areaOf(widget), name, logFrom);
    }
    // A pop-up menu as it opens.
    void shootMenu(const char* name, const QString& file) {
        auto* menu = control<QMenu>(name);
        menu->popup(QPoint(0, 0));
        QCoreApplication::processEvents();
        save(menu->grab(), file);
        menu->hide();
    }
    // The log window with its label.
    QRect logArea() const {
        const QRect memo = areaOf(control<QWidget>("Memo_current"));
        const QRect label = areaOf(form_->findChild<QWidget*>("ConsoleAndLog"));
        return memo.united(QRect(memo.left(), label.top(), 1, 1));
    }
    QGroupBox* group(const QString& title) const {
        for (QGroupBox* box : form_->findChildren<QGroupBox*>())
            if (box->title().trimmed() == title) return box;
        throw std::logic_error("no group " + title.toStdString());
    }
    sim::FaultPlan& serialFaults() { return rtu_.faults(); }
    int failures() const { return failures_; }
    void fail(const char* what) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures_;
    }

private:
    QString output_;
    QTemporaryDir folder_;
    VirtualClock clock_;
    sim::SimBus bus_{sim::SimBus::DefaultMeters()};
    sim::SimGateway gateway_{bus_, clock_};
    sim::SimEndpoint rtu_{gateway_, clock_, sim::Framing::Rtu};
    sim::SimEndpoint tcpEndpoint_{gateway_, clock_, sim::Framing::Tcp};
    ScriptedDialogs dialogs_;
    std::unique_ptr<TForm1> form_;
    int failures_ = 0;
};

// Connect TCP, read three status registers, read the status.
void settingsPage(Session& session) {
    session.click("Butt_connect_xport");
    if (!session.runUntil([&] { return session.program().link().TcpMode(); }))
        session.fail("no TCP connection");
    session.runUntilIdle();
    session.control<QLineEdit>("EditInputAddress")->setText("32768");
    session.control<QLineEdit>("EditInputCount")->setText("3");
    session.click("BitBtn3");
    session.runUntilIdle();
    session.click("BitBtn18");
    if (!session.runUntilIdle()) session.fail("status read did not end");
    session.showPage("TabSheet2");
    session.shootWindow("settings-page.png");
    session.shootWidget(session.group("Commands"), "commands-group.png");
    session.shootWidget(session.group("TCP settings"), "tcp-group.png");
    // The register view down to the grid's last row: the rest is empty.
    auto* registers = session.control<QTableView>("gridInputRegisters");
    const int lastRow = registers->model()->rowCount() - 1;
    QRect view = session.areaOf(registers->parentWidget());
    view.setBottom(registers->viewport()
                       ->mapTo(&session.form(), QPoint(0, registers->rowViewportPosition(lastRow) +
                                                              registers->rowHeight(lastRow)))
                       .y() +
                   4);
    session.shootArea(view, "register-view.png");
    session.shootArea(session.logArea(), "status-log.png");
}

// A wildcard search by ID, with the scan time the slowest meter needs.
void searchById(Session& session) {
    session.showPage("TabSheet1");
    session.setPosition("UD_timeout", 1500);
    session.setPosition("UD_retry", 1);
    session.control<QLineEdit>("editID")->setText("FFFFFFFF");
    session.click("BitBtn21");
    if (!session.runUntilIdle()) session.fail("search did not end");
    // Where the two meters whose numbers end in 8 answer together.
    session.shootArea(session.logArea(), "search-log.png", "Checking 8FFFFFFF...");
}

// A primary scan of 1 to 10, then a read of the first meter.
void primaryScan(Session& session) {
    session.setPosition("UDaddressFrom", 1);
    session.setPosition("UDaddressTo", 10);
    session.click("BitBtn1");
    if (!session.runUntilIdle()) session.fail("scan did not end");
    session.control<QTableView>("gridLoops")->selectRow(0);
    session.control<QAction>("Read1")->trigger();
    session.runUntilIdle();
    session.shootWidget(session.control<QWidget>("gridLoops")->parentWidget(), "scan-meters.png");
}

// The meters copied into the device table, activated, and read back.
void deviceTable(Session& session) {
    session.click("BitBtn15");
    session.click("Butt_activateall");
    auto* activate = session.control<QPushButton>("Butt_activateall");
    if (!session.runUntil([&] { return activate->text() != "Stop activation"; }))
        session.fail("activation did not end");
    session.runUntilIdle();
    session.click("BitBtn13");
    session.click("buttonReadModbus");
    if (!session.runUntilIdle()) session.fail("table read-out did not end");
    session.control<QTableView>("GridDevices")->selectRow(0);
    QCoreApplication::processEvents();
    session.shootWidget(session.control<QWidget>("GridDevices")->parentWidget(),
                        "devices-read.png");
    session.shootWindow("quick-page.png");
    session.shootMenu("ContextMbusMenu", "meter-menu.png");
    session.shootMenu("ContextModbusMenu", "device-menu.png");
}

// The serial line instead of TCP: the port group and the status bar.
void serialLine(Session& session) {
    session.click("BitBtn24");
    session.runUntilIdle();
    session.control<QComboBox>("Combo_com2_name")->setCurrentText("/dev/ttyUSB0");
    session.click("Butt_open_port2");
    session.runUntilIdle();
    if (!session.program().link().SerialOpen()) session.fail("serial port not open");
    session.showPage("TabSheet2");
    session.shootWidget(session.group("Serial port settings"), "serial-group.png");
    // One damaged reply, so that the third panel shows what it is for.
    sim::Fault damaged;
    damaged.kind = sim::FaultKind::WrongCrc;
    session.serialFaults().Add(damaged);
    session.click("BitBtn3");
    session.runUntilIdle();
    const QRect panels = session.areaOf(session.control<QWidget>("StatusPanel1"))
                             .united(session.areaOf(session.control<QWidget>("StatusPanel4")))
                             .adjusted(-2, -2, 2, 2);
    session.shootArea(panels, "status-bar.png");
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnel-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(output)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    Session session(output);
    settingsPage(session);
    searchById(session);
    primaryScan(session);
    deviceTable(session);
    serialLine(session);
    return session.failures() == 0 ? 0 : 1;
}
