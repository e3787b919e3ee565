#include "cli/address_file_command.h"

#include <QSet>
#include <filesystem>
#include <map>

#include "base/dialogs.h"
#include "base/grid_layouts.h"
#include "base/grid_model.h"
#include "base/safe_file.h"
#include "cli/cli_session.h"
#include "gateway/program.h"
#include "gateway/table_files.h"
#include "ops/id_mask.h"
#include "ops/meter_changes.h"
#include "ops/secondary_search.h"

namespace tarnel::cli {
namespace {

// What the table reader would show in a message box: the reason the file
// is refused.
class Refusals final : public Dialogs {
public:
    QString text;

    void warning(const QString&, const QString& shown) override { text = shown; }
    void error(const QString&, const QString& shown) override { text = shown; }
    bool confirm(const QString&, const QString&) override { return false; }
    void message(const QString& shown) override { text = shown; }
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return {}; }
    bool openDocument(const QString&) override { return false; }
};

// A row the change works on: its line in the file, its meter and the
// meter's new address.
struct AddressedRow {
    int line = 0;
    QString id;
    int address = 0;
};

// The meter table as "Load" fills the meter grid: its rows after the header
// row. UsageError when the file cannot be read whole.
QList<QStringList> loadRows(const std::string& path) {
    std::error_code unreadable;
    if (!std::filesystem::is_regular_file(path, unreadable))
        throw UsageError{"no table file " + path};
    GridModel grid(loopsGridLayout().headers);
    Refusals refusals;
    const TableLoad load = LoadMbusGrid(grid, FileNameFromBytes(path), refusals);
    if (load == TableLoad::TooManyRows)
        throw UsageError{path + " has more than " + std::to_string(kMaxTableRows) + " rows"};
    if (load == TableLoad::TooLarge) throw UsageError{path + " is larger than 20 MB"};
    if (load != TableLoad::Loaded)
        throw UsageError{path + ": " + refusals.text.replace('\n', ' ').toStdString()};
    QList<QStringList> rows;
    for (int row = 1; row < grid.rows(); ++row)
        rows << grid.rowTexts(row);
    return rows;
}

// The rows with a number in "Addr " (the others are passed over, as the
// header line of an exported table is). UsageError for an address the
// change would not send, an ID that selects no one meter, or two meters
// given one address: they would collide there.
QList<AddressedRow> addressedRows(const QList<QStringList>& rows, const std::string& path) {
    QList<AddressedRow> addressed;
    std::map<int, AddressedRow> byAddress;
    for (int i = 0; i < rows.size(); ++i) {
        const QString& id = rows[i][0];
        const std::string line = "line " + std::to_string(i + 1) + ": ";
        bool number = false;
        const int address = rows[i][1].toInt(&number);
        if (!number) continue;
        if (address < 1 || address > 250)
            throw UsageError{line +
                             "a new primary address is 1 to 250: " + rows[i][1].toStdString()};
        const std::optional<IdMask> mask = IdMaskFromText(id);
        if (!mask || !WildcardPositions(*mask).empty())
            throw UsageError{line + "the ID is 8 digits: " + id.toStdString()};
        const AddressedRow row{i + 1, id, address};
        const auto [other, added] = byAddress.emplace(address, row);
        if (!added && other->second.id != id)
            throw UsageError{line + "meters " + other->second.id.toStdString() + " (line " +
                             std::to_string(other->second.line) + ") and " + id.toStdString() +
                             " are both given address " + std::to_string(address) +
                             ": two meters at one address collide"};
        addressed << row;
    }
    if (addressed.isEmpty())
        throw UsageError{path + " has no row with an ID and a primary address"};
    return addressed;
}

// Each row as it stands after the change; the lines of the rows whose
// meter did not take its address.
struct Outcome {
    QList<QStringList> rows;
    QList<int> unchanged;
};

Outcome outcome(const GridModel& grid, const QList<AddressedRow>& addressed,
                const QSet<QString>& changed) {
    Outcome result;
    for (const AddressedRow& row : addressed) {
        result.rows << grid.rowTexts(row.line);
        if (!changed.contains(row.id)) result.unchanged << row.line;
    }
    return result;
}

}  // namespace

Runner setAddresses(const Options& options) {
    const QList<QStringList> rows = loadRows(options.positional[0]);
    const QList<AddressedRow> addressed = addressedRows(rows, options.positional[0]);
    const PrimaryScan::Settings settings{
        options.unit, 0, 0, options.scanTimeMs, options.timeoutMs, options.retries};
    return [=](Session& session) {
        Program& program = session.program();
        GridModel& grid = program.gridLoops();
        grid.setRows(static_cast<int>(rows.size()) + 1);
        for (int i = 0; i < rows.size(); ++i)
            grid.setRowTexts(i + 1, rows[i]);
        // The meters that answered at their new address, as set-address
        // judges one.
        QSet<QString> changed;
        const QMetaObject::Connection rowEnded =
            QObject::connect(&program.search(), &SecondarySearch::listed, &program,
                             [&changed](const QString& id) { changed.insert(id); });
        MeterChanges& changes = program.meterChanges();
        const auto result = session.await(changes, &MeterChanges::bulkFinished, [&] {
            return changes.changeAllAddresses(settings).has_value();
        });
        QObject::disconnect(rowEnded);
        if (!result) return kNoResult;
        const Outcome done = outcome(grid, addressed, changed);
        session.printTable(loopsGridLayout().headers, done.rows);
        if (result->ending == Ending::LinkLost) return kLinkError;
        if (!done.unchanged.isEmpty()) {
            Session::note(MissingText("line", "lines", done.unchanged,
                                      static_cast<int>(addressed.size()), "changed")
                              .toStdString());
            return kNoResult;
        }
        return Session::status(result->ending, true);
    };
}

}  // namespace tarnel::cli
