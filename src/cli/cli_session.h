#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "cli/gateway_options.h"
#include "cli/interrupt.h"
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
    // `interrupt` (may be null): Ctrl-C, which stops the operation that runs.
    Session(Program& program, const Options& options, const Interrupt* interrupt = nullptr)
        : program_(program), options_(options), interrupt_(interrupt) {}

    Program& program() const { return program_; }
    const Options& options() const { return options_; }
    bool interrupted() const { return interrupt_ && interrupt_->raised(); }

    // Calls `start`; when it started the operation, waits (in the event
    // loop, without polling) for `sender`'s `signal` and returns its result.
    // Nothing when the operation did not start (its line says why), or when
    // Ctrl-C came before it or it did not end within a second of Ctrl-C.
    // An operation logs as it goes: one that says nothing for longer than
    // its own times allow (`quietBoundMs`) has hung, and is stopped as
    // Ctrl-C stops it, with a line.
    template <typename Sender, typename Result>
    std::optional<Result> await(Sender& sender, void (Sender::*signal)(const Result&),
                                const std::function<bool()>& start) const {
        std::optional<Result> result;
        if (interrupted()) return result;
        QEventLoop loop;
        const QMetaObject::Connection connection =
            QObject::connect(&sender, signal, &loop, [&](const Result& ended) {
                if (!result) result = ended;
                loop.quit();
            });
        QTimer lastChance;
        lastChance.setSingleShot(true);
        QObject::connect(&lastChance, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (interrupt_)
            QObject::connect(interrupt_, &Interrupt::stopAsked, &lastChance,
                             [&lastChance] { lastChance.start(1000); });
        QTimer quiet;
        watchProgress(quiet, lastChance);
        if (start() && !result) loop.exec();
        QObject::disconnect(connection);
        return result;
    }

    // The longest an operation with these options may go without a log
    // line: each of its waits (the scan time, the time-out, the settle
    // after an unanswered request) several times over, and a margin.
    int quietBoundMs() const;
    // A command whose one reply comes only after the gateway's own long work
    // (its search of the bus) may be quiet for `ms`: the bound grows to it.
    void allowQuiet(int ms) { allowedQuietMs_ = ms; }

    // Rows under `headers` as the table files write them, or one JSON array
    // of texts a row (no header).
    // `openRow`: the CSV ends in one empty row, as the export of a grid that
    // is being filled does.
    void printTable(const QStringList& headers, const QList<QStringList>& rows,
                    bool openRow = false) const;
    // A grid's rows that hold any text, as above.
    void printGrid(const GridModel& grid) const;
    // One row of a grid with `headers`.
    void printRow(const QStringList& headers, const QStringList& row) const;
    // Meters as the meter grid lists them; with --records each meter's
    // telegram follows record by record (a table after the meters, or with
    // --json one object a meter: {"row":[...],"records":[...]}).
    // A scan's or search's list ends in its open row, as the grid's export.
    void printMeters(const QList<MeterRow>& meters, bool openRow) const;
    void printLine(const QString& line) const;
    // Texts as one table-file line ("a;b;"), or with --json one array.
    void printFields(const QStringList& texts) const;

    // The exit status of an operation that ended as `ending` with (`found`)
    // or without its result; what it found is printed before. A stop for a
    // silent gateway is 1, its line in the log.
    static int status(Ending ending, bool found);
    // A table read-out's status (`found`: what the command wanted of it):
    // 1, with its line, when the gateway did not answer the count or an
    // entry the count names was not read.
    static int tableStatus(const TableReadResult& result, bool found);
    // One line on standard error, "tarnel-cli: " first, whatever -q says:
    // why a command exits 1.
    static void note(const std::string& line);

private:
    // Arms `quiet` for quietBoundMs(), again at every log line; when it
    // fires, every operation is stopped and `lastChance` started.
    void watchProgress(QTimer& quiet, QTimer& lastChance) const;

    Program& program_;
    const Options& options_;
    const Interrupt* interrupt_;
    int allowedQuietMs_ = 0;
};

}  // namespace tarnel::cli
