#include "cli/cli_session.h"

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

std::string jsonArray(const QStringList& texts) {
    std::string line = "[";
    for (int col = 0; col < texts.size(); ++col) {
        std::string escaped;
        for (const char c : texts[col].toStdString())
            escaped += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        line += (col ? ",\"" : "\"") + escaped + "\"";
    }
    return line + "]";
}

}  // namespace

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

std::string Session::missing(const char* noun, const char* nouns, const QList<int>& numbers,
                             int total, const char* what) {
    constexpr int kNamed = 5;  // a long list is cut: one line
    std::string line = numbers.size() == 1 ? noun : nouns;
    for (int i = 0; i < numbers.size() && i < kNamed; ++i)
        line += (i ? ", " : " ") + std::to_string(numbers[i]);
    if (numbers.size() > kNamed)
        line += " and " + std::to_string(numbers.size() - kNamed) + " more";
    return line + " of " + std::to_string(total) +
           (numbers.size() == 1 ? " was not " : " were not ") + what;
}

int Session::tableStatus(const TableReadResult& result, bool found) {
    if (result.ending == Ending::LinkLost) return kLinkError;
    if (!result.answered) {
        note("the gateway did not answer the count of its devices");
        return kNoResult;
    }
    QList<int> unread;
    for (int entry = 1; entry <= result.count; ++entry)
        if (std::none_of(result.entries.begin(), result.entries.end(),
                         [entry](const TableEntry& read) { return read.number == entry; }))
            unread << entry;
    if (!unread.isEmpty()) {
        note(missing("entry", "entries", unread, result.count, "read"));
        return kNoResult;
    }
    return status(result.ending, found);
}

int Session::status(Ending ending, bool found) {
    if (ending == Ending::LinkLost) return kLinkError;
    return found ? kDone : kNoResult;
}

}  // namespace tarnel::cli
