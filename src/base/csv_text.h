#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The table files' CSV: every cell followed by ";" (the last one too), a
// cell holding ";", '"', CR or LF put in double quotes with its quotes
// doubled (RFC 4180), and a text a spreadsheet would run as a formula
// written with a leading "'". Cells are bytes: the writer and the reader
// neither check nor change an encoding.
namespace tarnel::csv {

inline constexpr char kSeparator = ';';

// "-12.500", "+3", "-0,25", "1E-3", ".5": an optional sign, digits with at
// most one "." or "," among them, an optional exponent ("E-3"). Such a text
// is a number to a spreadsheet, never a formula.
bool IsNumber(std::string_view text);

// Whether the writer puts a "'" before `text`: a text starting with "=",
// "+", "-", "@", tab or CR that is not a number, or the same behind any
// number of "'" (so that the reader's one "'" less gives back every text).
bool NeedsGuard(std::string_view text);

// One cell as written, without its separator: guarded, then quoted if needed.
std::string Cell(std::string_view text);

// A row of cells, each followed by the separator, then `lineEnd`.
std::string Row(std::span<const std::string> cells, std::string_view lineEnd = "\r\n");

// A cell's text without the writer's guard: one leading "'" less when the
// rest needs the guard, else as it is.
std::string Unguard(std::string_view cell);

// One record read back: the cells each ended by the separator, and the text
// after the last separator (empty when the record ends with one). Quoted
// cells lose their quotes (a doubled quote is one quote; what follows the
// closing quote up to the separator is kept as it is), every cell its guard.
// A quote opens a quoted cell only as the cell's first character.
struct Record {
    std::vector<std::string> cells;
    std::string rest;
};
Record SplitRecord(std::string_view record, char separator = kSeparator);

// Follows a record's text character by character, to tell each one's part
// and whether the text so far ends inside a quoted cell, where a line end
// is part of the cell.
class QuoteScanner {
public:
    enum class Take { Keep, Drop, EndCell };  // cell text, quoting, the cell's end

    explicit QuoteScanner(char separator = kSeparator) : separator_(separator) {}
    Take take(char c);
    void feed(std::string_view text) {
        for (const char c : text)
            take(c);
    }
    bool open() const { return state_ == State::Quoted; }

private:
    enum class State { CellStart, Plain, Quoted, QuoteInQuoted };
    char separator_;
    State state_ = State::CellStart;
};

}  // namespace tarnel::csv
