#pragma once

#include <string>
#include <vector>

#include "support/hex.h"

namespace tarnel::test {

inline std::vector<uint8_t> telegram(const char* hex) {
    const QByteArray bytes = test::bytes(hex);
    return {bytes.begin(), bytes.end()};
}

// A telegram with one byte changed.
inline std::vector<uint8_t> patched(const char* hex, size_t position, uint8_t value) {
    auto bytes = telegram(hex);
    bytes.at(position) = value;
    return bytes;
}

using Lines = std::vector<std::string>;

}  // namespace tarnel::test
