#include "base/status_panels.h"

#include "base/owner_thread.h"

namespace tarnel {

void StatusPanels::set(Panel panel, const QString& text) {
    if (QThread::currentThread() != thread()) {
        RunOnOwner(this, [this, panel, text] { set(panel, text); });
        return;
    }
    texts_.at(panel) = text;
    emit changed(panel, text);
}

}  // namespace tarnel
