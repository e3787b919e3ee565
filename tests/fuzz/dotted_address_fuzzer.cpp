// libFuzzer target over the texts of the network settings: the dotted IP
// address of "Program IP", the setting names of "Select IP setting type:" and
// the "Remote port" box. An address that parses has exactly three dots and
// reads back the same from its own dotted form.
#include "fuzz_input.h"
#include "gateway/gateway_status.h"
#include "link/gateway_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarnel;
    const QString text = QString::fromUtf8(fuzz::Bytes(data, size));
    IpSettingRegister(text);
    TcpPortFromText(text);
    const auto address = ParseDottedAddress(text);
    if (!address) return 0;
    fuzz::Check(text.count('.') == 3);
    const auto& a = *address;
    fuzz::Check(
        ParseDottedAddress(QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3])) ==
        address);
    return 0;
}
