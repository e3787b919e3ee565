#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarnel {

// What a file dialog is asked with.
struct FileDialogRequest {
    QString title;
    QString filter;         // Qt form, e.g. "CSV files (*.csv)"
    QString defaultSuffix;  // without the dot
    QString folder;
    QString fileName;  // proposed name, may be empty
};

// The two file dialogs of the tool: the save dialog of every table export and
// the open dialog of every table load.
inline FileDialogRequest saveDialog1() {
    return {"Export file", "CSV files (*.csv)", "csv", {}, {}};
}
inline FileDialogRequest openDialog1() {
    return {{}, "CSV (*.csv)", {}, {}, {}};
}

// Every modal question, refusal, message and file choice of the tool goes
// through this interface, so that the core never touches a widget and a test
// answers instead of a person.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box with a warning icon and an OK button.
    virtual void warning(const QString& caption, const QString& text) = 0;
    // A modal box with an error icon and an OK button.
    virtual void error(const QString& caption, const QString& text) = 0;
    // A modal box with a warning icon and Yes / No; true for Yes.
    virtual bool confirm(const QString& caption, const QString& text) = 0;
    // A plain message box titled with the application's name.
    virtual void message(const QString& text) = 0;
    // The chosen path, or an empty string when the user cancelled.
    virtual QString saveFileName(const FileDialogRequest& request) = 0;
    virtual QString openFileName(const FileDialogRequest& request) = 0;
    // Opens a document with the desktop's default application; false when no
    // application could be started for it.
    virtual bool openDocument(const QString& path) = 0;
    // A form of one line of text a label, shown with `texts`; the texts as
    // edited, or nothing when the user cancelled. Unattended runs cancel.
    virtual std::optional<QStringList> askTexts(const QString& caption, const QStringList& labels,
                                                const QStringList& texts) {
        Q_UNUSED(caption);
        Q_UNUSED(labels);
        Q_UNUSED(texts);
        return std::nullopt;
    }
};

}  // namespace tarnel
