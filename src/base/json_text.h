#pragma once

#include <string>
#include <string_view>

namespace tarnel {

// The one JSON string writer of the standard-library side (the decoder runs
// without Qt; everything else writes JSON with Qt's classes).
//
// `utf8` as a quoted JSON string that is valid UTF-8 on one line: `"` and
// `\` escaped, every control character (below 0x20, and 0x7F) as \u00XX.
// A byte that does not begin a well-formed UTF-8 sequence (RFC 3629: the
// shortest form, no surrogates, at most U+10FFFF) is written as U+FFFD and
// the next byte read afresh, as Qt's QString::fromUtf8 reads it.
std::string JsonString(std::string_view utf8);

// Latin-1 text (each byte the code point of its value) as UTF-8: for texts
// known to be Latin-1, such as a telegram's 8-bit characters, before
// JsonString.
std::string Latin1ToUtf8(std::string_view latin1);

}  // namespace tarnel
