#include "app/telegram_window.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <span>

#include "app/form_builder.h"
#include "mbus/record_rows.h"

namespace tarnel {
namespace {

// The decoder's texts are UTF-8 (units such as "°C").
QString utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TelegramWindow::TelegramWindow(QWidget* parent)
    : QDialog(parent), header_(new QLabel), records_(new QTableWidget) {
    setObjectName("TelegramWindow");
    setWindowTitle("Telegram");
    header_->setObjectName("TelegramHeader");
    header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    records_->setObjectName("TelegramRecords");
    records_->setColumnCount(static_cast<int>(kRecordColumns.size()));
    QStringList columns;
    for (const char* column : kRecordColumns)
        columns << column;
    records_->setHorizontalHeaderLabels(columns);
    records_->verticalHeader()->hide();
    records_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    records_->horizontalHeader()->setStretchLastSection(true);

    auto* copy = form::button("ButtonCopyCsv", "Copy as CSV");
    auto* again = form::button("ButtonReadAgain", "Read again");
    auto* close = form::button("ButtonCloseTelegram", "Close");
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(csv_); });
    connect(again, &QPushButton::clicked, this, [this] { emit readAgain(id_); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(header_);
    layout->addWidget(records_, 1);
    layout->addLayout(form::row({copy, again, nullptr, close}));
    resize(760, 420);
}

void TelegramWindow::showTelegram(const QString& id, const QByteArray& telegram) {
    id_ = id;
    setWindowTitle("Telegram " + id);
    records_->setRowCount(0);
    if (telegram.isEmpty()) {
        header_->setText("No telegram from meter " + id + " yet.");
        csv_.clear();
        return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(telegram.constData());
    const TelegramRecords decoded =
        DecodeTelegramRecords(std::span(bytes, static_cast<size_t>(telegram.size())));
    QStringList header;
    for (const std::string& text : TelegramHeaderTexts(decoded.header))
        header << utf8(text);
    if (decoded.moreRecordsFollow) header << "More records follow";
    if (!decoded.stopped.empty()) header << "Stopped: " + utf8(decoded.stopped);
    header_->setText(header.join("   "));
    records_->setRowCount(static_cast<int>(decoded.records.size()));
    for (int row = 0; row < records_->rowCount(); ++row) {
        const RecordRow texts = RecordRowTexts(decoded.records[static_cast<size_t>(row)]);
        for (int column = 0; column < records_->columnCount(); ++column)
            records_->setItem(row, column,
                              new QTableWidgetItem(utf8(texts[static_cast<size_t>(column)])));
    }
    records_->resizeColumnsToContents();
    csv_ = utf8(RecordsCsv(decoded));
}

}  // namespace tarnel
