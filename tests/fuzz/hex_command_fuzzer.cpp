// libFuzzer target over the console's hexadecimal command parser and the hex
// text helpers. A command that parses must read back as the same bytes from
// the way the log shows bytes ("01 04 02 ").
#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "base/hex_text.h"
#include "fuzz_input.h"
#include "ops/command_console.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    const QByteArray bytes = fuzz::Bytes(data, size);
    const HexCommand parsed = ParseHexCommand(QString::fromUtf8(bytes));
    if (parsed.error.isEmpty()) {
        const std::string shown =
            HexBytes(std::string_view(parsed.bytes.constData(), parsed.bytes.size()));
        const HexCommand again = ParseHexCommand(QString::fromStdString(shown));
        fuzz::Check(again.error.isEmpty() && again.bytes == parsed.bytes);
    }
    const std::string_view text(bytes.constData(), bytes.size());
    const auto digits = std::count_if(text.begin(), text.end(), IsHexDigit);
    fuzz::Check(HexToBinText(text).size() == static_cast<size_t>(4 * digits));
    try {
        HexText8ToInt(text);
    } catch (const std::invalid_argument&) {
        // not eight hexadecimal digits: refused as documented
    }
    return 0;
}
