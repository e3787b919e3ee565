// The VIF and its VIFEs: the primary VIF table, the chain of extension bytes
// (bit 7 of the VIF and of each VIFE says another VIFE follows) and the
// combinable VIFEs that refine a primary or extended VIF.
#include "mbus/record_parts.h"

namespace tarnel::records {
namespace {

using enum ValueStyle;
using enum TimeUnits;

// Code E (extension bit) then seven bits; the codes not listed are reserved
// or, as 0x7B, 0x7C, 0x7D, taken apart by the chain.
constexpr VifRow kPrimaryRows[] = {
    {0x00, 0x07, "Energy", "Wh", -3},
    {0x08, 0x0F, "Energy", "J", 0},
    {0x10, 0x17, "Volume", "m3", -6},
    {0x18, 0x1F, "Mass", "kg", -3},
    {0x20, 0x23, "On time", "", 0, Number, FromSeconds},
    {0x24, 0x27, "Operating time", "", 0, Number, FromSeconds},
    {0x28, 0x2F, "Power", "W", -3},
    {0x30, 0x37, "Power", "J/h", 0},
    {0x38, 0x3F, "Volume flow", "m3/h", -6},
    {0x40, 0x47, "Volume flow", "m3/min", -7},
    {0x48, 0x4F, "Volume flow", "m3/s", -9},
    {0x50, 0x57, "Mass flow", "kg/h", -3},
    {0x58, 0x5B, "Flow temperature", "°C", -3},
    {0x5C, 0x5F, "Return temperature", "°C", -3},
    {0x60, 0x63, "Temperature difference", "K", -3},
    {0x64, 0x67, "External temperature", "°C", -3},
    {0x68, 0x6B, "Pressure", "bar", -3},
    {0x6C, 0x6C, "Date", "", 0, Date},
    {0x6D, 0x6D, "Date and time", "", 0, Date},
    {0x6E, 0x6E, "Units for H.C.A.", "", 0},
    {0x70, 0x73, "Averaging duration", "", 0, Number, FromSeconds},
    {0x74, 0x77, "Actuality duration", "", 0, Number, FromSeconds},
    {0x78, 0x78, "Fabrication number", "", 0, Digits},
    {0x79, 0x79, "Enhanced identification", "", 0, Digits},
    {0x7A, 0x7A, "Bus address", "", 0},
    {0x7E, 0x7E, "Any VIF", "", 0},
    {0x7F, 0x7F, "Manufacturer specific", "", 0},
};

// The record error codes a slave sends as VIFE 0x00-0x1F; null: reserved.
constexpr const char* kErrors[32] = {
    "none",
    "too many DIFEs",
    "storage number not implemented",
    "unit number not implemented",
    "tariff number not implemented",
    "function not implemented",
    "data class not implemented",
    "data size not implemented",
    nullptr,
    nullptr,
    nullptr,
    "too many VIFEs",
    "illegal VIF group",
    "illegal VIF exponent",
    "VIF/DIF mismatch",
    "unimplemented action",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "no data available (undefined value)",
    "data overflow",
    "data underflow",
    "data error",
    nullptr,
    nullptr,
    nullptr,
    "premature end of record",
    nullptr,
    nullptr,
    nullptr,
};

// VIFEs 0x20-0x3C: what they add to the note.
constexpr const char* kPerUnits[] = {
    "per second",
    "per minute",
    "per hour",
    "per day",
    "per week",
    "per month",
    "per year",
    "per revolution / measurement",
    "increment per input pulse on channel 0",
    "increment per input pulse on channel 1",
    "increment per output pulse on channel 0",
    "increment per output pulse on channel 1",
    "per litre",
    "per m3",
    "per kg",
    "per K",
    "per kWh",
    "per GJ",
    "per kW",
    "per K*l",
    "per V",
    "per A",
    "multiplied by s",
    "multiplied by s/V",
    "multiplied by s/A",
    nullptr,  // 0x39: the value is a start time
    "uncorrected unit",
    "accumulation only if positive contributions",
    "accumulation of abs value only if negative contributions",
};

std::string powerOfTen(int exponent) {
    return "10^" + std::to_string(exponent);
}

// A VIFE that makes the value something else: what it now is follows the
// quantity ("Volume, number of exceeds of upper limit").
void valueIs(const std::string& what, VifMeaning& meaning) {
    meaning.quantity += ", " + what;
}

// A date or time (types G, J, F, I by the data field): no unit, no scale.
void isTimePoint(const std::string& what, VifMeaning& meaning) {
    valueIs("time of " + what, meaning);
    meaning.style = ValueStyle::Date;
    meaning.unit.clear();
    meaning.exponent = 0;
}

// A duration, in the unit of the VIFE's two low bits.
void isDuration(const std::string& what, uint8_t code, VifMeaning& meaning) {
    valueIs("duration of " + what, meaning);
    meaning.style = ValueStyle::Number;
    meaning.unit = SecondsToDays(code);
    meaning.exponent = 0;
}

std::string beginOrEnd(uint8_t code) {
    return code & 0x01 ? "end" : "begin";
}

std::string firstOrLast(uint8_t code) {
    return code & 0x04 ? "last" : "first";
}

// VIFEs E100 uxxx and E101 ufnn: limit values and their exceeds, u upper or
// lower limit, f first or last exceed, b its begin or end, nn the unit of a
// duration.
void applyLimitVife(uint8_t code, VifMeaning& meaning) {
    const std::string limit = code & 0x08 ? "upper limit" : "lower limit";
    const std::string exceed = firstOrLast(code) + " exceed of " + limit;
    if (code >= 0x50) return isDuration(exceed, code, meaning);
    switch (code & 0x07) {
        case 0:
            return valueIs(limit + " value", meaning);
        case 1:
            valueIs("number of exceeds of " + limit, meaning);
            meaning.style = ValueStyle::Number;
            meaning.unit.clear();
            meaning.exponent = 0;
            return;
        case 4:
        case 5:
            meaning.notes.push_back("Unknown VIFE " + HexByte(code));
            return;
        default:
            isTimePoint(beginOrEnd(code) + " of " + exceed, meaning);
    }
}

// What the function field makes of the record's value.
const char* functionWord(RecordFunction function) {
    switch (function) {
        case RecordFunction::Instantaneous:
            return "value";
        case RecordFunction::Maximum:
            return "maximum";
        case RecordFunction::Minimum:
            return "minimum";
        case RecordFunction::Error:
            return "value during error state";
    }
    return "value";
}

// VIFEs E110 0fnn and E110 1f1b: the duration, or the time of the begin or
// end, of the first or last of the record's values (its maximum, minimum,
// ...); E110 1f0b are reserved.
void applyValueTimeVife(uint8_t code, RecordFunction function, VifMeaning& meaning) {
    const std::string value = firstOrLast(code) + " " + functionWord(function);
    if (!(code & 0x08)) return isDuration(value, code, meaning);
    if (!(code & 0x02)) {
        meaning.notes.push_back("Unknown VIFE " + HexByte(code));
        return;
    }
    isTimePoint(beginOrEnd(code) + " of " + value, meaning);
}

// The text of a plain-text VIF: a length byte, then the characters last first.
Chain<std::string> readPlainText(std::span<const uint8_t> telegram, size_t position, size_t limit) {
    Chain<std::string> chain;
    if (position >= limit || position + 1 + telegram[position] > limit) {
        chain.error = "plain-text unit runs";
        chain.ranPast = true;
        return chain;
    }
    chain.value = Latin1Reversed(telegram.subspan(position + 1, telegram[position]));
    chain.end = position + 1 + telegram[position];
    return chain;
}

// The VIF proper: the primary table, an extension table (its code in the
// first VIFE) or a plain-text unit; `end` is where the VIFEs would start.
Chain<VifMeaning> readVif(std::span<const uint8_t> telegram, size_t position, size_t limit) {
    Chain<VifMeaning> chain;
    const uint8_t vif = telegram[position];
    chain.end = position + 1;
    if (vif == 0xFB || vif == 0xFD) {
        if (chain.end >= limit) {
            chain.error = "VIFEs run";
            chain.ranPast = true;
            return chain;
        }
        const uint8_t code = telegram[chain.end++] & 0x7F;
        chain.value = vif == 0xFD ? ExtensionFdVif(code) : ExtensionFbVif(code);
    } else if ((vif & 0x7F) == 0x7C) {
        const Chain<std::string> text = readPlainText(telegram, chain.end, limit);
        if (!text.error.empty()) return {{}, 0, text.error, text.ranPast};
        chain.value.quantity = "Plain text VIF";
        chain.value.unit = text.value;
        chain.end = text.end;
    } else {
        chain.value = PrimaryVif(vif & 0x7F);
    }
    return chain;
}

}  // namespace

const char* SecondsToDays(uint8_t code) {
    static constexpr const char* kUnits[] = {"s", "min", "h", "d"};
    return kUnits[code & 0x03];
}

const char* HoursToYears(uint8_t code) {
    static constexpr const char* kUnits[] = {"h", "d", "months", "years"};
    return kUnits[code & 0x03];
}

VifMeaning LookUpVif(std::span<const VifRow> rows, uint8_t code, std::string unknown) {
    for (const VifRow& row : rows) {
        if (code < row.first || code > row.last) continue;
        VifMeaning meaning{row.quantity, row.unit, row.exponentAtFirst, row.style, {}};
        if (row.time == TimeUnits::FromSeconds) meaning.unit = SecondsToDays(code);
        if (row.time == TimeUnits::FromHours) meaning.unit = HoursToYears(code);
        if (row.time == TimeUnits::None) meaning.exponent += code - row.first;
        return meaning;
    }
    return {std::move(unknown), "", 0, ValueStyle::Number, {}};
}

VifMeaning PrimaryVif(uint8_t code) {
    return LookUpVif(kPrimaryRows, code, "Unknown VIF " + HexByte(code));
}

bool ApplyCombinableVife(uint8_t code, RecordFunction function, VifMeaning& meaning) {
    if (code <= 0x1F) {
        meaning.notes.push_back(kErrors[code] ? std::string("error: ") + kErrors[code]
                                              : "error code " + HexByte(code));
    } else if (code == 0x39) {
        isTimePoint("start", meaning);
    } else if (code <= 0x3C) {
        meaning.notes.push_back(kPerUnits[code - 0x20]);
    } else if (code >= 0x40 && code <= 0x5F) {
        applyLimitVife(code, meaning);
    } else if (code >= 0x60 && code <= 0x6F) {
        applyValueTimeVife(code, function, meaning);
    } else if (code >= 0x70 && code <= 0x77) {
        meaning.exponent += (code & 0x07) - 6;
        meaning.notes.push_back("multiplicative correction " + powerOfTen((code & 0x07) - 6));
    } else if (code >= 0x78 && code <= 0x7B) {
        const std::string unit = meaning.unit.empty() ? "" : " " + meaning.unit;
        meaning.notes.push_back("additive correction constant " + powerOfTen((code & 0x03) - 3) +
                                unit);
    } else if (code == 0x7D) {
        meaning.exponent += 3;
        meaning.notes.push_back("multiplicative correction 10^3");
    } else if (code == 0x7E) {
        meaning.notes.push_back("future value");
    } else if (code == 0x7F) {
        meaning.notes.push_back("manufacturer specific VIFEs");
        return true;
    } else {
        meaning.notes.push_back("Unknown VIFE " + HexByte(code));
    }
    return false;
}

Chain<VifMeaning> ReadVifChain(std::span<const uint8_t> telegram, size_t position, size_t limit,
                               RecordFunction function) {
    if (position >= limit) return {{}, 0, "VIF runs", true};
    Chain<VifMeaning> chain = readVif(telegram, position, limit);
    if (!chain.error.empty()) return chain;
    // The VIFEs a manufacturer-specific VIF or VIFE is followed by are its own.
    bool manufacturerVifes = (telegram[position] & 0x7F) == 0x7F;
    // An extension table's code is the first VIFE and says whether more follow.
    const bool tableCode = telegram[position] == 0xFB || telegram[position] == 0xFD;
    bool extended = (tableCode ? telegram[chain.end - 1] : telegram[position]) & 0x80;
    for (size_t vifes = tableCode ? 1 : 0; extended; ++vifes) {
        if (vifes == kMaxExtensions) return {{}, 0, "more than 10 VIFEs", false};
        if (chain.end >= limit) return {{}, 0, "VIFEs run", true};
        const uint8_t vife = telegram[chain.end++];
        extended = vife & 0x80;
        if (!manufacturerVifes)
            manufacturerVifes = ApplyCombinableVife(vife & 0x7F, function, chain.value);
    }
    return chain;
}

}  // namespace tarnel::records
