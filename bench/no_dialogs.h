#pragma once

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

}  // namespace tarnel::bench
