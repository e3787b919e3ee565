#include "print/page_breaks.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTextTable>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace tarnel {
namespace {

// The height of a page that never ends (as a text edit lays text out).
constexpr qreal kEndless = -1;

// What the layout must not part: a table, the lines of a preformatted text,
// one block.
struct Unit {
    QTextBlock first;
    QTextBlock last;
    int fromEnd = 0;          // the first block's number counted from the end
    bool introduces = false;  // a heading, or a paragraph ending in ":"
};

// The top of its first line and the bottom of its lowest.
struct Extent {
    qreal top = 0;
    qreal bottom = 0;
};

std::vector<Unit> Units(const QTextDocument& document) {
    std::vector<Unit> found;
    QTextBlock block = document.begin();
    while (block.isValid()) {
        Unit unit{block, block, document.blockCount() - block.blockNumber(),
                  block.blockFormat().headingLevel() > 0 || block.text().trimmed().endsWith(':')};
        if (const QTextTable* table = QTextCursor(block).currentTable()) {
            unit.last = table->lastCursorPosition().block();
        } else if (block.blockFormat().nonBreakableLines()) {
            while (unit.last.next().isValid() &&
                   unit.last.next().blockFormat().nonBreakableLines() &&
                   !QTextCursor(unit.last.next()).currentTable())
                unit.last = unit.last.next();
        }
        found.push_back(unit);
        block = unit.last.next();
    }
    return found;
}

// The top (or bottom) of a line of a block, in the document.
qreal LineY(const QTextDocument& document, const QTextBlock& block, int line, bool bottom) {
    const QRectF box = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout* layout = block.layout();
    if (!layout || line < 0 || line >= layout->lineCount()) return box.top();
    const QTextLine text = layout->lineAt(line);
    return box.top() + (bottom ? text.y() + text.height() - 1 : text.y());
}

Extent Measure(const QTextDocument& document, const Unit& unit) {
    Extent extent{LineY(document, unit.first, 0, false), 0};
    for (QTextBlock inside = unit.first;; inside = inside.next()) {
        const QTextLayout* layout = inside.layout();
        const int lines = layout ? layout->lineCount() : 0;
        extent.bottom = std::max(extent.bottom, LineY(document, inside, lines - 1, true));
        if (inside == unit.last) break;
    }
    return extent;
}

// Lays the whole document out anew: an edit lays out only what it touched,
// and lazily, so the pages are measured from a layout made anew and finished.
void Relayout(QTextDocument& document) {
    document.markContentsDirty(0, document.characterCount());
    document.documentLayout()->documentSize();
}

// Starts each block of `blocks` (counted from the end) on a new page, or
// no longer (`policy` Auto).
void SetBreaks(QTextDocument& document, const std::set<int>& blocks,
               QTextFormat::PageBreakFlags policy = QTextFormat::PageBreak_AlwaysBefore) {
    QTextCursor edit(&document);
    edit.beginEditBlock();
    for (const int fromEnd : blocks) {
        QTextCursor cursor(document.findBlockByNumber(document.blockCount() - fromEnd));
        if (QTextTable* table = cursor.currentTable()) {
            QTextTableFormat format = table->format();
            format.setPageBreakPolicy(policy);
            table->setFormat(format);
            continue;
        }
        QTextBlockFormat format = cursor.blockFormat();
        format.setPageBreakPolicy(policy);
        cursor.setBlockFormat(format);
    }
    edit.endEditBlock();
}

// The walk from the top. While no break was added since the last layout the
// positions are the layout's own; after one they are the endless page's,
// moved as the breaks moved them.
class Walk {
public:
    Walk(QTextDocument& document, QSizeF page, std::set<int>& breaks)
        : document_(document), page_(page), breaks_(breaks), units_(Units(document)) {}

    int run();

private:
    struct Place {
        Extent extent;
        std::optional<qreal> nextTop;
    };

    int page(qreal y) const { return static_cast<int>(std::floor(y / page_.height())) + 1; }
    qreal nextPageTop(qreal y) const { return page(y) * page_.height(); }
    qreal spaceAbove(size_t i) const;

    void measureFlow();
    void layOut();
    Place placeExactly(size_t i) const;
    Place placeByFlow(size_t i);
    // The unit at which a page should start because of unit `i`, if any.
    std::optional<size_t> stranded(size_t i, const Place& place) const;
    bool uncertain(size_t i, const Place& place) const;
    void breakAt(size_t start, qreal top);
    // One walk from the top; whether it added a break.
    bool walk();

    QTextDocument& document_;
    QSizeF page_;
    std::set<int>& breaks_;
    std::vector<Unit> units_;
    std::vector<Extent> flow_;  // on the endless page, no break in it
    std::set<int> pending_;     // breaks not yet laid out
    qreal flowAt_ = 0;          // the endless page's y that lies at pagedAt_
    qreal pagedAt_ = 0;
    std::map<size_t, qreal> pageTopSpace_;  // of the units after a break laid out
    bool paged_ = false;                    // laid out on pages (else on the endless page)
    bool exact_ = false;                    // the pages as laid out hold every break so far
    bool brokeOnce_ = false;
    bool guessed_ = false;  // a break of this walk was placed on the endless page
    int layouts_ = 0;
};

// The space between what precedes unit `i` and its first line, as a break
// keeps it at the next page's top: the margins between the two blocks.
qreal Walk::spaceAbove(size_t i) const {
    return i == 0 ? 0 : std::max<qreal>(0, flow_[i].top - flow_[i - 1].bottom - 1);
}

// The endless page, without the breaks; where the pages as laid out put
// the blocks that follow a break on their page is noted first.
void Walk::measureFlow() {
    for (size_t i = 0; i < units_.size(); ++i) {
        if (!breaks_.contains(units_[i].fromEnd)) continue;
        const qreal top = Measure(document_, units_[i]).top;
        pageTopSpace_[i] = top - (page(top) - 1) * page_.height();
    }
    SetBreaks(document_, breaks_, QTextFormat::PageBreak_Auto);
    // A new page size lays the whole document out anew.
    document_.setPageSize(QSizeF(page_.width(), kEndless));
    document_.documentLayout()->documentSize();
    ++layouts_;
    for (const Unit& unit : units_)
        flow_.push_back(Measure(document_, unit));
    paged_ = false;
    exact_ = false;
}

// Lays the pages out with every break so far.
void Walk::layOut() {
    if (!paged_) pending_.insert(breaks_.begin(), breaks_.end());
    SetBreaks(document_, pending_);
    breaks_.insert(pending_.begin(), pending_.end());
    pending_.clear();
    if (document_.pageSize() != page_) {
        document_.setPageSize(page_);  // lays the whole document out anew
        document_.documentLayout()->documentSize();
    } else {
        Relayout(document_);
    }
    paged_ = true;
    exact_ = true;
    ++layouts_;
}

Walk::Place Walk::placeExactly(size_t i) const {
    Place place{Measure(document_, units_[i]), std::nullopt};
    if (i + 1 < units_.size()) place.nextTop = LineY(document_, units_[i + 1].first, 0, false);
    return place;
}

Walk::Place Walk::placeByFlow(size_t i) {
    const auto paged = [this](qreal y) { return y - flowAt_ + pagedAt_; };
    if (i > 0 && breaks_.contains(units_[i].fromEnd)) {
        // A break laid out before: on the page after what precedes it now.
        const qreal above = paged(flow_[i - 1].bottom);
        const auto seen = pageTopSpace_.find(i);
        flowAt_ = flow_[i].top;
        pagedAt_ =
            nextPageTop(above) + (seen != pageTopSpace_.end() ? seen->second : spaceAbove(i));
    }
    Place place{{paged(flow_[i].top), paged(flow_[i].bottom)}, std::nullopt};
    if (i + 1 < units_.size()) {
        const int next = units_[i + 1].fromEnd;
        place.nextTop = breaks_.contains(next) || pending_.contains(next)
                            ? nextPageTop(place.extent.bottom)
                            : paged(flow_[i + 1].top);
    }
    return place;
}

std::optional<size_t> Walk::stranded(size_t i, const Place& place) const {
    const Extent& unit = place.extent;
    const bool cut = page(unit.top) != page(unit.bottom);
    const bool cutIntroduction =
        units_[i].introduces && place.nextTop && page(*place.nextTop) > page(unit.bottom);
    const bool cutWhole = cut && unit.bottom - unit.top < page_.height() / 2;
    if (!cutIntroduction && !cutWhole) return std::nullopt;
    size_t start = i;
    while (start > 0 && units_[start - 1].introduces)
        --start;
    const int fromEnd = units_[start].fromEnd;
    if (breaks_.contains(fromEnd) || pending_.contains(fromEnd)) return std::nullopt;
    return start;
}

// Whether the endless page's places may decide wrongly: for a unit across
// a page boundary that stays there (a long one, which the layout parts, its
// lines and rows moved and its table header repeated).
bool Walk::uncertain(size_t i, const Place& place) const {
    const Extent& unit = place.extent;
    return page(unit.top) != page(unit.bottom) && !stranded(i, place);
}

void Walk::breakAt(size_t start, qreal top) {
    pending_.insert(units_[start].fromEnd);
    exact_ = false;
    flowAt_ = flow_[start].top;
    pagedAt_ = nextPageTop(top) + spaceAbove(start);
}

// A break found on the pages as laid out is laid out at once the first
// time (a document of one break needs no more); from the second on, the
// endless page tells where what follows goes.
bool Walk::walk() {
    bool added = false;
    for (size_t i = 0; i < units_.size();) {
        Place place = exact_ ? placeExactly(i) : placeByFlow(i);
        if (!exact_ && uncertain(i, place)) {
            layOut();
            place = placeExactly(i);
        }
        const std::optional<size_t> start = stranded(i, place);
        if (!start) {
            ++i;
            continue;
        }
        added = true;
        if (exact_ && flow_.empty() && !brokeOnce_) {
            // Laid out at once, and what moved is walked again.
            brokeOnce_ = true;
            pending_.insert(units_[*start].fromEnd);
            layOut();
            i = *start;
            continue;
        }
        const qreal top =
            exact_ ? Measure(document_, units_[*start]).top : placeByFlow(*start).extent.top;
        if (flow_.empty()) measureFlow();
        breakAt(*start, top);
        guessed_ = true;
        ++i;
    }
    if (!exact_) layOut();
    return added;
}

// A walk that placed breaks on the endless page is followed by one over the
// pages as laid out, which finds nothing unless a place was foreseen wrongly.
int Walk::run() {
    constexpr int kMostWalks = 20;
    layOut();
    for (int walks = 0; walks < kMostWalks; ++walks) {
        guessed_ = false;
        if (!walk() || !guessed_) return layouts_;
    }
    return 0;
}

}  // namespace

std::vector<PageHeading> PageHeadings(const QTextDocument& document, qreal pageHeight) {
    std::vector<PageHeading> found;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 1 || level == 2)
            found.push_back({level, block.text().simplified(),
                             static_cast<int>(LineY(document, block, 0, false) / pageHeight) + 1});
    }
    return found;
}

int BreakPages(QTextDocument& document, QSizeF page, std::set<int>& breaks) {
    return Walk(document, page, breaks).run();
}

}  // namespace tarnel
