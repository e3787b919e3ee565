#pragma once

#include <QString>
#include <optional>

namespace tarnel {

// The number a digits-only edit box holds: nothing when the box is empty,
// `notANumber` for a text that does not read as one (out of range included).
inline std::optional<int> BoxNumber(const QString& text, int notANumber) {
    if (text.isEmpty()) return std::nullopt;
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok ? number : notANumber;
}

}  // namespace tarnel
