#pragma once

#include <QPointer>
#include <QWidget>

#include "base/dialogs.h"

namespace tarnel {

// The dialogs as a person sees them: Qt message boxes and file dialogs,
// owned by `owner` (the main window once it exists).
class WidgetDialogs final : public Dialogs {
public:
    void setOwner(QWidget* owner) { owner_ = owner; }

    void warning(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;
    void message(const QString& text) override;
    QString saveFileName(const FileDialogRequest& request) override;
    QString openFileName(const FileDialogRequest& request) override;
    bool openDocument(const QString& path) override;
    std::optional<QStringList> askTexts(const QString& caption, const QStringList& labels,
                                        const QStringList& texts) override;

private:
    QPointer<QWidget> owner_;
};

// Dialogs for an unattended run (the screenshot mode): boxes are written to
// standard error and answered No; file dialogs are cancelled.
class ConsoleDialogs final : public Dialogs {
public:
    void warning(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override { warning(caption, text); }
    bool confirm(const QString& caption, const QString& text) override;
    void message(const QString& text) override;
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }
    bool openDocument(const QString& path) override;
};

}  // namespace tarnel
