// tarnel-manual-pdf [--set NAME=VALUE ...] [--scale FACTOR] SOURCE.html PICTURES_FOLDER OUTPUT.pdf
//
// Lays out the user manual's HTML source as A4 pages and writes it as a
// PDF: every <img src="NAME.png"> comes from PICTURES_FOLDER (a missing one
// is an error, so a renamed screenshot cannot slip through; one without a
// width is drawn at its size on screen, its pixels over FACTOR), {{NAME}} is
// the VALUE set for it ({{version}}, the program's version, also goes into the
// footer and the PDF's title), <h1> and <h2> are numbered, "{{fig}}" counts the
// figures, and <!--contents--> becomes the table of contents with the page
// of every chapter and section. A heading is kept on the page of what
// follows it, and a paragraph, a picture or a table is not parted (unless it
// is longer than half a page). Every page but the title page gets a footer
// with its number. Needs a QGuiApplication: run it with QT_QPA_PLATFORM=offscreen.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <cstdio>
#include <map>
#include <set>

namespace {

struct Options {
    std::map<QString, QString> values;  // {{NAME}} in the source becomes VALUE
    qreal scale = 1;
    QString source;
    QString pictures;
    QString output;
};

std::optional<Options> parseArguments(const QStringList& arguments) {
    Options options;
    QStringList positional;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--set" && hasValue) {
            const QString& setting = arguments[++i];
            if (!setting.contains('=')) return std::nullopt;
            options.values[setting.section('=', 0, 0)] = setting.section('=', 1);
        } else if (argument == "--scale" && hasValue) {
            options.scale = std::max(arguments[++i].toDouble(), 0.1);
        } else {
            positional << argument;
        }
    }
    if (positional.size() != 3) return std::nullopt;
    options.source = positional[0];
    options.pictures = positional[1];
    options.output = positional[2];
    return options;
}

void fail(const QString& text) {
    std::fprintf(stderr, "tarnel-manual-pdf: %s\n", qUtf8Printable(text));
}

// "1 Title" for <h1>, "1.2 Title" for <h2>; class="unnumbered" keeps a
// heading as it is. "{{fig}}" becomes 1, 2, 3, ...
QString numbered(const QString& html) {
    static const QRegularExpression heading(QStringLiteral("<h([12])([^>]*)>"));
    QString result;
    qsizetype from = 0;
    int chapter = 0;
    int section = 0;
    for (const QRegularExpressionMatch& match : heading.globalMatch(html)) {
        result += html.mid(from, match.capturedEnd() - from);
        from = match.capturedEnd();
        if (match.captured(2).contains("unnumbered")) continue;
        if (match.captured(1) == "1") {
            result += QStringLiteral("%1&nbsp;&nbsp;").arg(++chapter);
            section = 0;
        } else {
            result += QStringLiteral("%1.%2&nbsp;&nbsp;").arg(chapter).arg(++section);
        }
    }
    result += html.mid(from);
    int figure = 0;
    qsizetype at = 0;
    while ((at = result.indexOf("{{fig}}", at)) >= 0)
        result.replace(at, 7, QString::number(++figure));
    return result;
}

// The widest a picture may be drawn, in CSS pixels (96 to the inch): the
// width of the text on an A4 page with its margins.
constexpr int kTextWidthPx = 640;

// Loads every picture the source names into the document and gives each
// <img> without a width its size on screen: the picture's pixels over
// `scale` (the scale factor the screenshots were taken at), at most the
// width of the text. Empty when a picture is missing or unreadable.
std::optional<QString> withPictures(QTextDocument& document, const QString& html,
                                    const QString& folder, qreal scale) {
    static const QRegularExpression image(QStringLiteral("<img([^>]*)src=\"([^\"]+)\"([^>]*)>"));
    QString result;
    qsizetype from = 0;
    bool complete = true;
    for (const QRegularExpressionMatch& match : image.globalMatch(html)) {
        const QString name = match.captured(2);
        const QImage picture(QFileInfo(folder + "/" + name).absoluteFilePath());
        if (picture.isNull()) {
            fail("no picture " + folder + "/" + name);
            complete = false;
            continue;
        }
        document.addResource(QTextDocument::ImageResource, QUrl(name), picture);
        QString tag = match.captured(0);
        if (!tag.contains("width=")) {
            const int width = std::min(qRound(picture.width() / scale), kTextWidthPx);
            tag.insert(4, QStringLiteral(" width=\"%1\"").arg(width));
        }
        result += html.mid(from, match.capturedStart() - from) + tag;
        from = match.capturedEnd();
    }
    if (!complete) return std::nullopt;
    return result + html.mid(from);
}

struct Heading {
    int level;
    QString text;
    int page;  // from 1
};

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

QString contentsTable(const std::vector<Heading>& headings) {
    QString rows;
    for (const Heading& heading : headings) {
        const bool chapter = heading.level == 1;
        // Both cells of a row start at the same height, so that a page never
        // parts a title from its number.
        rows += QStringLiteral(
                    "<tr><td class=\"%1\">%2</td><td class=\"%1page\" align=\"right\">%3</td></tr>")
                    .arg(chapter ? "toc1" : "toc2", heading.text.toHtmlEscaped(),
                         heading.page > 0 ? QString::number(heading.page) : QString("00"));
    }
    return QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"1\">") + rows +
           "</table>";
}

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

// Sets the HTML with its table of contents and breaks the pages before what
// must not be parted, one break at a time from the top (a break moves all
// that follows), and again until the contents' page numbers no longer change.
bool layOut(QTextDocument& document, const QString& html, qreal pageHeight) {
    constexpr int kMostPasses = 200;
    std::vector<Heading> headings;
    std::set<int> keep;
    const auto setHtml = [&] {
        QString page = html;
        page.replace("<!--contents-->", contentsTable(headings));
        document.setHtml(page);
        breakBefore(document, keep);
    };
    setHtml();
    for (int pass = 0; pass < kMostPasses; ++pass) {
        const Pages pages(document, pageHeight);
        if (const std::optional<int> cut = pages.firstStranded(keep)) {
            keep.insert(*cut);
            breakBefore(document, {*cut});
            continue;
        }
        const std::vector<Heading> now = pages.headings();
        const bool samePages =
            now.size() == headings.size() &&
            std::equal(now.begin(), now.end(), headings.begin(), [](const auto& a, const auto& b) {
                return a.text == b.text && a.page == b.page;
            });
        if (samePages) return true;
        headings = now;
        setHtml();
    }
    fail("the pages do not settle");
    return false;
}

void drawFooter(QPainter& painter, const QRectF& area, const QString& left, const QString& right) {
    painter.save();
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 0));
    painter.drawLine(area.topLeft(), area.topRight());
    QFont font("DejaVu Sans");
    font.setPointSizeF(8);
    painter.setFont(font);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, left);
    painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter, right);
    painter.restore();
}

bool writePdf(const Options& options) {
    QFile source(options.source);
    if (!source.open(QIODevice::ReadOnly)) {
        fail("cannot read " + options.source);
        return false;
    }
    QString html = QString::fromUtf8(source.readAll());
    for (const auto& [name, value] : options.values)
        html.replace("{{" + name + "}}", value);
    html = numbered(html);

    QPdfWriter writer(options.output);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 18, 20, 14), QPageLayout::Millimeter);
    writer.setResolution(600);
    const QString version = options.values.contains("version") ? options.values.at("version") : "";
    const QString title = "Tarnel " + version + " user manual";
    writer.setTitle(title);
    writer.setCreator("Tarnel " + version);

    const QRectF paper = writer.pageLayout().paintRectPixels(writer.resolution());
    const qreal footerHeight = writer.resolution() * 0.35;  // about 9 mm
    const QSizeF body(paper.width(), paper.height() - footerHeight);

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    QFont font("DejaVu Sans");
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setPageSize(body);
    const std::optional<QString> page =
        withPictures(document, html, options.pictures, options.scale);
    if (!page || !layOut(document, *page, body.height())) return false;

    QPainter painter;
    if (!painter.begin(&writer)) {
        fail("cannot write " + options.output);
        return false;
    }
    const int pageCount = document.pageCount();
    const qreal overreach = writer.resolution() * 3.0 / 72;  // 3 points
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0) writer.newPage();
        painter.save();
        const QRectF shown(0, page * body.height(), body.width(), body.height());
        painter.translate(0, -shown.top());
        painter.setClipRect(shown);
        QAbstractTextDocumentLayout::PaintContext context;
        // The layout draws every line that touches its clip; the painter's
        // clip hides what lies outside, but the PDF would still hold its text.
        // A line belongs to the page it starts on: one that starts right at
        // the next page's top, or reaches a little into this page from the
        // page before, stays out.
        context.clip = shown.adjusted(0, overreach, 0, -1);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        if (page > 0)
            drawFooter(
                painter,
                QRectF(0, body.height() + footerHeight * 0.3, body.width(), footerHeight * 0.7),
                title, QStringLiteral("Page %1 of %2").arg(page + 1).arg(pageCount));
    }
    painter.end();
    std::fprintf(stderr, "wrote %s: %d pages\n", qUtf8Printable(options.output), pageCount);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const std::optional<Options> options = parseArguments(QGuiApplication::arguments());
    if (!options) {
        std::fprintf(stderr,
                     "usage: tarnel-manual-pdf [--set NAME=VALUE ...] [--scale FACTOR] SOURCE.html "
                     "PICTURES_FOLDER OUTPUT.pdf\n");
        return 2;
    }
    return writePdf(*options) ? 0 : 1;
}
