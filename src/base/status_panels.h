#pragma once

#include <QObject>
#include <QString>
#include <array>

namespace tarnel {

// The texts of the status bar's four panels: the TCP link, the serial link,
// the last CRC error (never cleared once shown) and a spare one. A text set
// on another thread (a worker) is carried to the panels' own thread.
class StatusPanels : public QObject {
    Q_OBJECT
public:
    enum Panel { Tcp = 0, Serial = 1, Crc = 2, Spare = 3, Count = 4 };

    using QObject::QObject;

    QString text(Panel panel) const { return texts_.at(panel); }
    void setTcp(const QString& text) { set(Tcp, text); }
    void setSerial(const QString& text) { set(Serial, text); }
    // A reply failed its CRC check; the panel keeps saying so from then on.
    void markCrcError() { set(Crc, QStringLiteral("Error in CRC field")); }

signals:
    void changed(tarnel::StatusPanels::Panel panel, const QString& text);

private:
    void set(Panel panel, const QString& text);

    std::array<QString, Count> texts_;
};

}  // namespace tarnel
