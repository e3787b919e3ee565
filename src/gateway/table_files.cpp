#include "gateway/table_files.h"

#include <QFile>
#include <QLocale>
#include <algorithm>

#include "base/csv_text.h"
#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/whole_file.h"

namespace tarnel {
namespace {

constexpr int kStoredFields = 20;
constexpr int kFieldLength = 50;
constexpr int kLoopsColumns = 8;

// A line or record longer than this is no table's: refused before it fills
// memory.
constexpr qint64 kMaxLineBytes = 64 * 1024;

// The row after the last a table may hold may still be the empty row an
// export ends with.
bool isEmptyRow(const QByteArray& line) {
    return std::all_of(line.begin(), line.end(),
                       [](char c) { return c == ';' || c == ',' || c == ' ' || c == '\t'; });
}

// Reads a table file one line at a time through a buffer of the longest
// line, so that each line takes only its own length in memory.
class LineReader {
public:
    explicit LineReader(QIODevice& device) : device_(device), buffer_(kMaxLineBytes + 2, '\0') {}

    // The next line without its end, and the end (LF, CR LF or none at the
    // end of the file); false at the end of the file or past the line length
    // bound (tooLong() then true).
    bool next(QByteArray& line, QByteArray& end) {
        const qint64 read = device_.readLine(buffer_.data(), buffer_.size());
        if (read <= 0) return false;
        line = QByteArray(buffer_.constData(), read);
        end.clear();
        if (line.endsWith('\n')) {
            line.chop(1);
            end = "\n";
        } else if (read > kMaxLineBytes) {
            tooLong_ = true;
            return false;
        }
        if (line.endsWith('\r')) {
            line.chop(1);
            end.prepend('\r');
        }
        return true;
    }
    bool tooLong() const { return tooLong_; }

private:
    QIODevice& device_;
    QByteArray buffer_;
    bool tooLong_ = false;
};

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// Reads records: a line, joined with the lines after it (and the line ends
// between them) while a quoted cell is open; an unclosed quote runs to the
// end of the file. A record is bound by the length of a line.
class RecordReader {
public:
    RecordReader(QIODevice& device, char separator) : lines_(device), separator_(separator) {}

    bool next(QByteArray& record) {
        QByteArray line, end;
        if (!lines_.next(line, end)) return false;
        if (separator_ == kHeaderSeparator) separator_ = TableSeparator(line);
        // A spreadsheet's byte order mark does not start a cell.
        const size_t start = first_ && line.startsWith(kByteOrderMark) ? 3 : 0;
        first_ = false;
        csv::QuoteScanner scanner(separator_);
        scanner.feed(view(line).substr(start));
        record = line;
        while (scanner.open()) {
            const QByteArray between = end;
            if (!lines_.next(line, end)) return !lines_.tooLong();
            scanner.feed(view(between));
            scanner.feed(view(line));
            record += between + line;
            if (record.size() > kMaxLineBytes) {
                tooLong_ = true;
                return false;
            }
        }
        return true;
    }
    bool tooLong() const { return tooLong_ || lines_.tooLong(); }

private:
    LineReader lines_;
    char separator_;
    bool first_ = true;
    bool tooLong_ = false;
};

}  // namespace

char TableSeparator(const QByteArray& header) {
    return header.contains(',') && !header.contains(';') ? ',' : ';';
}

QByteArray TableRow(const QStringList& cells) {
    std::vector<std::string> texts;
    for (const QString& cell : cells)
        texts.push_back(cell.toLatin1().toStdString());
    return QByteArray::fromStdString(csv::Row(texts));
}

QByteArray GridCsv(const GridModel& grid) {
    QByteArray text;
    for (int row = 0; row < grid.rows(); ++row)
        text += TableRow(grid.rowTexts(row));
    return text;
}

TableRead ReadTableRecords(QIODevice& device, QList<QByteArray>& records, char separator) {
    records.clear();
    RecordReader reader(device, separator);
    QByteArray record;
    // The header, then at most kMaxTableRows rows, in at most kMaxTableBytes.
    while (reader.next(record)) {
        if (device.pos() > kMaxTableBytes) {
            records.clear();
            return TableRead::TooLarge;
        }
        if (records.size() == kMaxTableRows + 1) {
            QByteArray after;
            if (isEmptyRow(record) && !reader.next(after) && !reader.tooLong()) {
                records.append(record);
                break;
            }
            records.clear();
            return TableRead::TooManyRows;
        }
        records.append(record);
    }
    if (!reader.tooLong()) return TableRead::Read;
    records.clear();
    return TableRead::Unreadable;
}

TableRead ReadTableLines(const QString& path, QList<QByteArray>& records, char separator) {
    records.clear();
    QFile file;
    if (!OpenForReading(file, path)) return TableRead::Unreadable;
    if (file.size() > kMaxTableBytes) return TableRead::TooLarge;  // not read at all
    return ReadTableRecords(file, records, separator);
}

QString MbusTableFileName(const QDate& today) {
    // The short date may hold "/", a folder separator here.
    QString date = QLocale::system().toString(today, QLocale::ShortFormat);
    date.replace('/', '-').replace('\\', '-');
    return QStringLiteral("mbus_data_") + date + QStringLiteral(".csv");
}

void ExportGrid(const GridModel& grid, const QString& suggestedName, Dialogs& dialogs) {
    FileDialogRequest request = saveDialog1();
    request.fileName = suggestedName;
    const QString path = dialogs.saveFileName(request);
    if (path.isEmpty()) return;
    const FileWritten written = WriteWholeFile(path, GridCsv(grid));
    if (!written)
        dialogs.error("Error saving file",
                      "File cannot be written, no rights!\nContact administrator.\n" + path + ": " +
                          written.reason);
}

TableLoad LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs) {
    QList<QByteArray> lines;
    const TableRead read = ReadTableLines(fileName, lines, kHeaderSeparator);
    if (read == TableRead::TooManyRows) return TableLoad::TooManyRows;
    if (read == TableRead::TooLarge) return TableLoad::TooLarge;
    if (read == TableRead::Unreadable) {
        dialogs.warning("File Error", "You chose wrong file for import!\nContact administrator!");
        return TableLoad::Refused;
    }
    if (lines.isEmpty()) return TableLoad::Loaded;
    // The separators Import reads: ";" after every cell, or a spreadsheet's
    // "," between cells.
    const char separator = TableSeparator(lines.first());
    QStringList fields(kStoredFields, QString());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Only cells ended by ";" count: the text after the last is dropped.
        const csv::Record record = csv::SplitRecord(view(lines[i]), separator);
        std::vector<std::string> cells = record.cells;
        if (separator == ',' && !record.rest.empty()) cells.push_back(record.rest);
        if (cells.size() > size_t{kLoopsColumns}) {
            dialogs.message(
                "You are trying to import too many data!!!\nCorrect csv file and try again!");
            return TableLoad::Refused;
        }
        for (size_t field = 0; field < cells.size(); ++field)
            fields[static_cast<qsizetype>(field)] =
                QString::fromLatin1(cells[field].data(),
                                    static_cast<qsizetype>(cells[field].size()))
                    .left(kFieldLength);
        const int row = static_cast<int>(i) + 1;
        grid.setRowTexts(row, fields.mid(0, kLoopsColumns));
        grid.setRows(grid.rows() + 1);
    }
    grid.setRows(grid.rows() - 1);
    return TableLoad::Loaded;
}

}  // namespace tarnel
