#include "mbus/telegram_records.h"

namespace tarnel {

TelegramRecords DecodeTelegramRecords(std::span<const uint8_t>) {
    return {};
}

const char* RecordFunctionName(RecordFunction function) {
    switch (function) {
        case RecordFunction::Instantaneous:
            return "instantaneous";
        case RecordFunction::Maximum:
            return "maximum";
        case RecordFunction::Minimum:
            return "minimum";
        case RecordFunction::Error:
            return "error";
    }
    return "";
}

}  // namespace tarnel
