#include "app/widget_dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>
#include <cstdio>

namespace tarnel {

void WidgetDialogs::warning(const QString& caption, const QString& text) {
    QMessageBox::warning(owner_, caption, text);
}

void WidgetDialogs::error(const QString& caption, const QString& text) {
    QMessageBox::critical(owner_, caption, text);
}

bool WidgetDialogs::confirm(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner_);
    // Every question guards a change: Enter and Escape leave things as they are.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void WidgetDialogs::message(const QString& text) {
    QMessageBox::information(owner_, QApplication::applicationName(), text);
}

static QString run(QFileDialog& dialog, const FileDialogRequest& request) {
    dialog.setWindowTitle(request.title);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.folder.isEmpty()) dialog.setDirectory(request.folder);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

QString WidgetDialogs::saveFileName(const FileDialogRequest& request) {
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return run(dialog, request);
}

QString WidgetDialogs::openFileName(const FileDialogRequest& request) {
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog, request);
}

bool WidgetDialogs::openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::optional<QStringList> WidgetDialogs::askTexts(const QString& caption,
                                                   const QStringList& labels,
                                                   const QStringList& texts) {
    QDialog dialog(owner_);
    dialog.setWindowTitle(caption);
    auto* form = new QFormLayout(&dialog);
    QList<QLineEdit*> edits;
    for (int i = 0; i < labels.size(); ++i) {
        edits << new QLineEdit(texts.value(i), &dialog);
        edits.last()->setMinimumWidth(320);
        form->addRow(labels.at(i) + ":", edits.last());
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    QStringList edited;
    for (const QLineEdit* edit : edits)
        edited << edit->text();
    return edited;
}

void ConsoleDialogs::warning(const QString& caption, const QString& text) {
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
}

bool ConsoleDialogs::confirm(const QString& caption, const QString& text) {
    std::fprintf(stderr, "%s: %s [answered No]\n", qUtf8Printable(caption), qUtf8Printable(text));
    return false;
}

void ConsoleDialogs::message(const QString& text) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

bool ConsoleDialogs::openDocument(const QString& path) {
    std::fprintf(stderr, "open %s\n", qUtf8Printable(path));
    return true;
}

}  // namespace tarnel
