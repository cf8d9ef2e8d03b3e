// Tests of String: splitting, number parsing and formatting, booleans, hex.
#include "String.h"

#include <gtest/gtest.h>

TEST(String, SplitDropsEmptyPieces) {
    struct Case {
        const char* text;
        const char* delims;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {",a,,b,", ",", {"a", "b"}},      {"abc", ",", {"abc"}}, {"", ",", {}},
        {"a/b;c", "/;", {"a", "b", "c"}}, {"///", "/", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(String::tokenizeV(c.text, c.delims), c.pieces) << c.text;
        EXPECT_EQ(String::split(c.text, c.delims), c.pieces) << c.text;
        const auto list = String::tokenize(c.text, c.delims);
        EXPECT_EQ(std::vector<std::string>(list.begin(), list.end()), c.pieces) << c.text;
    }
}

TEST(String, ToIntegerBases) {
    struct Case {
        const char* text;
        int base;
        int64_t value;
    };
    const Case cases[] = {
        {"0x1F", 0, 31}, {"017", 0, 15},  {"17", 0, 17},   {"-12", 0, -12},
        {"ff", 16, 255}, {"17", 8, 15},   {"017", 10, 17}, {"abc", 0, 0},
        {"", 0, 0},      {"12ab", 0, 12}, {"017", 3, 17},
    };
    for (const auto& c : cases)
        EXPECT_EQ(String::toInteger(c.text, c.base), c.value) << c.text << " base " << c.base;
}

TEST(String, IsNumeric) {
    EXPECT_TRUE(String::isNumeric("-7"));
    EXPECT_TRUE(String::isNumeric("+3"));
    EXPECT_TRUE(String::isNumeric("0012"));
    EXPECT_FALSE(String::isNumeric("12ab"));
    EXPECT_FALSE(String::isNumeric(""));
    EXPECT_FALSE(String::isNumeric("-"));
    EXPECT_FALSE(String::isNumeric(" 1"));
    EXPECT_FALSE(String::isNumeric("1.5"));
}

TEST(String, ToBool) {
    for (const char* yes : {"yes", "High", "ON", "true", "1", "y", "Yup"})
        EXPECT_TRUE(String::toBool(yes)) << yes;
    for (const char* no : {"0", "", "off", "false", "no", "2", "truex"})
        EXPECT_FALSE(String::toBool(no)) << no;
    EXPECT_EQ(String::fromBool(true), "true");
    EXPECT_EQ(String::fromBool(false), "false");
}

TEST(String, FromIntegerPadsAndPicksBase) {
    EXPECT_EQ(String::fromInteger(255, 16, 4, '0'), "00ff");
    EXPECT_EQ(String::fromInteger(42), "42");
    EXPECT_EQ(String::fromInteger(-5, 10, 4, ' '), "  -5");
    EXPECT_EQ(String::fromInteger(12345, 10, 2, '0'), "12345");
}

TEST(String, DoubleRoundTrips) {
    for (double v : {0.0, 1.5, -2.25, 0.1, 1e300, 123456789.125}) {
        EXPECT_EQ(String::toDouble(String::fromDouble(v)), v) << v;
    }
    EXPECT_EQ(String::fromDouble(1.5), "1.5");
    EXPECT_EQ(String::toDouble("x"), 0.0);
}

TEST(String, FormatShortAndLong) {
    EXPECT_EQ(String::format("%s-%d", "a", 7), "a-7");
    const std::string big(2000, 'x');
    EXPECT_EQ(String::format("[%s]", big.c_str()), "[" + big + "]");
    const std::string edge(511, 'y');
    EXPECT_EQ(String::format("%s", edge.c_str()), edge);
    const std::string over(512, 'z');
    EXPECT_EQ(String::format("%s", over.c_str()), over);
    EXPECT_EQ(String::format("%s", ""), "");
}

TEST(String, ToHexUpperCase) {
    EXPECT_EQ(String::toHex(std::vector<unsigned char>{0x1B, 0x40, 0xFF, 0x00}), "1B40FF00");
    EXPECT_EQ(String::toHex("\x0a", 1), "0A");
    EXPECT_EQ(String::toHex(std::vector<unsigned char>{}), "");
}
