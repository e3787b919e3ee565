#include "app/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>

#include "app/about_box.h"
#include "app/find_gateway_window.h"
#include "app/form_builder.h"
#include "app/key_filters.h"
#include "app/log_view.h"
#include "app/window_parts.h"
#include "base/grid_layouts.h"
#include "gateway/bulk_activation.h"
#include "gateway/presenter.h"
#include "gateway/settings_file.h"
#include "link/gateway_link.h"
#include "ops/busy_rule.h"
#include "print/report_files.h"

namespace tarnel {
namespace {

constexpr int kStatusPanelWidths[StatusPanels::Count] = {200, 200, 300, 50};

// The controls that start an operation the busy rule may refuse.
const struct {
    const char* control;
    Operation operation;
} kBusyControls[] = {
    {"BitBtn1", Operation::Scan},
    {"BitBtn2", Operation::Stop},
    {"BitBtn21", Operation::Search},
    {"editID", Operation::Search},
    {"BitBtn23", Operation::AddressChange},
    {"Button4", Operation::MeterRequest},
    {"buttonReadModbus", Operation::TableReadOut},
    {"BitBtn22", Operation::AddressMap},
    {"BitBtn19", Operation::SearchAndActivate},
    {"Butt_activateall", Operation::BulkActivation},
    {"Butt_command_send", Operation::CustomCommand},
    {"Butt_find_gateway", Operation::FindGateway},
};

// The log keeps a line's trailing carriage return; the text box shows the
// line without it.
// A page that scrolls when the window is smaller than its controls need, as
// on a small laptop's screen. The page keeps its name; its controls move into
// the scrolled widget.
QScrollArea* scrollingPage(QWidget* controls) {
    auto* page = new QScrollArea;
    page->setObjectName(controls->objectName());
    controls->setObjectName(controls->objectName() + "Controls");
    page->setFrameShape(QFrame::NoFrame);
    page->setWidgetResizable(true);
    page->setWidget(controls);
    return page;
}

// The window's size: 891 by 766 where the screen has room, else the screen's
// free area less the window's frame.
// The window manager's frame around the window: known once it has framed
// the window; before that, a title bar and borders as the style draws them.
QSize frameSize(const QWidget& window) {
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    if (!frame.isEmpty()) return frame;
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const int title = std::max(style->pixelMetric(QStyle::PM_TitleBarHeight), 25);
    return {2 * border, title + 2 * border};
}

QSize defaultSize(const QWidget& window) {
    const QSize wanted(891, 766);
    const QScreen* screen = window.screen();
    if (!screen) return wanted;
    return wanted.boundedTo(screen->availableGeometry().size() - frameSize(window));
}

// A button whose caption changes keeps the width of its widest caption, so
// the buttons beside it stay where they are.
void keepWidthFor(QPushButton* button, const QStringList& captions) {
    const QString shown = button->text();
    int widest = 0;
    for (const QString& caption : captions) {
        button->setText(caption);
        widest = std::max(widest, button->sizeHint().width());
    }
    button->setText(shown);
    button->setFixedWidth(widest);
}

QString shownLine(QString line) {
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

}  // namespace

TForm1::TForm1(Clock& clock, Dialogs& dialogs, ProgramPaths paths, Transports transports,
               QWidget* parent)
    : QMainWindow(parent),
      program_(new Program(clock, dialogs, std::move(paths), std::move(transports), this)) {
    setObjectName("TForm1");
    setWindowTitle("   M-bus/modbus configuration Velgate");
    buildWindow();
    // A compact face, as on the plant-room laptops the layout was drawn for.
    QFont compact = font();
    compact.setPointSize(8);
    setFont(compact);
    keepWidthFor(control<QPushButton>("Butt_activateall"),
                 {BulkActivation::kStart, BulkActivation::kStop, BulkActivation::kAgain});
    resize(defaultSize(*this));
    bindLogAndStatus();
    // Every line of the session also goes to disk as it comes: the window
    // keeps only the newest, and a crash keeps them all.
    program_->log().startSession(QDir(program_->paths().files()).filePath("sessions"));
    installKeyFilters(*this);
    wireShellHandlers();
    wireLinkHandlers();
    wireFindHandlers();
    wireGatewayHandlers();
    wireMbusHandlers();
    wireSearchHandlers();
    wireDeviceHandlers();
    wireBusyRule();
    FormCreate();
}

TForm1::~TForm1() {
    // A search under way ends while the program it tells is still there.
    delete findWindow_;
}

void TForm1::buildWindow() {
    buildMenus(*this);

    auto* pages = new QTabWidget;
    pages->setObjectName("PageControl1");
    pages->addTab(scrollingPage(buildSettingsPage(*program_)), "   Settings     ");
    pages->addTab(scrollingPage(buildQuickPage(*program_)), "   Quick read/write   ");

    QWidget* bottom = buildConsoleAndLog();
    bottom->setFixedHeight(190);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(pages, 1);
    layout->addWidget(bottom);
    setCentralWidget(central);

    statusBar()->setObjectName("StatusBar1");
    statusBar()->setSizeGripEnabled(false);
    for (int panel = 0; panel < StatusPanels::Count; ++panel) {
        auto* text = new QLabel;
        text->setObjectName(QStringLiteral("StatusPanel%1").arg(panel + 1));
        text->setFixedWidth(kStatusPanelWidths[panel]);
        text->setFrameShape(QFrame::Panel);
        text->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(text);
        statusPanels_.append(text);
    }

    for (const char* name : {"gridLoops", "GridDevices"}) {
        control<QTableView>(name)->setContextMenuPolicy(Qt::CustomContextMenu);
    }
}

void TForm1::bindLogAndStatus() {
    auto* memo = control<LogView>("Memo_current");
    memo->showLines(program_->log().lines());
    connect(&program_->log(), &Log::lineAppended, memo,
            [memo](const QString& line) { memo->appendLine(shownLine(line)); });
    connect(&program_->log(), &Log::cleared, memo, &LogView::clearLines);
    connect(&program_->status(), &StatusPanels::changed, this,
            [this](StatusPanels::Panel panel, const QString& text) {
                statusPanels_.at(panel)->setText(text);
            });
}

void TForm1::wireShellHandlers() {
    connect(control<QAction>("Exit1"), &QAction::triggered, this, &TForm1::Exit1Click);
    connect(control<QAction>("English1"), &QAction::triggered, this, &TForm1::English1Click);
    connect(control<QAction>("Usermanual1"), &QAction::triggered, this, &TForm1::Usermanual1Click);
    connect(control<QAction>("About1"), &QAction::triggered, this, &TForm1::About1Click);
    connect(control<QPushButton>("BitBtn5"), &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    connect(control<QPushButton>("BitBtn6"), &QPushButton::clicked, this, &TForm1::BitBtn6Click);

    const auto popupOver = [this](const char* gridName, const char* menuName) {
        auto* grid = control<QTableView>(gridName);
        auto* menu = control<QMenu>(menuName);
        connect(grid, &QWidget::customContextMenuRequested, menu,
                [grid, menu](const QPoint& at) { menu->popup(grid->viewport()->mapToGlobal(at)); });
    };
    connect(control<QTableView>("gridLoops"), &QWidget::customContextMenuRequested, this,
            &TForm1::gridLoopsMouseDown);
    popupOver("GridDevices", "ContextModbusMenu");
}

// A button is enabled while the busy rule lets its operation start.
void TForm1::wireBusyRule() {
    BusyRule& busy = program_->busy();
    connect(&busy, &BusyRule::changed, this, [this, &busy] {
        for (const auto& entry : kBusyControls)
            control<QWidget>(entry.control)->setEnabled(busy.allows(entry.operation));
    });
}

void TForm1::FormCreate() {
    // The executable's folder, or the user's data folder where that folder
    // cannot be written (an installed copy): the file dialogs start there.
    QDir::setCurrent(program_->paths().defaultDataFolder());
    restoreSettings();
    control<QAction>("English1")->setChecked(true);
    EnglishTexts();
    control<QCheckBox>("Check_hex")->setChecked(true);
    program_->link().setFastReplies(control<QCheckBox>("CheckFastReplies")->isChecked());
    if (control<QCheckBox>("CB_open_port2")->isChecked()) Butt_open_port2Click();
    control<QTabWidget>("PageControl1")->setCurrentWidget(control<QWidget>("TabSheet2"));
}

void TForm1::showEvent(QShowEvent* event) {
    // The controls' sizes are final only once they have been polished for the
    // first show; the window takes its size after that.
    if (!event->spontaneous() && !shownOnce_) {
        shownOnce_ = true;
        QMetaObject::invokeMethod(
            this, [this] { resize(defaultSize(*this)); }, Qt::QueuedConnection);
    }
    QMainWindow::showEvent(event);
}

// Once the window manager has framed the window, the frame is known: a
// window whose frame reaches past the screen's free area is made to fit it,
// once, so that its status bar is on the screen at first start.
void TForm1::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    fitIntoScreen();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    fitIntoScreen();
}

void TForm1::fitIntoScreen() {
    if (!shownOnce_ || fitted_ || !screen() || frameGeometry().size() == geometry().size()) return;
    fitted_ = true;
    const QRect area = screen()->availableGeometry();
    if (area.contains(frameGeometry())) return;
    const QSize frame = frameGeometry().size() - geometry().size();
    resize(size().boundedTo(area.size() - frame));
    QRect placed = frameGeometry();
    placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() - placed.width() + 1));
    placed.moveTop(std::clamp(placed.top(), area.top(), area.bottom() - placed.height() + 1));
    move(placed.topLeft());
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm1::FormClose() {
    QDir::setCurrent(program_->paths().defaultDataFolder());
    QString reason;
    if (!saveSettings(reason)) {
        // The old file stays as it was; the box says why.
        program_->dialogs().warning("Saving settings",
                                    "Settings will not be saved, no write permission\n" +
                                        program_->paths().settingsFile + ": " + reason);
    }
    program_->link().shutdown();
}

void TForm1::restoreSettings() {
    QStringList problems;
    const QStringList values = SettingsFile(program_->paths().settingsFile)
                                   .read(program_->paths().defaultDataFolder(), &problems);
    for (const QString& problem : problems)
        program_->log().append(problem);
    const auto& keys = settingKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const QString& value = values.at(static_cast<int>(i));
        const QString& name = keys[i].control;
        if (name.isEmpty()) {
            program_->setDataFolder(value);
        } else if (QString* kept = keptText(name)) {
            *kept = value;
        } else if (auto* upDown = findChild<UpDown*>(name)) {
            upDown->setPosition(value.toInt());
        } else if (auto* check = findChild<QCheckBox*>(name)) {
            check->setChecked(value == "1");
        } else if (auto* combo = findChild<QComboBox*>(name)) {
            combo->setCurrentText(value);
        } else {
            control<QLineEdit>(name)->setText(value);
        }
    }
}

bool TForm1::saveSettings(QString& reason) const {
    QStringList values;
    for (const SettingKey& key : settingKeys()) {
        const QString& name = key.control;
        if (name.isEmpty())
            values << program_->dataFolder();
        else if (const QString* kept = keptText(name))
            values << *kept;
        else if (const auto* upDown = findChild<UpDown*>(name))
            values << QString::number(upDown->position());
        else if (const auto* check = findChild<QCheckBox*>(name))
            values << (check->isChecked() ? "1" : "0");
        else if (const auto* combo = findChild<QComboBox*>(name))
            values << combo->currentText();
        else
            values << control<QLineEdit>(name)->text();
    }
    return SettingsFile(program_->paths().settingsFile).write(values, &reason);
}

void TForm1::EnglishTexts() {
    const auto writeHeaders = [](GridModel& grid, const GridLayout& layout) {
        grid.setRowTexts(0, layout.headers);
    };
    writeHeaders(program_->gridLoops(), loopsGridLayout());
    writeHeaders(program_->gridDevices(), devicesGridLayout());
    writeHeaders(program_->gridInputRegisters(), registersGridLayout());

    control<QPushButton>("Butt_clear_grid")->setText("Clear table");
    control<QPushButton>("Butt_load_data")->setText("Load");
    control<QPushButton>("Butt_save_data")->setText("Save");
    control<QPushButton>("Butt_command_send")->setText("Send");
    control<QLabel>("Label4")->setText("Send custom command");
    control<QPushButton>("BitBtn7")->setText("Print");
    control<QPushButton>("BitBtn6")->setText("Save log");
    control<QPushButton>("BitBtn5")->setText("Clear log");
}

void TForm1::English1Click() {
    control<QAction>("English1")->setChecked(true);
    EnglishTexts();
}

void TForm1::Exit1Click() {
    if (program_->dialogs().confirm("Exit Confirmation", "Are you sure you want to exit?")) close();
}

// UsrMan.pdf is made beside the executable at build time, and installed
// beside the installed bin folder under share/doc/Tarnel (the documentation
// folder named after the project), or share/doc/tarnel as Debian names it.
void TForm1::Usermanual1Click() {
    const QString folder = program_->paths().executableFolder;
    QDir::setCurrent(folder);
    const QDir executable(folder);
    const QStringList places = {
        executable.filePath("UsrMan.pdf"),
        QDir::cleanPath(executable.filePath("../share/doc/Tarnel/UsrMan.pdf")),
        QDir::cleanPath(executable.filePath("../share/doc/tarnel/UsrMan.pdf"))};
    QString found;
    for (const QString& path : places) {
        if (!QFileInfo::exists(path)) continue;
        found = path;
        break;
    }
    Dialogs& dialogs = program_->dialogs();
    if (found.isEmpty()) {
        dialogs.warning("User manual", "The user manual could not be opened: " + places.first() +
                                           " does not exist (nor " + places.at(1) + ").");
        return;
    }
    if (!dialogs.openDocument(found))
        dialogs.warning("User manual", "The user manual could not be opened: " + found +
                                           ": no program to show PDF files was found.");
}

void TForm1::setAboutBox(TFAbout* about) {
    about_ = about;
}

void TForm1::About1Click() {
    if (!about_) return;
    about_->show();
    about_->raise();
}

void TForm1::BitBtn5Click() {
    program_->log().clear();
}

void TForm1::BitBtn6Click() {
    // The folder "files" is made when it is missing, as on the first save.
    const QString files = program_->paths().files();
    const QString path = QDir(files).filePath("log.txt");
    QString reason;
    if (!QDir().mkpath(files) || !program_->log().writeTo(path, &reason)) {
        program_->presenter().tell(face_event::FileRefused{
            path, reason.isEmpty() ? QStringLiteral("the folder cannot be made") : reason});
        return;
    }
    program_->presenter().tell(face_event::LogSaved{path});
}

}  // namespace tarnel
