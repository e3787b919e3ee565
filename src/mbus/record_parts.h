#pragma once

// The pieces DecodeTelegramRecords is made of: the DIF chain and the data
// field (record_dif.cpp), the date codings (record_dates.cpp), the VIF chain
// with its combinable VIFEs (record_vif.cpp) and the two extension tables
// (record_vif_extensions.cpp). The first-record decoder of the meter grid
// reads its data lengths, VIF chain and decimal scales from the same tables.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/hex_text.h"
#include "mbus/telegram_records.h"

namespace tarnel::records {

constexpr size_t kMaxExtensions = 10;  // DIFEs, and VIFEs, a record may have

// How the data of a record are to be read, as its VIF says.
enum class ValueStyle {
    Number,        // a value times the VIF's power of ten
    Digits,        // an identifier: BCD digits kept whole, leading zeros too
    Date,          // date (type G), time of day (J) or date and time (F, I)
    Binary,        // flags: an integer field shown as hex
    Manufacturer,  // the three letters of a manufacturer code
};

// What the VIF and its VIFEs say about a record.
struct VifMeaning {
    std::string quantity;
    std::string unit;
    int exponent = 0;
    ValueStyle style = ValueStyle::Number;
    std::vector<std::string> notes;
};

// What the DIF and its DIFEs say about a record.
struct DataField {
    uint8_t code = 0;  // the DIF's low four bits
    RecordFunction function = RecordFunction::Instantaneous;
    uint64_t storage = 0;
    uint32_t tariff = 0;
    uint32_t subunit = 0;
};

// Where a chain ends, or why it could not be read: `error` says it, or with
// `ranPast` names what ran past the limit ("DIFEs run").
template <typename T>
struct Chain {
    T value{};
    size_t end = 0;
    std::string error;
    bool ranPast = false;
};

// The DIF at `position` and its DIFEs; nothing at or past `limit` is read.
Chain<DataField> ReadDifChain(std::span<const uint8_t> telegram, size_t position, size_t limit);

// The VIF at `position` and its VIFEs (and a plain-text unit), of a record
// whose DIF has `function` (the VIFEs that give the time or duration of the
// record's value name it).
Chain<VifMeaning> ReadVifChain(std::span<const uint8_t> telegram, size_t position, size_t limit,
                               RecordFunction function = RecordFunction::Instantaneous);

// The number of data bytes of a data field code; nothing for the variable
// length code 0xD.
std::optional<size_t> FixedDataLength(uint8_t code);
// The number of bytes an LVAR announces; nothing for a reserved LVAR.
std::optional<size_t> VariableDataLength(uint8_t lvar);

// A record's value and what the coding adds to its note.
struct RecordValue {
    ValueKind kind = ValueKind::None;
    std::string value;
    std::string note;
};

// The value of a record whose data field `code` holds `data` (for the
// variable length code, the LVAR byte first).
RecordValue DecodeRecordValue(uint8_t code, std::span<const uint8_t> data,
                              const VifMeaning& meaning);

// Dates and times from their integer codings: type G (2 bytes), J (3), F (4),
// I (6).
RecordValue DecodeDate(std::span<const uint8_t> data);

// Exact decimal text of a digit string times 10^exponent ("12345", -3 →
// "12.345"); leading zeros dropped, a "-" only for a value that is not 0.
std::string DecimalText(bool negative, std::string digits, int exponent);

std::string HexByte(uint8_t byte);  // "0x1F"

// The VIF tables: the primary table (code 0x00-0x7F) and the extension
// tables after VIF 0xFD and 0xFB (code 0x00-0x7F of the first VIFE). An
// unknown or reserved code gives an "Unknown VIF ..." quantity.
VifMeaning PrimaryVif(uint8_t code);
VifMeaning ExtensionFdVif(uint8_t code);
VifMeaning ExtensionFbVif(uint8_t code);

// A combinable VIFE (code 0x00-0x7F) applied to `meaning` of a record with
// `function`; true when the VIFEs after it are manufacturer specific.
bool ApplyCombinableVife(uint8_t code, RecordFunction function, VifMeaning& meaning);

// Time units of the two low bits: s, min, h, d; and h, d, months, years.
const char* SecondsToDays(uint8_t code);
const char* HoursToYears(uint8_t code);

enum class TimeUnits { None, FromSeconds, FromHours };

// A row of a VIF table: codes `first` to `last`, each a power of ten above the
// one before (from 10^exponentAtFirst), or with a time unit by their two low
// bits.
struct VifRow {
    uint8_t first, last;
    const char* quantity;
    const char* unit;
    int exponentAtFirst = 0;
    ValueStyle style = ValueStyle::Number;
    TimeUnits time = TimeUnits::None;
};

// The row of `rows` holding `code`, or the quantity `unknown`.
VifMeaning LookUpVif(std::span<const VifRow> rows, uint8_t code, std::string unknown);

// ISO 8859-1 characters, sent last first, as UTF-8 in reading order.
std::string Latin1Reversed(std::span<const uint8_t> bytes);

}  // namespace tarnel::records
