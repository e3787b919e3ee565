#include "ops/results.h"

#include "mbus/loops_grid.h"

#include <algorithm>

namespace tarnel {

QStringList TableEntryTexts(const TableEntry& entry) {
    QStringList texts;
    for (const std::string& text : DeviceRowTexts(entry.device, SystemDecimalSeparator()))
        texts << QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return texts;
}

QList<int> TableReadResult::unreadEntries() const {
    QList<int> unread;
    for (int entry = 1; entry <= count; ++entry)
        if (std::none_of(entries.begin(), entries.end(),
                         [entry](const TableEntry& read) { return read.number == entry; }))
            unread << entry;
    return unread;
}

QString MissingText(const QString& noun, const QString& nouns, const QList<int>& numbers, int total,
                    const QString& what) {
    constexpr int kNamed = 5;  // a long list is cut: one line
    QString line = numbers.size() == 1 ? noun : nouns;
    for (int i = 0; i < numbers.size() && i < kNamed; ++i)
        line += (i ? ", " : " ") + QString::number(numbers[i]);
    if (numbers.size() > kNamed)
        line += " and " + QString::number(numbers.size() - kNamed) + " more";
    return line + " of " + QString::number(total) +
           (numbers.size() == 1 ? " was not " : " were not ") + what;
}

QString TableShortfall(const TableReadResult& table) {
    if (!table.answered)
        return QStringLiteral("the gateway did not answer the count of its devices");
    const QList<int> unread = table.unreadEntries();
    if (unread.isEmpty()) return {};
    return MissingText("entry", "entries", unread, table.count, "read");
}

QString StatusShortfall(const StatusResult& status) {
    if (status.unanswered.isEmpty()) return {};
    if (status.replies == 0)
        return QStringLiteral("the gateway gave no valid answer to its status read");
    return "the gateway did not answer: " + status.unanswered.join(", ");
}

QString IncompleteLine(const QStringList& shortfalls) {
    QStringList missing = shortfalls;
    missing.removeAll(QString());
    return missing.isEmpty() ? QString() : "Incomplete: " + missing.join("; ");
}

}  // namespace tarnel
