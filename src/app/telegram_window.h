#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QTableWidget;

namespace tarnel {

// "Telegram": a meter's last telegram, its header and one row a data
// record, copyable as CSV. "Read again" asks the window's owner for a new read.
class TelegramWindow : public QDialog {
    Q_OBJECT
public:
    explicit TelegramWindow(QWidget* parent = nullptr);

    // Shows `telegram` of meter `id`; an empty telegram says none came yet.
    void showTelegram(const QString& id, const QByteArray& telegram);
    QString meterId() const { return id_; }
    // What "Copy as CSV" puts on the clipboard.
    QString csv() const { return csv_; }

signals:
    void readAgain(const QString& id);

private:
    QLabel* header_;
    QTableWidget* records_;
    QString id_;
    QString csv_;
};

}  // namespace tarnel
