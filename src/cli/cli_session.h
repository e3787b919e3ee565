#pragma once

#include <QEventLoop>
#include <QObject>
#include <functional>
#include <optional>

#include "cli/gateway_options.h"
#include "ops/results.h"

namespace tarnel {
class GridModel;
class Program;
}  // namespace tarnel

namespace tarnel::cli {

// The exit statuses.
constexpr int kDone = 0, kNoResult = 1, kUsageError = 2, kLinkError = 3;

// What a gateway command runs with once the link is up: the program, the
// options, and the printing of results on standard output.
class Session {
public:
    Session(Program& program, const Options& options) : program_(program), options_(options) {}

    Program& program() const { return program_; }
    const Options& options() const { return options_; }

    // Calls `start`; when it started the operation, waits (in the event
    // loop, without polling) for `sender`'s `signal` and returns its result.
    // Nothing when the operation did not start (its line says why).
    template <typename Sender, typename Result>
    std::optional<Result> await(Sender& sender, void (Sender::*signal)(const Result&),
                                const std::function<bool()>& start) const {
        std::optional<Result> result;
        QEventLoop loop;
        const QMetaObject::Connection connection =
            QObject::connect(&sender, signal, &loop, [&](const Result& ended) {
                if (!result) result = ended;
                loop.quit();
            });
        if (start() && !result) loop.exec();
        QObject::disconnect(connection);
        return result;
    }

    // A grid as the table files write it, or one JSON array of texts a row.
    void printGrid(const GridModel& grid) const;
    // One row of a grid with `headers`.
    void printRow(const QStringList& headers, const QStringList& row) const;
    // The meter grid, or one of its rows; with --records each meter's last
    // telegram follows record by record (a table after the grid, or with
    // --json one object a meter: {"row":[...],"records":[...]}).
    void printMeters(const GridModel& grid) const;
    void printMeter(const QStringList& row) const;
    void printLine(const QString& line) const;
    // Texts as one table-file line ("a;b;"), or with --json one array.
    void printFields(const QStringList& texts) const;

    // The exit status of an operation that ended as `ending` with (`found`)
    // or without its result; what it found is printed before.
    static int status(Ending ending, bool found);

private:
    Program& program_;
    const Options& options_;
};

}  // namespace tarnel::cli
