// The date codings of the M-Bus: type G (date, 16 bits), type F (date and
// time to the minute, 32 bits) and type I (date and time to the second,
// 48 bits). In each the day takes five bits with the year's three low bits
// above it, and the month four bits with the year's four high bits above it.
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

// "YYYY-MM-DD" from the day byte and the month byte; "" for a date that does
// not exist. Two-digit years 81..99 are 1981..1999, 0..80 are 2000..2080.
std::string dateText(uint8_t dayByte, uint8_t monthByte) {
    const int day = dayByte & 0x1F;
    const int month = monthByte & 0x0F;
    const int twoDigitYear = dayByte >> 5 | (monthByte >> 4) << 3;
    if (twoDigitYear > 99 || month < 1 || month > 12) return "";
    const int year = twoDigitYear >= 81 ? 1900 + twoDigitYear : 2000 + twoDigitYear;
    if (day < 1 || day > daysInMonth(month, year)) return "";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

// The date followed by "THH:MM" (and ":SS" when `second` is not negative);
// "" when any part is out of range.
std::string dateTimeText(const std::string& date, int hour, int minute, int second) {
    if (date.empty() || hour > 23 || minute > 59 || second > 59) return "";
    char text[40];  // room for any int, so the compiler sees nothing cut
    if (second < 0)
        std::snprintf(text, sizeof text, "T%02d:%02d", hour, minute);
    else
        std::snprintf(text, sizeof text, "T%02d:%02d:%02d", hour, minute, second);
    return date + text;
}

RecordValue dateTime(const std::string& text, std::string note) {
    if (text.empty()) return {ValueKind::None, "", "invalid date and time"};
    return {ValueKind::DateTime, text, std::move(note)};
}

}  // namespace

RecordValue DecodeDate(std::span<const uint8_t> data) {
    switch (data.size()) {
        case 2: {
            const std::string date = dateText(data[0], data[1]);
            if (date.empty()) return {ValueKind::None, "", "invalid date"};
            return {ValueKind::Date, date, ""};
        }
        case 4:
            // Minute byte: bit 7 marks the time invalid. Hour byte: bit 7
            // marks summer time.
            if (data[0] & 0x80) return {ValueKind::None, "", "invalid date and time"};
            return dateTime(
                dateTimeText(dateText(data[2], data[3]), data[1] & 0x1F, data[0] & 0x3F, -1),
                data[1] & 0x80 ? "summer time" : "");
        case 6:
            return dateTime(dateTimeText(dateText(data[3], data[4]), data[2] & 0x1F, data[1] & 0x3F,
                                         data[0] & 0x3F),
                            "");
        default:
            return {ValueKind::None, "",
                    "no date coding in " + std::to_string(data.size()) + " bytes"};
    }
}

}  // namespace tarnel::records
