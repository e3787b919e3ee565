#include "base/status_panels.h"

namespace tarnel {

void StatusPanels::set(Panel panel, const QString& text) {
    texts_.at(panel) = text;
    emit changed(panel, text);
}

}  // namespace tarnel
