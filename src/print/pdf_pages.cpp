#include "print/pdf_pages.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTextTable>
#include <algorithm>
#include <optional>
#include <set>

namespace tarnel {
namespace {

using Heading = PageHeading;

// The pages of a laid-out document: where its headings start, and what a
// page boundary parts that should stay together.
class Pages {
public:
    Pages(QTextDocument& document, qreal pageHeight)
        : document_(document), pageHeight_(pageHeight) {}

    std::vector<Heading> headings() const {
        std::vector<Heading> found;
        for (QTextBlock block = document_.begin(); block.isValid(); block = block.next()) {
            const int level = block.blockFormat().headingLevel();
            if (level == 1 || level == 2)
                found.push_back({level, block.text().simplified(), page(lineY(block, 0, false))});
        }
        return found;
    }
    // The first block that should start a new page and does not yet,
    // counted from the end of the document (which the contents do not
    // change): a heading (or a paragraph ending in ":") whose text follows
    // on the next page, or a paragraph (a picture with its caption, a
    // table, a preformatted text) cut in two that fits on one page. The headings right above such a
    // block go along with it.
    std::optional<int> firstStranded(const std::set<int>& broken) const {
        const std::vector<Unit> units = this->units();
        for (size_t i = 0; i < units.size(); ++i) {
            const Unit& unit = units[i];
            const bool cut = page(unit.top) != page(unit.bottom);
            const bool cutIntroduction = unit.introduces && i + 1 < units.size() &&
                                         page(units[i + 1].top) > page(unit.bottom);
            const bool cutWhole =
                unit.keepTogether && cut && unit.bottom - unit.top < pageHeight_ / 2;
            if (!cutIntroduction && !cutWhole) continue;
            size_t start = i;
            while (start > 0 && units[start - 1].introduces)
                --start;
            const int fromEnd = document_.blockCount() - units[start].first.blockNumber();
            if (!broken.contains(fromEnd)) return fromEnd;
        }
        return std::nullopt;
    }

private:
    // What the layout must not part: a table, the lines of a preformatted
    // text, one block.
    struct Unit {
        QTextBlock first;
        qreal top = 0;            // the top of its first line
        qreal bottom = 0;         // the bottom of its lowest line
        bool introduces = false;  // a heading, or a paragraph ending in ":"
        bool keepTogether = false;
    };

    int page(qreal y) const { return static_cast<int>(y / pageHeight_) + 1; }

    std::vector<Unit> units() const {
        std::vector<Unit> found;
        QTextBlock block = document_.begin();
        while (block.isValid()) {
            const bool introduces =
                block.blockFormat().headingLevel() > 0 || block.text().trimmed().endsWith(':');
            // A paragraph, too, goes whole to the next page: the layout draws
            // the line before a page's first one along with it (hidden by the
            // painter's clip, but its text would stay in the PDF), and a
            // paragraph left whole reads better anyway.
            Unit unit{block, lineY(block, 0, false), 0, introduces, true};
            QTextBlock last = block;
            if (const QTextTable* table = QTextCursor(block).currentTable()) {
                last = table->lastCursorPosition().block();
                unit.keepTogether = true;
            } else if (block.blockFormat().nonBreakableLines()) {
                while (last.next().isValid() && last.next().blockFormat().nonBreakableLines() &&
                       !QTextCursor(last.next()).currentTable())
                    last = last.next();
                unit.keepTogether = true;
            }
            for (QTextBlock inside = block;; inside = inside.next()) {
                const QTextLayout* layout = inside.layout();
                const int lines = layout ? layout->lineCount() : 0;
                unit.bottom = std::max(unit.bottom, lineY(inside, lines - 1, true));
                if (inside == last) break;
            }
            found.push_back(unit);
            block = last.next();
        }
        return found;
    }

    // The top (or bottom) of a line of a block, in the document.
    qreal lineY(const QTextBlock& block, int line, bool bottom) const {
        const QRectF box = document_.documentLayout()->blockBoundingRect(block);
        const QTextLayout* layout = block.layout();
        if (!layout || line < 0 || line >= layout->lineCount()) return box.top();
        const QTextLine text = layout->lineAt(line);
        return box.top() + (bottom ? text.y() + text.height() - 1 : text.y());
    }

    QTextDocument& document_;
    qreal pageHeight_;
};

// Starts each block of `blocks` (counted from the end) on a new page, then
// lays the whole document out again.
void breakBefore(QTextDocument& document, const std::set<int>& blocks) {
    for (const int fromEnd : blocks) {
        QTextCursor cursor(document.findBlockByNumber(document.blockCount() - fromEnd));
        if (QTextTable* table = cursor.currentTable()) {
            QTextTableFormat format = table->format();
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            table->setFormat(format);
            continue;
        }
        QTextBlockFormat format = cursor.blockFormat();
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor.setBlockFormat(format);
    }
    // An edit lays out only what it touched, and lazily: the pages are
    // measured and drawn from a layout made anew and finished.
    document.markContentsDirty(0, document.characterCount());
    document.documentLayout()->documentSize();
}

bool sameHeadings(const std::vector<Heading>& a, const std::vector<Heading>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.text == y.text && x.page == y.page;
    });
}

}  // namespace

PdfPages::PdfPages(PageLook look) : look_(std::move(look)), writer_(&buffer_) {
    buffer_.open(QIODevice::WriteOnly);
    writer_.setPageLayout(QPageLayout(
        QPageSize(QPageSize::A4), look_.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
        QMarginsF(20, 18, 20, 14), QPageLayout::Millimeter));
    writer_.setResolution(600);
    writer_.setTitle(look_.title);
    writer_.setCreator(look_.creator);
    const QRectF paper = writer_.pageLayout().paintRectPixels(writer_.resolution());
    footerHeight_ = writer_.resolution() * 0.35;  // about 9 mm
    body_ = QSizeF(paper.width(), paper.height() - footerHeight_);
    document_.documentLayout()->setPaintDevice(&writer_);
    QFont font("DejaVu Sans");
    font.setPointSizeF(look_.fontPoints);
    document_.setDefaultFont(font);
    document_.setDocumentMargin(0);
    document_.setPageSize(body_);
}

// Sets the HTML and breaks the pages before what must not be parted, one
// break at a time from the top (a break moves all that follows), and again
// until the headings' pages no longer change.
bool PdfPages::layOut(const HtmlMaker& html, QString* error) {
    constexpr int kMostPasses = 200;
    std::vector<Heading> headings;
    std::set<int> keep;
    QString shown;
    // False when the HTML for the headings is the one laid out already.
    const auto setHtml = [&] {
        QString page = html(headings);
        if (page == shown) return false;
        shown = std::move(page);
        document_.setHtml(shown);
        breakBefore(document_, keep);
        return true;
    };
    setHtml();
    for (int pass = 0; pass < kMostPasses; ++pass) {
        const Pages pages(document_, body_.height());
        if (const std::optional<int> cut = pages.firstStranded(keep)) {
            keep.insert(*cut);
            breakBefore(document_, {*cut});
            continue;
        }
        const std::vector<Heading> now = pages.headings();
        if (sameHeadings(now, headings)) return true;
        headings = now;
        if (!setHtml()) return true;
    }
    if (error) *error = QStringLiteral("the pages do not settle");
    return false;
}

void PdfPages::drawFooter(QPainter& painter, int page) const {
    const QRectF area(0, body_.height() + footerHeight_ * 0.3, body_.width(), footerHeight_ * 0.7);
    painter.save();
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 0));
    painter.drawLine(area.topLeft(), area.topRight());
    QFont font("DejaVu Sans");
    font.setPointSizeF(8);
    painter.setFont(font);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, look_.title);
    painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Page %1 of %2").arg(page + 1).arg(pageCount()));
    painter.restore();
}

QByteArray PdfPages::draw() {
    QPainter painter;
    if (!painter.begin(&writer_)) return {};
    const qreal overreach = writer_.resolution() * 3.0 / 72;  // 3 points
    for (int page = 0; page < pageCount(); ++page) {
        if (page > 0) writer_.newPage();
        painter.save();
        const QRectF shown(0, page * body_.height(), body_.width(), body_.height());
        painter.translate(0, -shown.top());
        painter.setClipRect(shown);
        QAbstractTextDocumentLayout::PaintContext context;
        // The layout draws every line that touches its clip; the painter's
        // clip hides what lies outside, but the PDF would still hold its text.
        // A line belongs to the page it starts on: one that starts right at
        // the next page's top, or reaches a little into this page from the
        // page before, stays out.
        context.clip = shown.adjusted(0, overreach, 0, -1);
        document_.documentLayout()->draw(&painter, context);
        painter.restore();
        if (page > 0 || look_.footerOnFirstPage) drawFooter(painter, page);
    }
    painter.end();
    return buffer_.data();
}

QByteArray HtmlPdf(const QString& html, const PageLook& look, QString* error) {
    PdfPages pages(look);
    if (!pages.layOut([&](const std::vector<PageHeading>&) { return html; }, error)) return {};
    QByteArray pdf = pages.draw();
    if (pdf.isEmpty() && error) *error = QStringLiteral("the pages could not be drawn");
    return pdf;
}

}  // namespace tarnel
