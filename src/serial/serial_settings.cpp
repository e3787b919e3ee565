#include "serial/serial_settings.h"

namespace tarnel {

int baudrateValue(TBaudrate rate) {
    static constexpr int kValues[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return kValues[rate];
}

void TSerialSettings::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0 && pending_) {
        pending_ = false;
        if (OnChange) OnChange();
    }
}

void TSerialSettings::changed() {
    if (updateCount_ > 0) {
        pending_ = true;
        return;
    }
    if (OnChange) OnChange();
}

}  // namespace tarnel
