#include "ops/id_mask.h"

namespace tarnel {

std::optional<IdMask> IdMaskFromText(const QString& text) {
    if (text.size() != 8) return std::nullopt;
    IdMask mask{};
    for (int k = 1; k <= 8; ++k) {
        const QChar c = text.at(8 - k);
        if (c == 'F')
            mask[k - 1] = kWildcard;
        else if (c >= '0' && c <= '9')
            mask[k - 1] = static_cast<uint8_t>(c.unicode() - '0');
        else
            return std::nullopt;
    }
    return mask;
}

std::array<uint8_t, 4> IdBytes(const IdMask& mask) {
    std::array<uint8_t, 4> bytes{};
    for (size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(mask[2 * i + 1] << 4 | mask[2 * i]);
    return bytes;
}

QString MaskText(const IdMask& mask) {
    QString text;
    for (const uint8_t digit : mask)
        text += digit == kWildcard ? QChar('F') : QChar('0' + digit);
    return text;
}

std::vector<int> WildcardPositions(const IdMask& mask) {
    std::vector<int> positions;
    for (int i = 0; i < 8; ++i)
        if (mask[static_cast<size_t>(i)] == kWildcard) positions.push_back(i);
    return positions;
}

}  // namespace tarnel
