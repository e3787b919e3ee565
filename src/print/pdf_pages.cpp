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

bool sameHeadings(const std::vector<PageHeading>& a, const std::vector<PageHeading>& b) {
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

// Sets the HTML and breaks its pages, and again with the headings' pages
// until they no longer change (a table of contents shows them).
bool PdfPages::layOut(const HtmlMaker& html, QString* error) {
    constexpr int kMostPasses = 20;
    std::vector<PageHeading> headings;
    std::set<int> breaks;
    QString shown;
    for (int pass = 0; pass < kMostPasses; ++pass) {
        QString page = html(headings);
        if (pass > 0 && page == shown) return true;
        shown = std::move(page);
        document_.setHtml(shown);
        if (BreakPages(document_, body_, breaks) == 0) break;
        std::vector<PageHeading> now = PageHeadings(document_, body_.height());
        if (sameHeadings(now, headings)) return true;
        headings = std::move(now);
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
