#include "mbus/value_format.h"

#include <gtest/gtest.h>

#include <climits>

namespace tarnel {
namespace {

TEST(FormatScaledValue, FixedPointWithThreeDecimalsAndEightSignificantDigits) {
    EXPECT_EQ(FormatScaledValue(10000, 0.001), "10.000");
    EXPECT_EQ(FormatScaledValue(12345678, 1), "12345678.000");
    EXPECT_EQ(FormatScaledValue(123456789, 0.001), "123456.790");
    EXPECT_EQ(FormatScaledValue(0, 0.001), "0.000");
    EXPECT_EQ(FormatScaledValue(-1, 0.001), "-0.001");
    EXPECT_EQ(FormatScaledValue(301, 0.1), "30.100");
    EXPECT_EQ(FormatScaledValue(1, 0.000001), "0.000");
    EXPECT_EQ(FormatScaledValue(99999999, 1), "99999999.000");
}

TEST(FormatScaledValue, ExponentFormPastEightIntegerDigits) {
    EXPECT_EQ(FormatScaledValue(123456789, 1), "1.2345679E8");
    EXPECT_EQ(FormatScaledValue(1000000000, 1), "1E9");
    EXPECT_EQ(FormatScaledValue(-2147483647, 1), "-2.1474836E9");
    EXPECT_EQ(FormatScaledValue(INT32_MAX, 1000000), "2.1474836E15");
    EXPECT_EQ(FormatScaledValue(999999999, 0.1), "1E8") << "rounding carries into a ninth digit";
}

TEST(FormatScaledValue, TheSystemsDecimalSeparator) {
    EXPECT_EQ(FormatScaledValue(10000, 0.001, ','), "10,000");
    EXPECT_EQ(FormatScaledValue(123456789, 1, ','), "1,2345679E8");
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
