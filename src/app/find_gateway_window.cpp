#include "app/find_gateway_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/form_builder.h"
#include "gateway/program.h"
#include "link/real_transports.h"
#include "serial/device_names.h"

namespace tarnel {
namespace {

QString place(const FoundDevice& device) {
    if (device.tcp) return QStringLiteral("TCP %1:%2").arg(device.port).arg(device.tcpPort);
    return QStringLiteral("%1 %2").arg(device.port, LineName(device.line));
}

QString itemText(const FoundDevice& device) {
    if (!device.gateway)
        return QStringLiteral("Modbus device, not a Corvane-64: %1, address %2: %3")
            .arg(place(device))
            .arg(device.unit)
            .arg(device.answered);
    const DeviceIdentification& id = device.identification;
    return QStringLiteral("%1, address %2: %3 %4 %5, %6 active devices")
        .arg(place(device))
        .arg(device.unit)
        .arg(id.vendor, id.product, id.version)
        .arg(device.activeDevices);
}

}  // namespace

FindGatewayWindow::FindGatewayWindow(Program& program, QWidget* parent)
    : QDialog(parent),
      serial_(std::make_unique<CommTransport>()),
      tcp_(std::make_unique<SocketTransport>()),
      finder_(*serial_, *tcp_, program.clock(), program.busy()),
      hosts_(form::edit("EditFindHosts", 40, "")),
      trying_(new QLabel),
      progress_(new QProgressBar),
      found_(new QListWidget),
      start_(form::button("ButtFindStart", "Find")),
      useButton_(form::button("ButtFindUse", "Use")) {
    setObjectName("FindGatewayWindow");
    setWindowTitle("Find gateway");
    hosts_->setPlaceholderText("TCP hosts, e.g. 192.168.1.1-254:502 (empty: serial ports only)");
    trying_->setObjectName("LabelFindTrying");
    progress_->setObjectName("ProgressFind");
    found_->setObjectName("ListFound");
    useButton_->setEnabled(false);
    auto* close = form::button("ButtFindClose", "Close");
    connect(start_, &QPushButton::clicked, this, [this] {
        if (finder_.running()) return finder_.stop();
        find(last_);
    });
    connect(useButton_, &QPushButton::clicked, this, [this] {
        const int row = found_->currentRow();
        if (row >= 0 && row < devices_.size() && devices_[row].gateway) emit use(devices_[row]);
    });
    connect(found_, &QListWidget::currentRowChanged, this, [this](int row) {
        useButton_->setEnabled(row >= 0 && row < devices_.size() && devices_[row].gateway);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(&finder_, &GatewayFinder::progress, this, &FindGatewayWindow::showProgress);
    connect(&finder_, &GatewayFinder::found, this, &FindGatewayWindow::list);
    connect(&finder_, &GatewayFinder::finished, this, &FindGatewayWindow::ended);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hosts_);
    layout->addWidget(trying_);
    layout->addWidget(progress_);
    layout->addWidget(found_, 1);
    layout->addLayout(form::row({start_, useButton_, nullptr, close}));
    resize(640, 360);
}

FindGatewayWindow::~FindGatewayWindow() {
    finder_.stop();
}

void FindGatewayWindow::find(const GatewayFinder::Settings& from) {
    if (finder_.running()) return;
    last_ = from;
    GatewayFinder::Settings settings = from;
    settings.serialPorts.clear();
    for (const QString& name : from.serialPorts + listSearchPorts())
        if (!name.isEmpty() && !settings.serialPorts.contains(serialDevicePath(name)))
            settings.serialPorts << serialDevicePath(name);
    if (!addHosts(settings)) return;
    devices_.clear();
    found_->clear();
    lastLeft_ = 0;
    if (!finder_.start(settings)) {
        trying_->setText("Another operation is running.");
        return;
    }
    if (finder_.running()) start_->setText("Stop");
}

bool FindGatewayWindow::addHosts(GatewayFinder::Settings& settings) {
    const QString hosts = hosts_->text().trimmed();
    if (hosts.isEmpty()) return true;
    const std::optional<QStringList> range = HostRange(hosts.section(':', 0, 0));
    const QString portText = hosts.section(':', 1);
    const int port = portText.isEmpty() ? 502 : portText.toInt();
    if (!range || port <= 0 || port > 65535) {
        trying_->setText("Not a host or range of hosts: " + hosts);
        return false;
    }
    settings.tcpHosts = *range;
    settings.tcpPort = static_cast<uint16_t>(port);
    return true;
}

void FindGatewayWindow::showProgress(const FinderProgress& progress) {
    // A new stretch of the plan (the lines of a port, the addresses of a
    // line) starts the bar again.
    if (progress.left > lastLeft_) progress_->setMaximum(progress.left);
    lastLeft_ = progress.left;
    progress_->setValue(progress_->maximum() - progress.left);
    trying_->setText(QStringLiteral("Trying %1 (%2 left)").arg(progress.trying).arg(progress.left));
}

void FindGatewayWindow::list(const FoundDevice& device) {
    devices_.append(device);
    found_->addItem(itemText(device));
    if (device.gateway && found_->currentRow() < 0) found_->setCurrentRow(found_->count() - 1);
}

void FindGatewayWindow::ended(const FinderResult& result) {
    start_->setText("Find");
    progress_->setValue(progress_->maximum());
    const bool any = std::any_of(devices_.begin(), devices_.end(),
                                 [](const FoundDevice& device) { return device.gateway; });
    const QString how = result.ending == Ending::Stopped ? "Stopped" : "Done";
    trying_->setText(
        any ? QStringLiteral("%1: %2 requests.").arg(how).arg(result.tries)
            : QStringLiteral("%1: no Corvane-64 found (%2 requests).").arg(how).arg(result.tries));
}

}  // namespace tarnel
