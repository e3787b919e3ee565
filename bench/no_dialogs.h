#pragma once

#include <QStringList>
#include <functional>
#include <optional>

#include "base/dialogs.h"

namespace tarnel::bench {

// Dialogs for an unattended benchmark: every question answered Yes, nothing shown.
class NoDialogs : public Dialogs {
public:
    void warning(const QString&, const QString&) override {}
    void error(const QString&, const QString&) override {}
    bool confirm(const QString&, const QString&) override { return true; }
    void message(const QString&) override {}
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }
    bool openDocument(const QString&) override { return false; }
};

// Answers the commissioning report's form and tells when its PDF is opened.
struct ReportDialogs final : NoDialogs {
    QString opened;
    std::function<void()> onOpened;
    std::optional<QStringList> askTexts(const QString&, const QStringList&,
                                        const QStringList&) override {
        return QStringList{"Bench plant room", "Bench"};
    }
    bool openDocument(const QString& path) override {
        opened = path;
        if (onOpened) onOpened();
        return true;
    }
};

}  // namespace tarnel::bench
