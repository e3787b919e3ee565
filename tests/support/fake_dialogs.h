#pragma once

#include <QStringList>
#include <deque>

#include "base/dialogs.h"

namespace tarnel::test {

// Records every box and dialog and answers from queues the test fills; an
// unanswered question is answered No and an unanswered file dialog is
// cancelled, so no test ever waits on a person.
class FakeDialogs final : public Dialogs {
public:
    struct Shown {
        QString kind;  // "warning", "error", "confirm", "message", "save", "open", "document",
                       // "form"
        QString caption;
        QString text;
    };

    std::vector<Shown> shown;
    std::deque<bool> answers;
    std::deque<QString> fileNames;
    std::vector<FileDialogRequest> fileRequests;
    bool documentOpens = true;  // whether a viewer starts for openDocument
    std::deque<QStringList> forms;

    void warning(const QString& caption, const QString& text) override {
        shown.push_back({"warning", caption, text});
    }
    void error(const QString& caption, const QString& text) override {
        shown.push_back({"error", caption, text});
    }
    bool confirm(const QString& caption, const QString& text) override {
        shown.push_back({"confirm", caption, text});
        return take(answers, false);
    }
    void message(const QString& text) override { shown.push_back({"message", {}, text}); }
    QString saveFileName(const FileDialogRequest& request) override {
        shown.push_back({"save", request.title, request.fileName});
        fileRequests.push_back(request);
        return take(fileNames, QString());
    }
    QString openFileName(const FileDialogRequest& request) override {
        shown.push_back({"open", request.title, request.fileName});
        fileRequests.push_back(request);
        return take(fileNames, QString());
    }
    bool openDocument(const QString& path) override {
        shown.push_back({"document", {}, path});
        return documentOpens;
    }
    // Answers a form with the next of `forms`, or cancels it.
    std::optional<QStringList> askTexts(const QString& caption, const QStringList& labels,
                                        const QStringList& texts) override {
        shown.push_back({"form", caption, labels.join('|') + '=' + texts.join('|')});
        if (forms.empty()) return std::nullopt;
        return take(forms, QStringList());
    }

private:
    template <typename T>
    static T take(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T front = queue.front();
        queue.pop_front();
        return front;
    }
};

}  // namespace tarnel::test
