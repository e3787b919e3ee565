#include "base/csv_text.h"

namespace tarnel::csv {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// What a spreadsheet starts a formula with (tab and CR: some strip them
// first and then see the formula).
bool formulaStart(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// The digits from `at` on; `at` ends after them.
size_t skipDigits(std::string_view text, size_t& at) {
    const size_t start = at;
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at - start;
}

}  // namespace

bool IsNumber(std::string_view text) {
    size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    size_t digits = skipDigits(text, at);
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        ++at;
        digits += skipDigits(text, at);
    }
    if (digits == 0) return false;
    if (at < text.size() && (text[at] == 'E' || text[at] == 'e')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        if (skipDigits(text, at) == 0) return false;
    }
    return at == text.size();
}

bool NeedsGuard(std::string_view text) {
    const size_t start = text.find_first_not_of('\'');
    if (start == std::string_view::npos) return false;
    const std::string_view rest = text.substr(start);
    return formulaStart(rest.front()) && !IsNumber(rest);
}

std::string Cell(std::string_view text) {
    std::string cell = NeedsGuard(text) ? "'" : "";
    cell += text;
    if (cell.find_first_of(";\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (const char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string Row(std::span<const std::string> cells, std::string_view lineEnd) {
    std::string row;
    for (const std::string& cell : cells)
        row += Cell(cell) + kSeparator;
    row += lineEnd;
    return row;
}

std::string Unguard(std::string_view cell) {
    if (cell.starts_with('\'') && NeedsGuard(cell.substr(1))) cell.remove_prefix(1);
    return std::string(cell);
}

QuoteScanner::Take QuoteScanner::take(char c) {
    switch (state_) {
        case State::CellStart:
            if (c == '"') {
                state_ = State::Quoted;
                return Take::Drop;
            }
            [[fallthrough]];
        case State::Plain:
            state_ = c == separator_ ? State::CellStart : State::Plain;
            return c == separator_ ? Take::EndCell : Take::Keep;
        case State::Quoted:
            if (c != '"') return Take::Keep;
            state_ = State::QuoteInQuoted;
            return Take::Drop;
        case State::QuoteInQuoted:
            if (c == '"') {  // a doubled quote: one quote
                state_ = State::Quoted;
                return Take::Keep;
            }
            state_ = c == separator_ ? State::CellStart : State::Plain;
            return c == separator_ ? Take::EndCell : Take::Keep;
    }
    return Take::Keep;
}

Record SplitRecord(std::string_view record, char separator) {
    Record split;
    std::string cell;
    QuoteScanner scanner(separator);
    for (const char c : record) {
        const QuoteScanner::Take take = scanner.take(c);
        if (take == QuoteScanner::Take::Keep) {
            cell += c;
        } else if (take == QuoteScanner::Take::EndCell) {
            split.cells.push_back(Unguard(cell));
            cell.clear();
        }
    }
    split.rest = Unguard(cell);
    return split;
}

}  // namespace tarnel::csv
