#include "cli/cli_session.h"

#include <cstdio>
#include <iostream>

#include "base/grid_model.h"
#include "gateway/table_files.h"

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

void Session::printLine(const QString& line) const {
    std::cout << line.toStdString() << std::endl;
}

void Session::printFields(const QStringList& texts) const {
    std::cout << (options_.json ? jsonArray(texts) : (texts.join(';') + ';').toStdString())
              << std::endl;
}

int Session::status(Ending ending, bool found) {
    if (ending == Ending::LinkLost) return kLinkError;
    return found ? kDone : kNoResult;
}

}  // namespace tarnel::cli
