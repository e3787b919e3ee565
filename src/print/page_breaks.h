#pragma once

#include <QSizeF>
#include <QString>
#include <QTextDocument>
#include <set>
#include <vector>

namespace tarnel {

// A heading (<h1>, <h2>) of a laid-out document and the page it starts on.
struct PageHeading {
    int level = 1;
    QString text;
    int page = 0;  // from 1
};

// The headings of `document`, laid out on pages `pageHeight` high.
std::vector<PageHeading> PageHeadings(const QTextDocument& document, qreal pageHeight);

// Breaks the pages of `document` (its HTML just set, no page break in it yet)
// before what a page boundary would part: a heading (or a paragraph ending
// in ":") left without what follows, or a paragraph, picture, preformatted
// text or table under half a page high cut in two; the headings right above
// such a block go along with it. `breaks` names the blocks (counted from the
// end, which a table of contents above does not change) that start a page:
// those given are kept, those found are added. The breaks are found in one
// walk from the top: the first on the pages as laid out, the others on the
// document laid out once without pages, what follows a break moved as the
// break moves it. The pages are laid out anew only where that cannot tell
// (a long table or paragraph across a page boundary, whose rows and lines
// the layout moves) and at the end, then walked once more as a check.
// Returns the number of layouts it took; 0 when the pages do not settle.
int BreakPages(QTextDocument& document, QSizeF page, std::set<int>& breaks);

}  // namespace tarnel
