// Tests of Types::Style: defaults, setters, the JSON form and the JSON update.
#include "types/Style.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>

using zelvo::PrinterManager::Types::Style;
using json = nlohmann::json;

namespace {

const char* const kDefaults =
    R"({"align":"left","bold":false,"reverse":true,"size":0,"space":0,"type":"A","underlined":false})";

// What an update did: "" when it returned, else the exception's kind and text.
struct Outcome {
    std::string kind; // "", "out_of_range" or "type_error"
    std::string what;
    int id = 0; // the JSON library's error id for "type_error"
};

template <typename F> Outcome outcomeOf(F&& f) {
    try {
        f();
    } catch (const json::type_error& e) {
        return {"type_error", e.what(), e.id};
    } catch (const std::out_of_range& e) {
        return {"out_of_range", e.what(), 0};
    } catch (const std::exception& e) {
        return {"other", e.what(), 0};
    }
    return {};
}

// The defaults with some members changed.
json defaultsWith(const json& changes) {
    json out = json::parse(kDefaults);
    for (const auto& [key, value] : changes.items())
        out[key] = value;
    return out;
}

std::string typeError(const std::string& text) {
    return "[json.exception.type_error.302] " + text;
}

} // namespace

TEST(Style, LibstdcxxMapAtThrowsOutOfRangeNamedMapAt) {
    // The "map::at" error texts clients see rely on this libstdc++ behaviour.
    const std::map<std::string, int> m{{"a", 1}};
    const auto o = outcomeOf([&] { (void)m.at("b"); });
    EXPECT_EQ(o.kind, "out_of_range");
    EXPECT_EQ(o.what, "map::at");
}

TEST(Style, DefaultConstructedSerialisesToTheDefaults) {
    const Style s;
    EXPECT_EQ(s.toJson().dump(), kDefaults);
    EXPECT_EQ(s.getAlign(), Style::Left);
    EXPECT_EQ(s.getType(), Style::FontA);
    EXPECT_FALSE(s.getBold());
    EXPECT_FALSE(s.getUnderlined());
    EXPECT_TRUE(s.getReverse());
    EXPECT_EQ(s.getSpace(), 0u);
    EXPECT_EQ(s.getSize(), 0u);
}

TEST(Style, EnumerationValuesAndSizes) {
    EXPECT_EQ(Style::Left, 0);
    EXPECT_EQ(Style::Center, 1);
    EXPECT_EQ(Style::Right, 2);
    EXPECT_EQ(Style::FontA, 0);
    EXPECT_EQ(Style::FontB, 1);
    static_assert(sizeof(Style::Align) == 4);
    static_assert(sizeof(Style::FontType) == 4);
    static_assert(sizeof(unsigned long) == 8);
}

TEST(Style, ToJsonMemberTypes) {
    const json j = Style().toJson();
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j.size(), 7u);
    EXPECT_TRUE(j.at("align").is_string());
    EXPECT_TRUE(j.at("type").is_string());
    EXPECT_TRUE(j.at("bold").is_boolean());
    EXPECT_TRUE(j.at("underlined").is_boolean());
    EXPECT_TRUE(j.at("reverse").is_boolean());
    EXPECT_TRUE(j.at("space").is_number_unsigned());
    EXPECT_TRUE(j.at("size").is_number_unsigned());
}

// Each input applied to a default style with updateFromJson: the state afterwards (also after
// an error: the update stops at the first error, earlier members keep their new values) and the
// outcome. Style(json) must give the same state when there is no error, and throw the same.
TEST(Style, UpdateFromJsonTable) {
    struct Case {
        const char* input;
        std::string changes; // members that differ from the defaults afterwards
        const char* kind;    // "", "out_of_range" or "type_error"
        std::string what;
    };
    const std::string u64max = std::to_string(std::numeric_limits<std::uint64_t>::max());
    const Case cases[] = {
        // Not an object, or no known key: nothing changes.
        {R"({})", R"({})", "", ""},
        {R"([1,2])", R"({})", "", ""},
        {R"([{"bold":true}])", R"({})", "", ""},
        {R"(null)", R"({})", "", ""},
        {R"("bold")", R"({})", "", ""},
        {R"(5)", R"({})", "", ""},
        {R"(true)", R"({})", "", ""},
        {R"({"Bold":true,"colour":"red","ALIGN":"right"})", R"({})", "", ""},
        // Each member on its own.
        {R"({"bold":true})", R"({"bold":true})", "", ""},
        {R"({"underlined":true})", R"({"underlined":true})", "", ""},
        {R"({"reverse":false})", R"({"reverse":false})", "", ""},
        {R"({"reverse":true})", R"({})", "", ""},
        {R"({"align":"left"})", R"({})", "", ""},
        {R"({"align":"center"})", R"({"align":"center"})", "", ""},
        {R"({"align":"right"})", R"({"align":"right"})", "", ""},
        {R"({"type":"A"})", R"({})", "", ""},
        {R"({"type":"B"})", R"({"type":"B"})", "", ""},
        {R"({"space":3})", R"({"space":3})", "", ""},
        {R"({"size":1})", R"({"size":1})", "", ""},
        // Every member at once.
        {R"({"align":"right","type":"B","bold":true,"underlined":true,"reverse":false,"space":12,"size":3})",
         R"({"align":"right","type":"B","bold":true,"underlined":true,"reverse":false,"space":12,"size":3})",
         "", ""},
        // Numbers: signed and floating-point accepted; truncation toward zero; negatives wrap.
        {R"({"size":2.9})", R"({"size":2})", "", ""},
        {R"({"size":0.99})", R"({})", "", ""},
        {R"({"size":-0.5})", R"({})", "", ""},
        {R"({"space":-1})", "{\"space\":" + u64max + "}", "", ""},
        {R"({"size":-2.5})", R"({"size":18446744073709551614})", "", ""},
        {R"({"space":18446744073709551615})", "{\"space\":" + u64max + "}", "", ""},
        {R"({"space":-9223372036854775808})", R"({"space":9223372036854775808})", "", ""},
        {R"({"size":9.3e18})", R"({"size":9300000000000000000})", "", ""},
        // Floating-point values past the 64-bit ranges saturate (defined, UBSan-clean).
        {R"({"size":1e300})", "{\"size\":" + u64max + "}", "", ""},
        {R"({"size":1.8446744073709552e19})", "{\"size\":" + u64max + "}", "", ""},
        {R"({"size":-1e300})", R"({"size":9223372036854775808})", "", ""},
        // Unknown names: exact and case-sensitive.
        {R"({"align":"centre"})", R"({})", "out_of_range", "map::at"},
        {R"({"align":"Left"})", R"({})", "out_of_range", "map::at"},
        {R"({"align":"CENTER"})", R"({})", "out_of_range", "map::at"},
        {R"({"align":""})", R"({})", "out_of_range", "map::at"},
        {R"({"align":"Undefined"})", R"({})", "out_of_range", "map::at"},
        {R"({"type":"a"})", R"({})", "out_of_range", "map::at"},
        {R"({"type":"C"})", R"({})", "out_of_range", "map::at"},
        {R"({"type":""})", R"({})", "out_of_range", "map::at"},
        // Wrong JSON types: type_error 302 with the JSON type's name.
        {R"({"align":1})", R"({})", "type_error", typeError("type must be string, but is number")},
        {R"({"align":null})", R"({})", "type_error", typeError("type must be string, but is null")},
        {R"({"align":true})", R"({})", "type_error",
         typeError("type must be string, but is boolean")},
        {R"({"type":["A"]})", R"({})", "type_error",
         typeError("type must be string, but is array")},
        {R"({"type":{}})", R"({})", "type_error", typeError("type must be string, but is object")},
        {R"({"bold":1})", R"({})", "type_error", typeError("type must be boolean, but is number")},
        {R"({"bold":0})", R"({})", "type_error", typeError("type must be boolean, but is number")},
        {R"({"underlined":"true"})", R"({})", "type_error",
         typeError("type must be boolean, but is string")},
        {R"({"reverse":null})", R"({})", "type_error",
         typeError("type must be boolean, but is null")},
        {R"({"size":"2"})", R"({})", "type_error", typeError("type must be number, but is string")},
        {R"({"space":true})", R"({})", "type_error",
         typeError("type must be number, but is boolean")},
        {R"({"size":false})", R"({})", "type_error",
         typeError("type must be number, but is boolean")},
        {R"({"space":null})", R"({})", "type_error", typeError("type must be number, but is null")},
        {R"({"size":[1]})", R"({})", "type_error", typeError("type must be number, but is array")},
        {R"({"space":{}})", R"({})", "type_error", typeError("type must be number, but is object")},
        // Partial updates: the keys before the failing one (in the fixed order align, type,
        // bold, underlined, reverse, space, size) keep their new values.
        {R"({"align":"right","bold":"yes"})", R"({"align":"right"})", "type_error",
         typeError("type must be boolean, but is string")},
        {R"({"align":"right","bold":true,"space":3,"size":"x"})",
         R"({"align":"right","bold":true,"space":3})", "type_error",
         typeError("type must be number, but is string")},
        {R"({"type":"B","reverse":false,"align":"middle"})", R"({})", "out_of_range", "map::at"},
        {R"({"size":4,"type":"b","align":"center"})", R"({"align":"center"})", "out_of_range",
         "map::at"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const json input = json::parse(c.input);
        const json expected = defaultsWith(json::parse(c.changes));

        Style updated;
        const Outcome o = outcomeOf([&] { updated.updateFromJson(input); });
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.what, c.what);
        if (o.kind == "type_error") {
            EXPECT_EQ(o.id, 302);
        }
        EXPECT_EQ(updated.toJson(), expected);

        const Outcome constructed = outcomeOf([&] {
            const Style s(input);
            EXPECT_EQ(s.toJson(), expected);
        });
        EXPECT_EQ(constructed.kind, c.kind);
        EXPECT_EQ(constructed.what, c.what);
    }
}

TEST(Style, UpdateKeepsMembersNotNamed) {
    Style s;
    s.setBold(true);
    s.setSize(2);
    s.updateFromJson(json::parse(R"({"align":"center"})"));
    EXPECT_EQ(s.getAlign(), Style::Center);
    EXPECT_TRUE(s.getBold());
    EXPECT_EQ(s.getSize(), 2u);
}

TEST(Style, SettersStoreValuesUnchanged) {
    Style s;
    s.setAlign(static_cast<Style::Align>(7));
    s.setType(static_cast<Style::FontType>(-1));
    s.setBold(true);
    s.setUnderlined(true);
    s.setReverse(false);
    s.setSpace(std::numeric_limits<unsigned long>::max());
    s.setSize(1000);
    EXPECT_EQ(s.getAlign(), 7);
    EXPECT_EQ(s.getType(), -1);
    EXPECT_TRUE(s.getBold());
    EXPECT_TRUE(s.getUnderlined());
    EXPECT_FALSE(s.getReverse());
    EXPECT_EQ(s.getSpace(), std::numeric_limits<unsigned long>::max());
    EXPECT_EQ(s.getSize(), 1000u);
}

TEST(Style, OutOfRangeValuesSerialiseAsUndefinedAndCannotBeReadBack) {
    Style s;
    s.setAlign(static_cast<Style::Align>(7));
    const json j = s.toJson();
    EXPECT_EQ(j.at("align"), "Undefined");
    EXPECT_EQ(j.at("type"), "A");
    const Outcome o = outcomeOf([&] { Style back(j); });
    EXPECT_EQ(o.kind, "out_of_range");
    EXPECT_EQ(o.what, "map::at");

    Style t;
    t.setType(static_cast<Style::FontType>(2));
    EXPECT_EQ(t.toJson().at("type"), "Undefined");
    EXPECT_EQ(t.toJson().at("align"), "left");
    EXPECT_EQ(outcomeOf([&] { Style back(t.toJson()); }).what, "map::at");

    Style n;
    n.setAlign(static_cast<Style::Align>(-1));
    EXPECT_EQ(n.toJson().at("align"), "Undefined");
}

TEST(Style, ValidStylesRoundTripThroughJson) {
    for (auto align : {Style::Left, Style::Center, Style::Right})
        for (auto type : {Style::FontA, Style::FontB})
            for (int flags = 0; flags < 8; ++flags) {
                Style s;
                s.setAlign(align);
                s.setType(type);
                s.setBold(flags & 1);
                s.setUnderlined(flags & 2);
                s.setReverse(flags & 4);
                s.setSpace(static_cast<unsigned long>(flags) * 7);
                s.setSize(std::numeric_limits<unsigned long>::max() - flags);
                const Style back(s.toJson());
                EXPECT_EQ(back.toJson(), s.toJson()) << s.toJson().dump();
                EXPECT_EQ(back.getAlign(), align);
                EXPECT_EQ(back.getType(), type);
                EXPECT_EQ(back.getSize(), s.getSize());
            }
}

TEST(Style, SetDefaultsRestoresTheDefaults) {
    Style s(json::parse(
        R"({"align":"right","type":"B","bold":true,"underlined":true,"reverse":false,"space":5,"size":2})"));
    ASSERT_NE(s.toJson().dump(), kDefaults);
    s.setDefaults();
    EXPECT_EQ(s.toJson().dump(), kDefaults);
}

TEST(Style, CopiesAreIndependent) {
    Style a;
    a.setBold(true);
    Style b = a;
    b.setBold(false);
    b.setAlign(Style::Right);
    EXPECT_TRUE(a.getBold());
    EXPECT_EQ(a.getAlign(), Style::Left);
    a = b;
    EXPECT_EQ(a.toJson(), b.toJson());
}

TEST(Style, NonFiniteNumbersHaveDefinedResults) {
    // Not producible by the JSON parser, but a program can build them.
    struct Case {
        double number;
        std::uint64_t size;
    };
    const Case cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<std::uint64_t>::max()},
        {-std::numeric_limits<double>::infinity(), 9223372036854775808ull},
        {-9223372036854775808.0, 9223372036854775808ull},
        {-9223372036854777856.0, 9223372036854775808ull},  // the next double below -2^63
        {18446744073709549568.0, 18446744073709549568ull}, // the largest double below 2^64
    };
    for (const auto& c : cases) {
        Style s;
        s.updateFromJson(json{{"size", c.number}});
        EXPECT_EQ(s.getSize(), c.size) << c.number;
    }
}
