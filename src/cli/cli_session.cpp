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
#include "ops/meter_telegrams.h"

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
    return 4 * (options_.scanTimeMs + options_.timeoutMs) + kMarginMs;
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

void Session::printGrid(const GridModel& grid) const {
    if (!options_.json) {
        const QByteArray csv = GridCsv(grid);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        std::fflush(stdout);
        return;
    }
    for (int row = 1; row < grid.rows(); ++row) {
        const QStringList texts = grid.rowTexts(row);
        if (!texts.join(QString()).isEmpty()) std::cout << jsonArray(texts) << "\n";
    }
    std::cout << std::flush;
}

void Session::printRow(const QStringList& headers, const QStringList& row) const {
    if (row.isEmpty()) return;
    GridModel grid(headers);
    grid.setRowTexts(1, row);
    printGrid(grid);
}

namespace {

std::optional<TelegramRecords> recordsOf(const MeterTelegrams& telegrams, const QString& id) {
    const std::optional<QByteArray> telegram = telegrams.lastOf(id);
    if (!telegram) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uint8_t*>(telegram->constData());
    return DecodeTelegramRecords(std::span(bytes, static_cast<size_t>(telegram->size())));
}

}  // namespace

void Session::printMeters(const GridModel& grid) const {
    if (!options_.records || !options_.json) printGrid(grid);
    if (!options_.records) return;
    for (int row = 1; row < grid.rows(); ++row) {
        const QStringList texts = grid.rowTexts(row);
        if (texts.join(QString()).isEmpty()) continue;
        const auto records = recordsOf(program_.telegrams(), texts.first());
        if (options_.json) {
            // The records' numbers keep their exact decimal text: the
            // decoder's writer, not Qt's (a double), writes them.
            std::cout << "{\"row\":" << jsonArray(texts)
                      << (records ? RecordsJsonMembers(*records) : std::string()) << "}\n";
        } else if (records) {
            std::cout << "\nRecords of " << texts.first().toStdString() << ":\n";
            PrintRecordsTable(*records, std::cout);
        }
    }
    std::cout << std::flush;
}

void Session::printMeter(const QStringList& row) const {
    if (row.isEmpty()) return;
    GridModel grid(loopsGridLayout().headers);
    grid.setRowTexts(1, row);
    printMeters(grid);
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
    return found ? kDone : kNoResult;
}

}  // namespace tarnel::cli
