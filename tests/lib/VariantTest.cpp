// Variant: constructors, type tags, texts, conversions and JSON form.
#include "Variant.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ConstructCase {
    const char* what;
    Variant value;
    Variant::Type type;
    std::string text;
};

TEST(VariantTest, ConstructorsStoreTextAndType) {
    const std::vector<ConstructCase> cases = {
        {"default", Variant(), Variant::Null, ""},
        {"std::string", Variant(std::string("abc")), Variant::String, "abc"},
        {"const char*", Variant("hello world"), Variant::String, "hello world"},
        {"empty const char*", Variant(""), Variant::String, ""},
        {"null const char*", Variant(static_cast<const char*>(nullptr)), Variant::String, ""},
        {"explicit type", Variant("12", Variant::UInt), Variant::UInt, "12"},
        {"explicit type unchecked", Variant("abc", Variant::Bool), Variant::Bool, "abc"},
        {"char", Variant('A'), Variant::Int, "65"},
        {"signed char", Variant(static_cast<signed char>(-5)), Variant::Int, "-5"},
        {"short", Variant(static_cast<short>(-300)), Variant::Int, "-300"},
        {"int", Variant(5), Variant::Int, "5"},
        {"negative int", Variant(-42), Variant::Int, "-42"},
        {"long", Variant(static_cast<long>(INT64_MIN)), Variant::Int, "-9223372036854775808"},
        {"long long", Variant(1234567890123LL), Variant::Int, "1234567890123"},
        {"unsigned char", Variant(static_cast<unsigned char>(200)), Variant::UInt, "200"},
        {"unsigned short", Variant(static_cast<unsigned short>(65535)), Variant::UInt, "65535"},
        {"unsigned int", Variant(5u), Variant::UInt, "5"},
        {"unsigned long", Variant(static_cast<unsigned long>(UINT64_MAX)), Variant::UInt,
         "18446744073709551615"},
        {"unsigned long long", Variant(7ULL), Variant::UInt, "7"},
        {"double", Variant(1.5), Variant::Double, "1.5"},
        {"double 0.1", Variant(0.1), Variant::Double, "0.1"},
        {"double 1/3", Variant(1.0 / 3.0), Variant::Double, "0.3333333333333333"},
        {"whole double", Variant(2.0), Variant::Double, "2"},
        {"true", Variant(true), Variant::Bool, "true"},
        {"false", Variant(false), Variant::Bool, "false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.value.type(), c.type);
        EXPECT_EQ(c.value.toString(), c.text);
        EXPECT_EQ(static_cast<std::string>(c.value), c.text);
        EXPECT_EQ(c.value.isNull(), c.type == Variant::Null);
    }
}

TEST(VariantTest, DoubleTextIsStringFromDouble) {
    // The shortest of 15 to 17 significant digits that reads back as the same double.
    EXPECT_EQ(Variant(0.25).toString(), "0.25");
    EXPECT_DOUBLE_EQ(Variant(3.14159).toDouble(), 3.14159);
    EXPECT_EQ(Variant(-1e300).toDouble(), -1e300);
}

TEST(VariantTest, MapConstructorDumpsCompactJson) {
    VariantMap map;
    map["b"] = Variant(1);
    map["a/x"] = Variant("y");
    const Variant v(map);
    EXPECT_EQ(v.type(), Variant::Map);
    EXPECT_EQ(v.toString(), R"({"a":{"x":"y"},"b":1})");
    EXPECT_EQ(Variant(VariantMap()).toString(), "null");
}

TEST(VariantTest, AssignmentMatchesConstructors) {
    Variant v;
    v = 5;
    EXPECT_EQ(v, Variant(5));
    v = 5u;
    EXPECT_EQ(v, Variant(5u));
    v = "text";
    EXPECT_EQ(v, Variant("text"));
    v = std::string("s");
    EXPECT_EQ(v, Variant("s"));
    v = true;
    EXPECT_EQ(v, Variant(true));
    v = 2.5;
    EXPECT_EQ(v, Variant(2.5));
    const Variant other("7", Variant::Int);
    v = other;
    EXPECT_EQ(v.type(), Variant::Int);
    EXPECT_EQ(v.toString(), "7");
    v = Variant();
    EXPECT_TRUE(v.isNull());
}

TEST(VariantTest, EqualityNeedsSameTextAndType) {
    EXPECT_NE(Variant(5), Variant(5u));
    EXPECT_EQ(Variant(5), Variant("5", Variant::Int));
    EXPECT_NE(Variant(5), Variant("5"));
    EXPECT_NE(Variant(1), Variant(true));
    EXPECT_NE(Variant("01", Variant::Int), Variant(1));
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(), Variant(""));
    EXPECT_TRUE(Variant(5) != Variant(6));
}

struct IntCase {
    const char* text;
    int64_t value;
};

TEST(VariantTest, ToIntUsesAutomaticBase) {
    const std::vector<IntCase> cases = {
        {"0", 0},
        {"17", 17},
        {"-17", -17},
        {"010", 8},
        {"0x1A", 26},
        {"0X1a", 26},
        {"0x", 0},
        {"  42", 42},
        {"12ab", 12},
        {"abc", 0},
        {"", 0},
        {"+9", 9},
        {"9223372036854775807", INT64_MAX},
        {"99999999999999999999", INT64_MAX},
        {"-0x10", -16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // The tag is not consulted.
        EXPECT_EQ(Variant(c.text).toInt(), c.value);
        EXPECT_EQ(Variant(c.text, Variant::Double).toInt(), c.value);
    }
}

TEST(VariantTest, ToUIntKeepsTheUnsignedRange) {
    EXPECT_EQ(Variant(5u).toUInt(), 5u);
    EXPECT_EQ(Variant("0x1A").toUInt(), 26u);
    EXPECT_EQ(Variant("010").toUInt(), 8u);
    EXPECT_EQ(Variant(static_cast<unsigned long>(UINT64_MAX)).toUInt(), UINT64_MAX);
    EXPECT_EQ(Variant("9223372036854775808", Variant::UInt).toUInt(), 9223372036854775808ULL);
    EXPECT_EQ(Variant("9223372036854775807").toUInt(), 9223372036854775807ULL);
    EXPECT_EQ(Variant(-1).toUInt(), UINT64_MAX); // two's complement, as strtoll then a cast
    EXPECT_EQ(Variant("x").toUInt(), 0u);
}

TEST(VariantTest, NarrowingConversions) {
    const Variant big(300);
    EXPECT_EQ(static_cast<unsigned char>(big), 44);
    EXPECT_EQ(static_cast<char>(Variant(65)), 'A');
    EXPECT_EQ(static_cast<short>(Variant(70000)), static_cast<short>(70000));
    EXPECT_EQ(static_cast<unsigned short>(Variant("0xFFFF")), 65535);
    EXPECT_EQ(static_cast<int>(Variant("-0x10")), -16);
    EXPECT_EQ(static_cast<unsigned int>(Variant("4294967295")), 4294967295u);
    EXPECT_EQ(static_cast<long>(Variant("010")), 8L);
    EXPECT_EQ(static_cast<unsigned long>(Variant(7u)), 7UL);
    EXPECT_DOUBLE_EQ(static_cast<double>(Variant("2.5")), 2.5);
    const std::string text = Variant(12);
    EXPECT_EQ(text, "12");
    EXPECT_TRUE(static_cast<bool>(Variant("yes")));
    if (Variant("off"))
        ADD_FAILURE() << "off converts to true";
}

TEST(VariantTest, ToDouble) {
    EXPECT_DOUBLE_EQ(Variant("1.25").toDouble(), 1.25);
    EXPECT_DOUBLE_EQ(Variant(3).toDouble(), 3.0);
    EXPECT_DOUBLE_EQ(Variant("-1e3").toDouble(), -1000.0);
    EXPECT_DOUBLE_EQ(Variant("abc").toDouble(), 0.0);
    EXPECT_DOUBLE_EQ(Variant().toDouble(), 0.0);
}

struct BoolCase {
    const char* text;
    bool value;
};

TEST(VariantTest, ToBool) {
    const std::vector<BoolCase> cases = {
        {"true", true},   {"TRUE", true}, {"on", true},  {"On", true},    {"high", true},
        {"HIGH", true},   {"1", true},    {"y", true},   {"Yes", true},   {"yak", true},
        {"false", false}, {"off", false}, {"0", false},  {"", false},     {"no", false},
        {"2", false},     {"low", false}, {"10", false}, {" yes", false}, {"truex", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Variant(c.text).toBool(), c.value);
    }
    EXPECT_TRUE(Variant(true).toBool());
    EXPECT_FALSE(Variant(false).toBool());
    EXPECT_TRUE(Variant(1).toBool());
    EXPECT_FALSE(Variant(2).toBool());
}

TEST(VariantTest, ToMapOnlyForMapVariants) {
    VariantMap map;
    map["a/b"] = Variant(1);
    map["a/c"] = Variant("x");
    const VariantMap back = Variant(map).toMap();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back["a/b"].toInt(), 1);
    EXPECT_EQ(back["a/c"], Variant("x"));

    EXPECT_TRUE(Variant(R"({"a":1})").toMap().empty()); // a String, not a Map
    EXPECT_TRUE(Variant(5).toMap().empty());
    EXPECT_TRUE(Variant().toMap().empty());
    EXPECT_TRUE(Variant("null", Variant::Map).toMap().empty());
    EXPECT_THROW(Variant("{oops", Variant::Map).toMap(), nlohmann::json::parse_error);
}

TEST(VariantTest, ToJsonByType) {
    EXPECT_TRUE(Variant().toJson().is_null());
    const nlohmann::json i = Variant(-3).toJson();
    EXPECT_TRUE(i.is_number_integer());
    EXPECT_FALSE(i.is_number_unsigned());
    EXPECT_EQ(i.get<int64_t>(), -3);
    const nlohmann::json u = Variant(static_cast<unsigned long>(UINT64_MAX)).toJson();
    EXPECT_TRUE(u.is_number_unsigned());
    EXPECT_EQ(u.get<uint64_t>(), UINT64_MAX);
    EXPECT_EQ(Variant("0x10", Variant::Int).toJson(), 16);
    const nlohmann::json d = Variant(2.5).toJson();
    EXPECT_TRUE(d.is_number_float());
    EXPECT_EQ(d.get<double>(), 2.5);
    EXPECT_EQ(Variant(true).toJson(), true);
    EXPECT_EQ(Variant("yes", Variant::Bool).toJson(), true);
    EXPECT_EQ(Variant("plain").toJson(), "plain");
    EXPECT_EQ(Variant("[1,2]").toJson(), "[1,2]"); // only "{" starts a document
    EXPECT_EQ(Variant(R"({"k":[1,2]})").toJson(), nlohmann::json::parse(R"({"k":[1,2]})"));
    EXPECT_THROW(Variant("{not json").toJson(), nlohmann::json::parse_error);
    EXPECT_EQ(Variant(R"({"z":1})", Variant::Map).toJson(), nlohmann::json({{"z", 1}}));
    EXPECT_EQ(Variant("[1]", Variant::Map).toJson(), nlohmann::json::array({1}));
    EXPECT_TRUE(Variant("5", static_cast<Variant::Type>(42)).toJson().is_null());
}

TEST(VariantTest, FromJsonScalar) {
    EXPECT_EQ(Variant::fromJsonScalar(nlohmann::json("s")), Variant("s"));
    EXPECT_EQ(Variant::fromJsonScalar(nlohmann::json(true)), Variant(true));
    EXPECT_EQ(Variant::fromJsonScalar(nlohmann::json(-4)), Variant(-4));
    EXPECT_EQ(Variant::fromJsonScalar(nlohmann::json::parse("4")), Variant(4u));
    EXPECT_EQ(Variant::fromJsonScalar(nlohmann::json(0.5)), Variant(0.5));
    EXPECT_TRUE(Variant::fromJsonScalar(nlohmann::json()).isNull());
}

TEST(VariantTest, StreamsTypeAndText) {
    std::ostringstream out;
    out << Variant(5) << ' ' << Variant("a") << ' ' << Variant();
    EXPECT_EQ(out.str(), "Int(5) String(a) Null()");
}

} // namespace
