#include "app/log_view.h"

#include <QScrollBar>
#include <QTextBlock>

namespace tarnel {

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setReadOnly(true);
    setUndoRedoEnabled(false);
    document()->setMaximumBlockCount(kMaxLines);
    QScrollBar* bar = verticalScrollBar();
    // Only the user's own scrolling (wheel, keys, the bar) triggers actions;
    // the position is the one the action moves to.
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, bar] { following_ = bar->sliderPosition() >= bar->maximum(); });
    // A line wider than the view brings the horizontal bar and a resize
    // changes how many lines fit: the range moves under a view that follows.
    connect(bar, &QAbstractSlider::rangeChanged, this, [this] {
        if (following_) scrollToEnd();
    });
}

void LogView::appendLine(const QString& line) {
    appendPlainText(line);
    if (document()->characterCount() > kMaxCharacters) dropOldest();
    if (following_) scrollToEnd();
}

void LogView::showLines(const QStringList& lines) {
    setPlainText(lines.join('\n'));
    if (document()->characterCount() > kMaxCharacters) dropOldest();
    following_ = true;
    scrollToEnd();
}

void LogView::clearLines() {
    clear();
    following_ = true;
}

// A tenth at a time, so a view at its bound does not move its text for every
// new line. A reader scrolled up keeps the lines they read in view.
void LogView::dropOldest() {
    const int keep = kMaxCharacters - kMaxCharacters / 10;
    int dropped = 0;
    int characters = document()->characterCount();
    QTextBlock block = document()->firstBlock();
    while (block.isValid() && block != document()->lastBlock() && characters > keep) {
        characters -= block.length();
        ++dropped;
        block = block.next();
    }
    QScrollBar* bar = verticalScrollBar();
    const int place = bar->value();
    QTextCursor cursor(document());
    cursor.setPosition(block.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    if (!following_) bar->setValue(std::max(0, place - dropped));
}

void LogView::scrollToEnd() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace tarnel
