#include "mbus/value_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

namespace tarnel {
namespace {

struct Case {
    int64_t integer;
    double multiplier;
    const char* text;
    char separator = '.';
};

// Worked out by hand.
constexpr Case kCases[] = {
    // Fixed point, 3 decimals, at most 8 significant digits.
    {10000, 0.001, "10.000"},
    {12345678, 1, "12345678.000"},
    {123456789, 0.001, "123456.790"},
    {301, 0.1, "30.100"},
    {99999999, 1, "99999999.000"},
    {1, 0.000001, "0.000"},
    {-1, 0.001, "-0.001"},
    // One rounding at the third decimal, however many digits follow it.
    {1447051523, 0.000001, "1447.052"},  // 1447.051523
    {12346255, 0.0001, "1234.626"},      // 1234.6255
    {1234567, 0.000001, "1.235"},        // 1.234567
    {1234499, 0.000001, "1.234"},        // 1.234499
    {999999, 0.000001, "1.000"},         // 0.999999
    // Exact halves go away from zero.
    {12345, 0.0001, "1.235"},
    {-12345, 0.0001, "-1.235"},
    {5, 0.0001, "0.001"},
    {-5, 0.0001, "-0.001"},
    {4, 0.0001, "0.000"},
    {-4, 0.0001, "0.000"},  // no "-0.000"
    // The eighth significant digit comes before the third decimal.
    {123456785, 0.001, "123456.790"},  // 123456.785
    {-123456785, 0.001, "-123456.790"},
    {123456784, 0.001, "123456.780"},
    {99999999995, 0.0001, "10000000.000"},  // 9999999.9995 carries into an eighth integer digit
    // Exponent form past 8 integer digits.
    {123456789, 1, "1.2345679E8"},
    {123456785, 1, "1.2345679E8"},
    {-123456785, 1, "-1.2345679E8"},
    {123456784, 1, "1.2345678E8"},
    {1000000000, 1, "1E9"},
    {-2147483647, 1, "-2.1474836E9"},
    {INT32_MAX, 1000000, "2.1474836E15"},
    {999999999, 0.1, "1E8"},  // 99999999.9 carries into a ninth digit
    {120000000, 10, "1.2E9"},
    {INT64_MAX, 0.000001, "9.223372E12"},  // 9223372036854.775807
    {INT64_MIN, 1, "-9.223372E18"},
    // Zero, whatever the multiplier; 0 is a device's multiplier before its VIF is read.
    {0, 0.001, "0.000"},
    {0, 1000000, "0.000"},
    {12345, 0, "0.000"},
    // Positive exponents.
    {1234, 1000, "1234000.000"},
    {99, 1000000, "99000000.000"},
    {100, 1000000, "1E8"},
    {123456, 1000, "1.23456E8"},
    // The system's decimal separator.
    {10000, 0.001, "10,000", ','},
    {-12345, 0.0001, "-1,235", ','},
    {123456789, 1, "1,2345679E8", ','},
    {1000000000, 1, "1E9", ','},
};

TEST(FormatScaledValue, HandWorkedValues) {
    for (const Case& c : kCases)
        EXPECT_EQ(FormatScaledValue(c.integer, c.multiplier, c.separator), c.text)
            << c.integer << " x " << c.multiplier;
}

// integer x 10^-k by hand on its decimal digits: put the point back, keep up to
// the eighth significant digit or the third decimal, and round up when the
// first digit dropped is 5 or more. Fixed-point results only.
std::string exactText(int64_t integer, int k) {
    std::string digits = std::to_string(integer < 0 ? -integer : integer);
    if (digits.size() < static_cast<size_t>(k) + 1) digits.insert(0, k + 1 - digits.size(), '0');
    size_t point = digits.size() - k;
    const size_t first = digits.find_first_not_of('0');
    const size_t keep = first == std::string::npos ? digits.size() : std::min(first + 8, point + 3);
    std::string kept = digits.substr(0, keep);
    if (keep < digits.size() && digits[keep] >= '5') {
        size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9')
            kept[--i] = '0';
        if (i == 0) {
            kept.insert(0, "1");
            ++point;
        } else {
            ++kept[i - 1];
        }
    }
    kept.resize(point + 3, '0');
    std::string whole = kept.substr(0, point);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    const std::string text = whole + "." + kept.substr(point);
    return integer < 0 && text != "0.000" ? "-" + text : text;
}

constexpr double kNegativePowers[] = {1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6};

TEST(FormatScaledValue, EveryValueUpTo200000AtEveryNegativePower) {
    for (int k = 1; k <= 6; ++k) {
        for (int64_t integer = -200000; integer <= 200000; ++integer) {
            const std::string text = FormatScaledValue(integer, kNegativePowers[k - 1]);
            if (text != exactText(integer, k)) {
                ADD_FAILURE() << integer << " x 10^-" << k << ": " << text;
                return;
            }
        }
    }
}

TEST(FormatScaledValue, EveryValueAroundTenMillionAtEveryNegativePower) {
    // 9999999.9.. to 10000000.1..: the cut at the eighth significant digit and
    // its carry into an eighth integer digit.
    for (int k = 1; k <= 6; ++k) {
        int64_t tenMillion = 10000000;
        for (int i = 0; i < k; ++i)
            tenMillion *= 10;
        for (int64_t integer = tenMillion - 100000; integer <= tenMillion + 100000; ++integer) {
            const std::string text = FormatScaledValue(integer, kNegativePowers[k - 1]);
            if (text != exactText(integer, k)) {
                ADD_FAILURE() << integer << " x 10^-" << k << ": " << text;
                return;
            }
        }
    }
}

TEST(FormatValue, SumsOfTwoValueTextsRoundOnTheirDecimalDigits) {
    // A "ZPA" meter's two records added: 123456.785 exactly, a half at the cut.
    EXPECT_EQ(FormatValue(ParseValueText("61728.392") + ParseValueText("61728.393")), "123456.790");
    EXPECT_EQ(FormatValue(ParseValueText("-61728.392") + ParseValueText("-61728.393")),
              "-123456.790");
    EXPECT_EQ(FormatValue(ParseValueText("1.2345679E8") + ParseValueText("0.001")), "1.2345679E8");
    EXPECT_EQ(FormatValue(ParseValueText("10,000", ',') + ParseValueText("0,500", ','), ','),
              "10,500");
    EXPECT_EQ(FormatValue(0), "0.000");
}

TEST(ParseValueText, ReadsFormattedValuesBack) {
    EXPECT_DOUBLE_EQ(static_cast<double>(ParseValueText("2.500")), 2.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(ParseValueText("2,500", ',')), 2.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(ParseValueText("1E9")), 1e9);
    EXPECT_EQ(ParseValueText(""), 0);
    EXPECT_EQ(ParseValueText("n/a"), 0);
}

}  // namespace
}  // namespace tarnel
