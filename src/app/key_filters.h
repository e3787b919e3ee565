#pragma once

class QWidget;

namespace tarnel {

// The characters each numeric box accepts when typed or pasted: digits, and
// "." in IP addresses, "F" in secondary addresses. Applied to every named
// box under `root`.
void installKeyFilters(QWidget& root);

}  // namespace tarnel
