#pragma once

#include <QPlainTextEdit>

namespace tarnel {

// The log window: the log's newest lines, bounded by lines and by characters
// (what scrolls out stays in the log and its session file). It follows new
// lines unless the user has scrolled up to read; then it keeps their place,
// and follows again once they scroll back to the end.
class LogView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 20'000;
    static constexpr int kMaxCharacters = 1'000'000;

    explicit LogView(QWidget* parent = nullptr);

    void appendLine(const QString& line);
    void showLines(const QStringList& lines);
    void clearLines();
    bool following() const { return following_; }

private:
    void dropOldest();
    void scrollToEnd();

    bool following_ = true;
};

}  // namespace tarnel
