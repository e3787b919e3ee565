#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarnel::cli {

// `tarnel-cli decode [--json] [--records] [HEX ...]`: each telegram decoded as
// in a primary scan; with --records every data record too. Returns the exit
// status.
int decodeCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);

// `tarnel-cli decode-entry [--json] HEX`: a device-table entry's 14 texts.
int decodeEntryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnel::cli
