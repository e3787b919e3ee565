#pragma once

#include <QBuffer>
#include <QPdfWriter>
#include <QString>
#include <QTextDocument>
#include <functional>
#include <vector>

#include "print/page_breaks.h"

namespace tarnel {

// How the pages look: the PDF's title (also the footer's left text), its
// creator, the body text's size, whether the first page (a title page) has
// a footer, and the paper's orientation (wide tables want landscape).
struct PageLook {
    QString title;
    QString creator;
    qreal fontPoints = 10;
    bool footerOnFirstPage = true;
    bool landscape = false;
};

// HTML laid out as A4 pages and drawn into a PDF. A heading is kept on the
// page of what follows it, a paragraph, a picture or a short table is not
// parted, and a long table's header row comes again on each page when it
// is a <thead>. A table row of one line a cell is never split across pages;
// cells that wrap can be. Each page with a footer
// says "Page N of M". Needs a QGuiApplication (fonts); offscreen will do.
// An object of its own (with its document, writer and fonts) can be made,
// laid out and drawn on any one thread, such as a worker's.
class PdfPages {
public:
    // Makes the HTML; given the headings of the previous layout (none at
    // first), so that a table of contents can show their pages.
    using HtmlMaker = std::function<QString(const std::vector<PageHeading>&)>;

    explicit PdfPages(PageLook look);

    // For resources (pictures) before the layout, and for the page width.
    QTextDocument& document() { return document_; }
    // Lays the HTML out until every page settles; false and the reason when
    // it does not.
    bool layOut(const HtmlMaker& html, QString* error);
    int pageCount() const { return document_.pageCount(); }
    // Draws the pages; the PDF's bytes, empty when nothing could be drawn.
    QByteArray draw();

    // The width of the text on the page, in CSS pixels (96 to the inch).
    static constexpr int kTextWidthPx = 640;

private:
    void drawFooter(QPainter& painter, int page) const;

    PageLook look_;
    QBuffer buffer_;
    QPdfWriter writer_;
    QTextDocument document_;
    QSizeF body_;
    qreal footerHeight_ = 0;
};

// A page of HTML without pictures as a PDF; empty and the reason when it
// could not be laid out.
QByteArray HtmlPdf(const QString& html, const PageLook& look, QString* error);

}  // namespace tarnel
