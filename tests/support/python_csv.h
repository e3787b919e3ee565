#pragma once

// An independent reader of the table files: Python's csv module with ";" as
// delimiter, run as a process.
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tarnel::test {

// The rows Python's csv.reader gives for the file at `path`, its bytes taken
// as Latin-1 (one character a byte, as the tool reads and writes cells);
// empty when Python fails.
inline QList<QStringList> pythonCsvRows(const QString& path) {
    static const char* const script =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
        "    print(json.dumps(list(csv.reader(f, delimiter=';'))))\n";
    QProcess python;
    python.start("python3", {"-c", script, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) return {};
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList cells;
        for (const QJsonValue& cell : row.toArray())
            cells << cell.toString();
        rows << cells;
    }
    return rows;
}

}  // namespace tarnel::test
