#include "gateway/table_files.h"

#include <QFile>
#include <QLocale>
#include <algorithm>

#include "base/dialogs.h"
#include "base/grid_model.h"
#include "base/log.h"
#include "base/whole_file.h"

namespace tarnel {
namespace {

constexpr int kStoredFields = 20;
constexpr int kFieldLength = 50;
constexpr int kLoopsColumns = 8;

// A line longer than this is no table's: refused before it fills memory.
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
    explicit LineReader(QFile& file) : file_(file), buffer_(kMaxLineBytes + 2, '\0') {}

    // The next line without its end; false at the end of the file or past
    // the line length bound (tooLong() then true).
    bool next(QByteArray& line) {
        const qint64 read = file_.readLine(buffer_.data(), buffer_.size());
        if (read <= 0) return false;
        line = QByteArray(buffer_.constData(), read);
        if (line.endsWith('\n')) {
            line.chop(1);
        } else if (read > kMaxLineBytes) {
            tooLong_ = true;
            return false;
        }
        if (line.endsWith('\r')) line.chop(1);
        return true;
    }
    bool tooLong() const { return tooLong_; }

private:
    QFile& file_;
    QByteArray buffer_;
    bool tooLong_ = false;
};

}  // namespace

QByteArray GridCsv(const GridModel& grid) {
    QByteArray text;
    for (int row = 0; row < grid.rows(); ++row) {
        for (int col = 0; col < grid.cols(); ++col)
            text += grid.cell(row, col).toLatin1() + ';';
        text += "\r\n";
    }
    return text;
}

TableRead ReadTableLines(const QString& path, QList<QByteArray>& lines) {
    lines.clear();
    QFile file;
    if (!OpenForReading(file, path)) return TableRead::Unreadable;
    LineReader reader(file);
    QByteArray line;
    // The header, then at most kMaxTableRows rows.
    while (reader.next(line)) {
        if (lines.size() == kMaxTableRows + 1) {
            QByteArray after;
            if (isEmptyRow(line) && !reader.next(after) && !reader.tooLong()) {
                lines.append(line);
                break;
            }
            lines.clear();
            return TableRead::TooManyRows;
        }
        lines.append(line);
    }
    if (!reader.tooLong()) return TableRead::Read;
    lines.clear();
    return TableRead::Unreadable;
}

QString TooManyRowsLine(const QString& path) {
    return QStringLiteral(
               "%1 not read: it has more than %2 rows, more than a gateway or a bus holds.")
        .arg(path)
        .arg(kMaxTableRows);
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

void LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs, Log& log) {
    QList<QByteArray> lines;
    const TableRead read = ReadTableLines(fileName, lines);
    if (read == TableRead::TooManyRows) {
        log.append(TooManyRowsLine(fileName));
        return;
    }
    if (read == TableRead::Unreadable) {
        dialogs.warning("File Error", "You chose wrong file for import!\nContact administrator!");
        return;
    }
    if (lines.isEmpty()) return;
    QStringList fields(kStoredFields, QString());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString gathered;
        int field = 0;
        for (const char c : std::as_const(lines[i])) {
            if (c != ';') {
                gathered += QChar(QLatin1Char(c));
                continue;
            }
            if (field == kLoopsColumns) {
                dialogs.message(
                    "You are trying to import too many data!!!\nCorrect csv file and try again!");
                return;
            }
            fields[field++] = gathered.left(kFieldLength);
            gathered.clear();
        }
        const int row = static_cast<int>(i) + 1;
        grid.setRowTexts(row, fields.mid(0, kLoopsColumns));
        grid.setRows(grid.rows() + 1);
    }
    grid.setRows(grid.rows() - 1);
}

}  // namespace tarnel
