#include "gateway/table_files.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include "base/dialogs.h"
#include "base/grid_model.h"

namespace tarnel {
namespace {

constexpr int kStoredFields = 20;
constexpr int kFieldLength = 50;
constexpr int kLoopsColumns = 8;

bool mayReplace(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return true;
    constexpr auto anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return (info.permissions() & anyWrite) && info.isWritable();
}

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
    const QByteArray text = GridCsv(grid);
    QSaveFile file(path);
    const bool written = mayReplace(path) && file.open(QIODevice::WriteOnly) &&
                         file.write(text) == text.size() && file.commit();
    if (!written)
        dialogs.error("Error saving file",
                      "File cannot be written, no rights!\nContact administrator.");
}

void LoadMbusGrid(GridModel& grid, const QString& fileName, Dialogs& dialogs) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        dialogs.warning("File Error", "You chose wrong file for import!\nContact administrator!");
        return;
    }
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // the final line end
    if (lines.isEmpty()) return;
    QStringList fields(kStoredFields, QString());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) line.chop(1);
        QString gathered;
        int field = 0;
        for (const char c : line) {
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
