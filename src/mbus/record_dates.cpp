// The date and time codings of the M-Bus: type G (date, 16 bits), type J
// (time of day, 24 bits), type F (date and time to the minute, 32 bits) and
// type I (date and time to the second, 48 bits). In G, F and I the day takes
// five bits with the year's three low bits above it, and the month four bits
// with the year's four high bits above it.
#include <cstdio>

#include "mbus/record_parts.h"

namespace tarnel::records {
namespace {

bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int month, int year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

// The year of a two-digit year and type F's hundred-year bits: 1900 + 100 x
// hundreds + the two digits. Without hundreds, the two digits 0..80 are
// 2000..2080, as meters that count their years round in two digits mean them.
int fullYear(int twoDigits, int hundreds) {
    if (hundreds == 0 && twoDigits <= 80) return 2000 + twoDigits;
    return 1900 + 100 * hundreds + twoDigits;
}

// "YYYY-MM-DD" from the day byte and the month byte; "" for a date that does
// not exist.
std::string dateText(uint8_t dayByte, uint8_t monthByte, int hundreds = 0) {
    const int day = dayByte & 0x1F;
    const int month = monthByte & 0x0F;
    const int twoDigits = dayByte >> 5 | (monthByte >> 4) << 3;
    if (twoDigits > 99 || month < 1 || month > 12) return "";
    const int year = fullYear(twoDigits, hundreds);
    if (day < 1 || day > daysInMonth(month, year)) return "";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

// "HH:MM" (and ":SS" when `second` is not negative); "" when any part is out
// of range.
std::string timeText(int hour, int minute, int second) {
    if (hour > 23 || minute > 59 || second > 59) return "";
    char text[40];  // room for any int, so the compiler sees nothing cut
    if (second < 0)
        std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

const char* const kInvalidDateTime = "invalid date and time";

// The date followed by "T" and the time.
RecordValue dateTime(const std::string& date, const std::string& time, bool summer) {
    if (date.empty() || time.empty()) return {ValueKind::None, "", kInvalidDateTime};
    return {ValueKind::DateTime, date + "T" + time, summer ? "summer time" : ""};
}

// Bit 7 of the first byte (types F and I) marks the time invalid; bit 7 of
// the hour byte (F) or of the minute byte (I) marks summer time.
RecordValue typeF(std::span<const uint8_t> data) {
    if (data[0] & 0x80) return {ValueKind::None, "", kInvalidDateTime};
    return dateTime(dateText(data[2], data[3], data[1] >> 5 & 0x03),
                    timeText(data[1] & 0x1F, data[0] & 0x3F, -1), data[1] & 0x80);
}

RecordValue typeI(std::span<const uint8_t> data) {
    if (data[0] & 0x80) return {ValueKind::None, "", kInvalidDateTime};
    return dateTime(dateText(data[3], data[4]),
                    timeText(data[2] & 0x1F, data[1] & 0x3F, data[0] & 0x3F), data[1] & 0x80);
}

RecordValue typeJ(std::span<const uint8_t> data) {
    const std::string time = timeText(data[2] & 0x1F, data[1] & 0x3F, data[0] & 0x3F);
    if (time.empty()) return {ValueKind::None, "", "invalid time"};
    return {ValueKind::Time, time, ""};
}

}  // namespace

RecordValue DecodeDate(std::span<const uint8_t> data) {
    switch (data.size()) {
        case 2: {
            const std::string date = dateText(data[0], data[1]);
            if (date.empty()) return {ValueKind::None, "", "invalid date"};
            return {ValueKind::Date, date, ""};
        }
        case 3:
            return typeJ(data);
        case 4:
            return typeF(data);
        case 6:
            return typeI(data);
        default:
            return {ValueKind::None, "",
                    "no date coding in " + std::to_string(data.size()) + " bytes"};
    }
}

}  // namespace tarnel::records
