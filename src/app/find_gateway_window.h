#pragma once

#include <QDialog>
#include <QList>
#include <memory>

#include "ops/gateway_finder.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarnel {

class Program;

// "Find gateway": runs the gateway finder on ports and a socket of its own
// (the serial ports present, and the TCP hosts typed in), shows what it
// tries, how far it has come and what it found; "Use" hands the selected
// gateway to the window, which fills its link settings and connects.
class FindGatewayWindow : public QDialog {
    Q_OBJECT
public:
    FindGatewayWindow(Program& program, QWidget* parent = nullptr);
    ~FindGatewayWindow() override;

    // Starts a search from the window's port, line, address and connect
    // time-out: that port first, then the others present, and the TCP hosts
    // typed in.
    void find(const GatewayFinder::Settings& from);

signals:
    void use(const FoundDevice& gateway);

private:
    // The TCP hosts typed in; false, with a line, when they do not parse.
    bool addHosts(GatewayFinder::Settings& settings);
    void showProgress(const FinderProgress& progress);
    void list(const FoundDevice& device);
    void ended(const FinderResult& result);

    std::unique_ptr<SerialTransport> serial_;
    std::unique_ptr<TcpTransport> tcp_;
    GatewayFinder finder_;
    QLineEdit* hosts_;
    QLabel* trying_;
    QProgressBar* progress_;
    QListWidget* found_;
    QPushButton* start_;
    QPushButton* useButton_;
    QList<FoundDevice> devices_;  // as listed
    int lastLeft_ = 0;
    GatewayFinder::Settings last_;  // of the last search, for "Find" again
};

}  // namespace tarnel
