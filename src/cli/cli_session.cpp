#include "cli/cli_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>
#include <span>

#include "base/csv_text.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "cli/record_output.h"
#include "gateway/program.h"
#include "gateway/table_files.h"
#include "mbus/telegram_records.h"

namespace tarnel::cli {
namespace {

// Texts as one JSON array through Qt's writer: compact, so on one line
// whatever the texts hold.
std::string jsonArray(const QStringList& texts) {
    return QJsonDocument(QJsonArray::fromStringList(texts))
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

}  // namespace

int Session::quietBoundMs() const {
    constexpr int kMarginMs = 1000;
    return std::max(4 * (options_.scanTimeMs + options_.timeoutMs), allowedQuietMs_) + kMarginMs;
}

void Session::watchProgress(QTimer& quiet, QTimer& lastChance) const {
    const int bound = quietBoundMs();
    quiet.setSingleShot(true);
    QObject::connect(&program_.log(), &Log::lineAppended, &quiet,
                     [&quiet, bound] { quiet.start(bound); });
    QObject::connect(&quiet, &QTimer::timeout, &lastChance, [this, &lastChance, bound] {
        note("nothing happened for " + std::to_string(bound) + " ms: stopped");
        program_.stopAll();
        lastChance.start(1000);
    });
    quiet.start(bound);
}

void Session::printTable(const QStringList& headers, const QList<QStringList>& rows,
                         bool openRow) const {
    if (!options_.json) {
        QByteArray csv = TableRow(headers);
        for (const QStringList& row : rows)
            csv += TableRow(row);
        if (openRow) csv += TableRow(QStringList(headers.size()));
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        std::fflush(stdout);
        return;
    }
    for (const QStringList& row : rows)
        std::cout << jsonArray(row) << "\n";
    std::cout << std::flush;
}

void Session::printGrid(const GridModel& grid) const {
    QList<QStringList> rows;
    for (int row = 1; row < grid.rows(); ++row)
        if (!grid.rowTexts(row).join(QString()).isEmpty()) rows << grid.rowTexts(row);
    printTable(grid.rowTexts(0), rows);
}

void Session::printRow(const QStringList& headers, const QStringList& row) const {
    if (!row.isEmpty()) printTable(headers, {row});
}

void Session::printMeters(const QList<MeterRow>& meters, bool openRow) const {
    QList<QStringList> rows;
    for (const MeterRow& meter : meters)
        rows << meter.texts();
    if (!options_.records || !options_.json) printTable(loopsGridLayout().headers, rows, openRow);
    if (!options_.records) return;
    for (const MeterRow& meter : meters) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(meter.telegram.constData());
        const TelegramRecords records =
            DecodeTelegramRecords(std::span(bytes, static_cast<size_t>(meter.telegram.size())));
        if (options_.json) {
            // The records' numbers keep their exact decimal text: the
            // decoder's writer, not Qt's (a double), writes them.
            std::cout << "{\"row\":" << jsonArray(meter.texts()) << RecordsJsonMembers(records)
                      << "}\n";
        } else {
            std::cout << "\nRecords of " << meter.id.toStdString() << ":\n";
            PrintRecordsTable(records, std::cout);
        }
    }
    std::cout << std::flush;
}

void Session::printLine(const QString& line) const {
    std::cout << line.toStdString() << std::endl;
}

namespace {

// The fields as one line of a table file, UTF-8 as the terminal shows them.
std::string csvLine(const QStringList& texts) {
    std::vector<std::string> cells;
    for (const QString& text : texts)
        cells.push_back(text.toStdString());
    return csv::Row(cells, "");
}

}  // namespace

void Session::printFields(const QStringList& texts) const {
    std::cout << (options_.json ? jsonArray(texts) : csvLine(texts)) << std::endl;
}

void Session::note(const std::string& line) {
    std::cerr << "tarnel-cli: " << line << std::endl;
}

int Session::tableStatus(const TableReadResult& result, bool found) {
    if (result.ending == Ending::LinkLost) return kLinkError;
    if (const QString shortfall = TableShortfall(result); !shortfall.isEmpty()) {
        note(shortfall.toStdString());
        return kNoResult;
    }
    return status(result.ending, found);
}

int Session::status(Ending ending, bool found) {
    if (ending == Ending::LinkLost) return kLinkError;
    // Stopped for a silent gateway, whatever it found before: its line says so.
    if (ending == Ending::GatewaySilent) return kNoResult;
    return found ? kDone : kNoResult;
}

}  // namespace tarnel::cli
