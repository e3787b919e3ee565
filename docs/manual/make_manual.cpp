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
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QTextDocument>
#include <cstdio>
#include <map>
#include <optional>

#include "print/pdf_pages.h"

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
constexpr int kTextWidthPx = tarnel::PdfPages::kTextWidthPx;

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

QString contentsTable(const std::vector<tarnel::PageHeading>& headings) {
    QString rows;
    for (const tarnel::PageHeading& heading : headings) {
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

    const QString version = options.values.contains("version") ? options.values.at("version") : "";
    tarnel::PdfPages pages({"Tarnel " + version + " user manual", "Tarnel " + version, 10, false});
    const std::optional<QString> page =
        withPictures(pages.document(), html, options.pictures, options.scale);
    if (!page) return false;
    QString error;
    const auto withContents = [&](const std::vector<tarnel::PageHeading>& headings) {
        QString text = *page;
        return text.replace("<!--contents-->", contentsTable(headings));
    };
    if (!pages.layOut(withContents, &error)) {
        fail(error);
        return false;
    }
    const QByteArray pdf = pages.draw();
    QFile output(options.output);
    if (pdf.isEmpty() || !output.open(QIODevice::WriteOnly) || output.write(pdf) != pdf.size() ||
        !output.flush()) {
        fail("cannot write " + options.output);
        return false;
    }
    std::fprintf(stderr, "wrote %s: %d pages\n", qUtf8Printable(options.output), pages.pageCount());
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
