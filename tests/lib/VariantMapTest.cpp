// VariantMap: path keys, subtrees, JSON flattening and rebuilding, the text table.
#include "VariantMap.h"

#include "Expect.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// A document with nested objects, an array, a null and an empty object, built in code so that 1 is
// a signed integer.
json exampleDocument() {
    return json{
        {"a", {{"b", 1}, {"c", json::array({true, "x"})}}}, {"d", nullptr}, {"e", json::object()}};
}

VariantMap exampleMap() {
    return VariantMap().fromJson(exampleDocument());
}

TEST(VariantMapTest, FromJsonFlattensTheExampleDocument) {
    const VariantMap map = exampleMap();
    EXPECT_EQ(map.keys(), (std::vector<std::string>{"a/b", "a/c/0", "a/c/1", "d"}));
    EXPECT_EQ(map["a/b"], Variant(1));
    EXPECT_EQ(map["a/b"].type(), Variant::Int);
    EXPECT_EQ(map["a/c/0"], Variant(true));
    EXPECT_EQ(map["a/c/1"], Variant("x"));
    EXPECT_TRUE(map["d"].isNull());
    EXPECT_FALSE(map.exists("e"));
}

TEST(VariantMapTest, ToJsonRoundTripsTheExampleDocument) {
    json expected = exampleDocument();
    expected.erase("e");
    EXPECT_EQ(exampleMap().toJson(), expected);
    EXPECT_EQ(exampleMap().toJson().dump(), R"({"a":{"b":1,"c":[true,"x"]},"d":null})");
}

TEST(VariantMapTest, ParsedNumbersKeepTheirSignedness) {
    // nlohmann reads a non-negative integer as unsigned: such members come back as UInt.
    const VariantMap map =
        VariantMap().fromJson(json::parse(R"({"u":1,"i":-1,"f":1.5,"big":18446744073709551615})"));
    EXPECT_EQ(map["u"], Variant(1u));
    EXPECT_EQ(map["i"], Variant(-1));
    EXPECT_EQ(map["f"], Variant(1.5));
    EXPECT_EQ(map["big"].type(), Variant::UInt);
    EXPECT_EQ(map.toJson().dump(), R"({"big":18446744073709551615,"f":1.5,"i":-1,"u":1})");
}

TEST(VariantMapTest, FromJsonOfTopLevelValues) {
    EXPECT_TRUE(VariantMap().fromJson(json()).empty());
    EXPECT_TRUE(VariantMap().fromJson(json::object()).empty());
    EXPECT_TRUE(VariantMap().fromJson(json::array()).empty());

    const VariantMap scalar = VariantMap().fromJson(json("text"));
    ASSERT_EQ(scalar.size(), 1u);
    EXPECT_EQ(scalar[""], Variant("text"));
    EXPECT_EQ(VariantMap().fromJson(json(false))[""], Variant(false));

    const VariantMap array = VariantMap().fromJson(json::array({5, json::array({6})}));
    EXPECT_EQ(array.keys(), (std::vector<std::string>{"0", "1/0"}));
}

TEST(VariantMapTest, FromJsonReplacesTheContents) {
    VariantMap map;
    map["old"] = Variant(1);
    map.fromJson(json{{"new", 2}});
    EXPECT_EQ(map.keys(), std::vector<std::string>{"new"});
}

TEST(VariantMapTest, StringHoldingAnObjectComesOutAsThatObject) {
    VariantMap map;
    map["s"] = Variant(R"({"k":[1,2]})");
    map["t"] = Variant("plain");
    EXPECT_EQ(map.toJson(), json::parse(R"({"s":{"k":[1,2]},"t":"plain"})"));
    map["bad"] = Variant("{broken");
    EXPECT_THROW(map.toJson(), json::parse_error);
}

TEST(VariantMapTest, GetExactSubtreeAndMissing) {
    const VariantMap map = exampleMap();
    EXPECT_EQ(map.get("a/b"), Variant(1));

    const Variant a = map.get("a");
    ASSERT_EQ(a.type(), Variant::Map);
    const VariantMap sub = a.toMap();
    EXPECT_EQ(sub.keys(), (std::vector<std::string>{"b", "c/0", "c/1"}));
    EXPECT_EQ(sub["b"].toInt(), 1);
    EXPECT_EQ(sub["c/0"], Variant(true));
    EXPECT_EQ(sub["c/1"], Variant("x"));

    EXPECT_EQ(map.get("a/c").toMap().keys(), (std::vector<std::string>{"0", "1"}));
    EXPECT_TRUE(map.get("zz").isNull());
    EXPECT_TRUE(map.get("a/").isNull());
    EXPECT_TRUE(map.get("d").isNull()); // present, and Null
}

TEST(VariantMapTest, GetDoesNotTakeSiblingsWithTheSamePrefix) {
    VariantMap map;
    map["a/b"] = Variant(1);
    map["ab"] = Variant(2);
    map["ab/c"] = Variant(3);
    map["a"] = Variant();
    EXPECT_TRUE(map.get("a").isNull()); // the exact key wins
    map.erase("a");
    EXPECT_TRUE(map.exists("ab"));
    EXPECT_EQ(map.get("ab"), Variant(2));
    EXPECT_EQ(map.get("ab/c"), Variant(3));
}

TEST(VariantMapTest, EraseRemovesTheSubtreeButNotAb) {
    VariantMap map = exampleMap();
    map["ab"] = Variant(7);
    map["a"] = Variant(1);
    map.erase("a");
    EXPECT_EQ(map.keys(), (std::vector<std::string>{"ab", "d"}));
    map.erase("missing"); // nothing happens
    EXPECT_EQ(map.size(), 2u);
}

TEST(VariantMapTest, EraseWithWildcardsMatchesAsUtilsMatch) {
    VariantMap map;
    map["a1/x"] = Variant(1);
    map["a2/y"] = Variant(2);
    map["b/z"] = Variant(3);
    map.erase("a?");
    EXPECT_EQ(map.keys(), std::vector<std::string>{"b/z"});
}

TEST(VariantMapTest, SetFlattensMapValues) {
    VariantMap inner;
    inner["x"] = Variant(1);
    inner["y/z"] = Variant("w");
    VariantMap map;
    map.set("p", Variant(inner));
    EXPECT_EQ(map.keys(), (std::vector<std::string>{"p/x", "p/y/z"}));
    EXPECT_EQ(map["p/y/z"], Variant("w"));
    EXPECT_FALSE(map.exists("p"));

    map.set("p/x", Variant(9));
    EXPECT_EQ(map["p/x"], Variant(9));
    map.set("", Variant(inner)); // an empty key puts the members at the top
    EXPECT_TRUE(map.exists("x"));
    EXPECT_TRUE(map.exists("y/z"));
}

TEST(VariantMapTest, IndexOperators) {
    VariantMap map;
    EXPECT_TRUE(map["new"].isNull()); // non-const inserts
    EXPECT_TRUE(map.exists("new"));
    map["new"] = Variant(3);
    const VariantMap& constant = map;
    EXPECT_EQ(constant["new"], Variant(3));
    expectThrowWithText<std::out_of_range>([&] { (void)constant["nope"]; }, "Key not found: nope");
    EXPECT_EQ(constant.size(), 1u);
}

TEST(VariantMapTest, MergeAndEquality) {
    VariantMap a(std::map<std::string, Variant>{{"k", Variant(1)}, {"l", Variant(2)}});
    const VariantMap b(std::map<std::string, Variant>{{"l", Variant(3u)}, {"m", Variant("x")}});
    VariantMap& result = a.merge(b);
    EXPECT_EQ(&result, &a);
    EXPECT_EQ(a.keys(), (std::vector<std::string>{"k", "l", "m"}));
    EXPECT_EQ(a["l"], Variant(3u));

    VariantMap c = a;
    EXPECT_EQ(c, a);
    c["l"] = Variant(3);
    EXPECT_NE(c, a); // same text, other type
    c["l"] = Variant(3u);
    c["extra"] = Variant();
    EXPECT_NE(c, a);
}

TEST(VariantMapTest, ToJsonOfEmptyMapIsNull) {
    EXPECT_TRUE(VariantMap().toJson().is_null());
    VariantMap onlyEmptyKeys;
    onlyEmptyKeys[""] = Variant(1);
    onlyEmptyKeys["//"] = Variant(2);
    EXPECT_TRUE(onlyEmptyKeys.toJson().is_null());
}

TEST(VariantMapTest, ToJsonDropsEmptySegments) {
    VariantMap map;
    map["/a//b/"] = Variant(1);
    EXPECT_EQ(map.toJson(), json::parse(R"({"a":{"b":1}})"));
}

TEST(VariantMapTest, ArrayElementsArePlacedByIndex) {
    VariantMap map;
    for (int i = 0; i < 12; ++i)
        map["list/" + std::to_string(i)] = Variant(i);
    // Key order puts list/10 and list/11 before list/2; the index decides the place.
    const json list = map.toJson()["list"];
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(list[static_cast<size_t>(i)], i);

    VariantMap gaps;
    gaps["g/2"] = Variant("c");
    gaps["g/+0"] = Variant("a");
    EXPECT_EQ(gaps.toJson(), json::parse(R"({"g":["a",null,"c"]})"));
}

TEST(VariantMapTest, NestedArraysAndObjectsInArrays) {
    VariantMap map;
    map["m/0/0"] = Variant(1);
    map["m/0/1"] = Variant(2);
    map["m/1/name"] = Variant("n");
    map["0/x"] = Variant(true); // a numeric first segment makes the root an array
    EXPECT_THROW(map.toJson(), json::type_error);
    map.erase("0");
    EXPECT_EQ(map.toJson(), json::parse(R"({"m":[[1,2],{"name":"n"}]})"));

    VariantMap root;
    root["0/x"] = Variant(true);
    EXPECT_EQ(root.toJson(), json::parse(R"([{"x":true}])"));
}

TEST(VariantMapTest, SizeSegmentOnArrayIsSkipped) {
    VariantMap map;
    map["list/0"] = Variant(1);
    map["list/_size"] = Variant(1u);
    map["list/_size/x"] = Variant(5);
    map["obj/_size"] = Variant(2); // not an array: an ordinary member
    EXPECT_EQ(map.toJson(), json::parse(R"({"list":[1],"obj":{"_size":2}})"));
}

TEST(VariantMapTest, StringSegmentOnArrayThrowsTypeError305) {
    VariantMap map;
    map["x/0"] = Variant(1);
    map["x/y"] = Variant(2);
    expectThrowWithText<json::type_error>(
        [&] { (void)map.toJson(); },
        "[json.exception.type_error.305] cannot use operator[] with a string argument with array");
    try {
        (void)map.toJson();
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 305);
    }
}

TEST(VariantMapTest, TypeErrorsNameTheNodeType) {
    struct Case {
        std::map<std::string, Variant> entries;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{{"a", Variant(1)}, {"a/b", Variant(2)}},
         "[json.exception.type_error.305] cannot use operator[] with a string argument with "
         "number"},
        {{{"a", Variant("s")}, {"a/b", Variant(2)}},
         "[json.exception.type_error.305] cannot use operator[] with a string argument with "
         "string"},
        {{{"a", Variant(true)}, {"a/0", Variant(2)}},
         "[json.exception.type_error.305] cannot use operator[] with a numeric argument with "
         "boolean"},
        {{{"a/b", Variant(1)}, {"a/0", Variant(2)}}, // "a/0" sorts first: a is an array
         "[json.exception.type_error.305] cannot use operator[] with a string argument with array"},
        {{{"a/x", Variant(1)}, {"a/x/0", Variant(2)}},
         "[json.exception.type_error.305] cannot use operator[] with a numeric argument with "
         "number"},
        {{{"o/#k", Variant(1)}, {"o/5", Variant(2)}}, // "#" sorts before digits: o is an object
         "[json.exception.type_error.305] cannot use operator[] with a numeric argument with "
         "object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const VariantMap map(c.entries);
        expectThrowWithText<json::type_error>([&] { (void)map.toJson(); }, c.text);
    }
}

TEST(VariantMapTest, NegativeOrHugeIndexIsRejected) {
    const std::vector<std::string> keys = {
        "list/-1", "list/65536", "list/99999999999999999999999", "list/-0000001", "a/b/4294967296",
    };
    for (const auto& key : keys) {
        SCOPED_TRACE(key);
        VariantMap map;
        map[key] = Variant(1);
        try {
            (void)map.toJson();
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("'" + key + "'"), std::string::npos) << text;
            EXPECT_NE(text.find("out of range"), std::string::npos) << text;
        }
    }
    expectThrowWithText<std::out_of_range>(
        [] {
            VariantMap map;
            map["list/-1"] = Variant(1);
            (void)map.toJson();
        },
        "Array index '-1' in key 'list/-1' is out of range (0 to 65535)");

    VariantMap largest;
    largest["list/65535"] = Variant(1);
    const json document = largest.toJson();
    EXPECT_EQ(document["list"].size(), 65536u);
    EXPECT_EQ(document["list"][65535], 1);
    EXPECT_TRUE(document["list"][0].is_null());

    VariantMap leadingZeros;
    leadingZeros["l/007"] = Variant(7); // decimal, not octal
    EXPECT_EQ(leadingZeros.toJson()["l"].size(), 8u);
}

TEST(VariantMapTest, GetOfAContradictingSubtreeThrows) {
    // get() builds a Map variant through toJson, so the same errors apply there.
    VariantMap map;
    map["a/x/-1"] = Variant(1);
    EXPECT_THROW(map.get("a"), std::out_of_range);
    EXPECT_EQ(map.get("a/x/-1"), Variant(1)); // the exact key is always fine
}

TEST(VariantMapTest, TextTable) {
    EXPECT_EQ(VariantMap().toString(), "+------------+------------+\n"
                                       "| KEY        | VALUE      |\n"
                                       "+------------+------------+\n"
                                       "+------------+------------+\n");
    VariantMap map;
    map["a"] = Variant(1);
    map["printer/style/bold"] = Variant(true);
    map["text"] = Variant("a value longer than ten");
    EXPECT_EQ(map.toString(), "+--------------------+-------------------------+\n"
                              "| KEY                | VALUE                   |\n"
                              "+--------------------+-------------------------+\n"
                              "| a                  : 1                       |\n"
                              "| printer/style/bold : true                    |\n"
                              "| text               : a value longer than ten |\n"
                              "+--------------------+-------------------------+\n");
}

TEST(VariantMapTest, MapVariantRoundTripThroughGetAndSet) {
    VariantMap source = exampleMap();
    VariantMap target;
    target.set("copy", source.get("a"));
    EXPECT_EQ(target.keys(), (std::vector<std::string>{"copy/b", "copy/c/0", "copy/c/1"}));
    EXPECT_EQ(target["copy/b"].toInt(), 1);
    // Through the Map's JSON text a positive integer reads back unsigned.
    EXPECT_EQ(target["copy/b"].type(), Variant::UInt);
}

} // namespace
