#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <stdexcept>

#include "gateway/device_table.h"
#include "gateway/points_list.h"
#include "gateway/program.h"
#include "ops/busy_rule.h"
#include "ops/primary_scan.h"
#include "ops/secondary_search.h"

class QLabel;

namespace tarnel {

class TFAbout;
class TelegramWindow;
class FindGatewayWindow;
struct FoundDevice;
class ReportReading;
class ReportWriter;
struct ReportFiles;
struct ReportReadResult;
struct MeterTarget;

// The main window: builds every control of the tool, restores the settings
// into them at creation and saves them at close, and binds the controls to
// the program's state. Handlers carry the name of the control and event they
// serve.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    TForm1(Clock& clock, Dialogs& dialogs, ProgramPaths paths, Transports transports = {},
           QWidget* parent = nullptr);
    ~TForm1() override;

    Program& program() { return *program_; }
    void setAboutBox(TFAbout* about);

    // The control named `name`; throws when the window has none of that type.
    template <typename T>
    T* control(const QString& name) const {
        T* found = findChild<T*>(name);
        if (!found) throw std::logic_error("no control " + name.toStdString());
        return found;
    }

    void FormCreate();
    void EnglishTexts();
    void English1Click();
    void Exit1Click();
    void Usermanual1Click();
    void About1Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void Butt_open_port2Click();
    void Butt_connect_xportClick();
    void BitBtn24Click();
    void Check_asciiClick(bool checked);
    void Check_hexClick(bool checked);
    void Butt_command_sendClick();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn9Click();
    void BitBtn10Click();
    void BitBtn11Click();
    void BitBtn12Click();
    void BitBtn17Click();
    void BitBtn20Click();
    void BitBtn18Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void Read1Click();
    void ShowTelegram1Click();
    void gridLoopsDblClick();
    void Removefromtable1Click();
    void Butt_clear_gridClick();
    void Butt_save_dataClick();
    void Butt_load_dataClick();
    void BitBtn16Click();
    void BitBtn8Click();
    void BitBtn21Click();
    void buttonReadModbusClick();
    void BitBtn14Click();
    void Activate1Click();
    void Delete1Click();
    void DeleteAll1Click();
    void Exclude2inputs1Click();
    void Removefromtable2Click();
    void BitBtn13Click();
    void BitBtn15Click();
    void BitBtn22Click();
    void BitBtn19Click();
    void Butt_importClick();
    void ExportPointsList1Click();
    void CommissioningReport1Click();
    void Butt_activateallClick();
    void gridLoopsMouseDown(const QPoint& at);
    void BitBtn23Click();
    void BitBtn25Click();
    void Button4Click();
    void Setbaud300bps1Click();
    void Setbaud2400bps1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();
    void fitIntoScreen();
    void buildWindow();
    void bindLogAndStatus();
    void wireShellHandlers();
    void wireLinkHandlers();
    void wireGatewayHandlers();
    void wireMbusHandlers();
    void wireSearchHandlers();
    void wireChangeHandlers();
    void wireDeviceHandlers();
    void wireBusyRule();
    void wireFindHandlers();
    void Butt_find_gatewayClick();
    void useFoundGateway(const FoundDevice& gateway);
    DeviceTable::Settings deviceSettings() const;
    PrimaryScan::Settings scanSettings() const;
    SecondarySearch::Settings searchSettings() const;
    bool meterMenuAllowed() const;
    // "Do you want to clear the table?", asked only of a scan or search that
    // will start: a link that is down or a refusal says so instead.
    bool clearTableAsked(Operation operation) const;
    int slaveAddress() const;
    int modbusTimeout() const;
    void updateLinkControls();
    // Runs a handler; an error it throws is shown as the toolkit would show
    // an error nobody caught, and the window goes on.
    void guarded(const std::function<void()>& handler);
    // A button's click or a menu entry runs `handler`, guarded.
    void onClick(const char* name, void (TForm1::*handler)());
    void onMenu(const char* name, void (TForm1::*handler)());
    void restoreSettings();
    bool saveSettings(QString& reason) const;
    void showTelegramOf(const MeterTarget& meter);
    void writePointsList(const QString& path, const TableReadResult& result);
    HomeAssistantHub homeAssistantHub() const;
    QString linkDescription() const;
    void writeReport(const ReportReadResult& result);
    void reportWritten(const ReportFiles& files, const QString& error);
    // The settings file's keys that no control shows: the report's site and
    // installer.
    const QString* keptText(const QString& name) const;
    QString* keptText(const QString& name);
    void readTelegramAgain(const QString& id);

    Program* program_;
    QPointer<TFAbout> about_;
    TelegramWindow* telegramWindow_ = nullptr;  // made at its first showing
    FindGatewayWindow* findWindow_ = nullptr;   // made at its first showing
    ReportReading* reportReading_ = nullptr;
    std::unique_ptr<ReportWriter> reportWriter_;  // made at the first report
    QString reportSite_, reportInstaller_;
    QList<QLabel*> statusPanels_;
    bool shownOnce_ = false;
    bool fitted_ = false;  // fitIntoScreen() has fitted the framed window
};

}  // namespace tarnel
