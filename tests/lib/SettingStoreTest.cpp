// SettingStore: values and change signal, JSON, table, JSON-file and SQLite persistence.
#include "SettingStore.h"

#include "Expect.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// Records every key the store announces.
struct Recorder {
    explicit Recorder(SettingStore& store) {
        store.mChanged.connect([this](const std::string& key) { keys.push_back(key); });
    }
    std::vector<std::string> keys;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A store with one value of every kind, nested objects and an array.
SettingStore sampleStore() {
    SettingStore store;
    store.set("printer/name", Variant("TL60"));
    store.set("printer/speed", Variant(-3));
    store.set("printer/baud", Variant(115200u));
    store.set("printer/ratio", Variant(0.75));
    store.set("printer/style/bold", Variant(true));
    store.set("printer/nothing", Variant());
    store.set("list/0", Variant("a"));
    store.set("list/1", Variant("b"));
    return store;
}

// The pattern every configuration class follows.
class ExampleConfig : public SettingStore {
public:
    ExampleConfig() { defaults(); }
    void defaults() {
        log(Log::Info, "Loading default configuration.");
        set("port", Variant(1413u));
        set("host", Variant("127.0.0.1"));
        set("tls", Variant(false));
    }
    unsigned port() const { return static_cast<unsigned>(get("port").toUInt()); }
    std::string host() const { return get("host").toString(); }
    bool tls() const { return get("tls").toBool(); }
    void report() const { log(Log::Debug, std::string("100% literal")); }
};

// A fresh directory per test, removed afterwards.
class SettingStoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/voltrin-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mDir = pattern;
    }
    void TearDown() override {
        if (!mDir.empty())
            std::filesystem::remove_all(mDir);
    }
    std::string path(const std::string& name) const { return mDir + "/" + name; }
    std::string mDir;
};

// Values and the change signal.

TEST(SettingStoreTest, SameValueTwiceEmitsOnceAndOtherTypeEmitsAgain) {
    SettingStore store;
    Recorder changes(store);
    store.set("a", Variant(1));
    store.set("a", Variant(1));
    EXPECT_EQ(changes.keys.size(), 1u);
    store.set("a", Variant(1u));
    EXPECT_EQ(changes.keys, (std::vector<std::string>{"a", "a"}));
    store.setValue("a", Variant(1u));
    EXPECT_EQ(changes.keys.size(), 2u);
    store.setValue("a", Variant(2u));
    EXPECT_EQ(changes.keys.size(), 3u);
    EXPECT_EQ(store.get("a"), Variant(2u));
}

TEST(SettingStoreTest, SetOfAMapStoresAndSignalsEachKey) {
    VariantMap map;
    map["x"] = Variant(1);
    map["y/z"] = Variant("w");
    SettingStore store;
    Recorder changes(store);
    store.set("p", Variant(map));
    EXPECT_EQ(changes.keys, (std::vector<std::string>{"p/x", "p/y/z"}));
    EXPECT_EQ(store.keys(), (std::vector<std::string>{"p/x", "p/y/z"}));
    EXPECT_FALSE(store.exists("p"));
    // Through the Map's JSON text the positive 1 reads back unsigned.
    EXPECT_EQ(store.get("p/x"), Variant(1u));
    store.set("p", Variant(map));
    EXPECT_EQ(changes.keys.size(), 2u); // nothing changed
}

TEST(SettingStoreTest, OperationsWithoutSignal) {
    SettingStore store;
    Recorder changes(store);
    store["a"] = Variant(1);
    EXPECT_TRUE(store["b"].isNull());
    EXPECT_TRUE(store.exists("b"));
    store.updateFromMap(VariantMap(std::map<std::string, Variant>{{"c/d", Variant(2)}}));
    store.erase("c");
    store.load(std::map<std::string, Variant>{{"x", Variant("y")}});
    EXPECT_TRUE(changes.keys.empty());
    EXPECT_EQ(store.keys(), std::vector<std::string>{"x"});
}

TEST(SettingStoreTest, MergeSignalsOnlyTheChangedKeys) {
    SettingStore store;
    store.set("a", Variant(1));
    store.set("b", Variant(2));
    Recorder changes(store);
    store.merge(VariantMap(
        std::map<std::string, Variant>{{"a", Variant(1)}, {"b", Variant(3)}, {"c", Variant()}}));
    EXPECT_EQ(changes.keys, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(store.get("b"), Variant(3));
}

TEST(SettingStoreTest, GetExactSubtreeOrNull) {
    const SettingStore store = sampleStore();
    EXPECT_EQ(store.get("printer/name"), Variant("TL60"));
    const Variant printer = store.get("printer");
    ASSERT_EQ(printer.type(), Variant::Map);
    const VariantMap map = printer.toMap();
    EXPECT_EQ(map.keys(), (std::vector<std::string>{"baud", "name", "nothing", "ratio", "speed",
                                                    "style/bold"}));
    EXPECT_EQ(map["speed"], Variant(-3));
    EXPECT_TRUE(store.get("zz").isNull());
    EXPECT_TRUE(store.get("print").isNull());
}

TEST(SettingStoreTest, EraseRemovesTheSubtreeOnly) {
    SettingStore store;
    store.set("a", Variant(1));
    store.set("a/b", Variant(2));
    store.set("a/c/d", Variant(3));
    store.set("ab", Variant(4));
    store.erase("a");
    EXPECT_EQ(store.keys(), std::vector<std::string>{"ab"});
}

TEST(SettingStoreTest, SlotExceptionPropagatesAfterTheValueIsStored) {
    SettingStore store;
    store.mChanged.connect([](const std::string& key) { throw std::runtime_error("slot " + key); });
    EXPECT_THROW(store.set("k", Variant(5)), std::runtime_error);
    EXPECT_EQ(store.get("k"), Variant(5));
}

TEST(SettingStoreTest, CopiesCarryTheSettingsButNotTheSlots) {
    SettingStore original = sampleStore();
    Recorder changes(original);
    SettingStore copy = original;
    EXPECT_EQ(copy.toMap(), original.toMap());
    copy.set("printer/name", Variant("other"));
    EXPECT_TRUE(changes.keys.empty());
    EXPECT_EQ(original.get("printer/name"), Variant("TL60"));
    copy = original;
    EXPECT_EQ(copy.get("printer/name"), Variant("TL60"));
}

TEST(SettingStoreTest, FromMapAndFromJson) {
    const VariantMap map(std::map<std::string, Variant>{{"a/b", Variant(1)}});
    EXPECT_EQ(SettingStore::fromMap(map).toMap(), map);
    const SettingStore store = SettingStore::fromJson(json{{"a", {{"b", 1}}}, {"c", "x"}});
    EXPECT_EQ(store.keys(), (std::vector<std::string>{"a/b", "c"}));
    EXPECT_EQ(store.get("a/b"), Variant(1));
}

TEST(SettingStoreTest, ConfigurationClassPattern) {
    ExampleConfig config;
    EXPECT_EQ(config.port(), 1413u);
    EXPECT_EQ(config.host(), "127.0.0.1");
    EXPECT_FALSE(config.tls());
    Recorder changes(config);
    config.updateFromJson(json::parse(R"({"port":1500,"tls":true,"host":"127.0.0.1"})"));
    EXPECT_EQ(changes.keys, (std::vector<std::string>{"port", "tls"}));
    EXPECT_EQ(config.port(), 1500u);
    EXPECT_TRUE(config.tls());
    EXPECT_EQ(config.toJson().dump(), R"({"host":"127.0.0.1","port":1500,"tls":true})");
    EXPECT_NO_THROW(config.report());
    EXPECT_NO_THROW(config.print());
}

// JSON.

TEST(SettingStoreTest, UpdateFromJsonMerges) {
    SettingStore store;
    store.set("a", Variant(1));
    Recorder changes(store);
    store.updateFromJson(json{{"b", true}});
    EXPECT_EQ(store.get("a"), Variant(1));
    EXPECT_EQ(store.get("b"), Variant(true));
    EXPECT_EQ(changes.keys, std::vector<std::string>{"b"});
}

TEST(SettingStoreTest, UpdateFromJsonOfEveryShape) {
    SettingStore store;
    store.updateFromJson(json{{"o", {{"x", 1}, {"e", json::object()}}},
                              {"l", json::array({"p", json::array({2})})},
                              {"n", nullptr}});
    EXPECT_EQ(store.keys(), (std::vector<std::string>{"l/0", "l/1/0", "n", "o/x"}));
    EXPECT_TRUE(store.get("n").isNull());

    SettingStore array;
    array.updateFromJson(json::array({7, 8}));
    EXPECT_EQ(array.keys(), (std::vector<std::string>{"0", "1"}));

    SettingStore scalar;
    scalar.updateFromJson(json("s"));
    EXPECT_EQ(scalar.get(""), Variant("s"));

    SettingStore none;
    none.updateFromJson(json());
    EXPECT_TRUE(none.empty());
}

TEST(SettingStoreTest, ParseUnderAPath) {
    SettingStore store;
    Recorder changes(store);
    store.parse("printer", json{{"style", {{"bold", true}}}, {"lines", json::array({1, 2})}});
    EXPECT_EQ(changes.keys, (std::vector<std::string>{"printer/lines/0", "printer/lines/1",
                                                      "printer/style/bold"}));
    store.parse("flag", json(false));
    EXPECT_EQ(store.get("flag"), Variant(false));
}

TEST(SettingStoreTest, ToJsonOfObjectsAndStrings) {
    SettingStore store;
    EXPECT_TRUE(store.toJson().is_null());
    store.set("a/b", Variant(1));
    store.set("c", Variant("x"));
    EXPECT_EQ(store.toJson(), json::parse(R"({"a":{"b":1},"c":"x"})"));
    store.set("d", Variant(R"({"k":[1]})"));
    EXPECT_EQ(store.toJson()["d"], json::parse(R"({"k":[1]})"));
}

TEST(SettingStoreTest, ToJsonOfAnArray) {
    SettingStore store;
    store.set("list/0", Variant(1));
    store.set("list/1", Variant(2));
    EXPECT_EQ(store.toJson().dump(), R"({"list":[1,2]})");
}

TEST(SettingStoreTest, ToJsonPlacesMoreThanTenElementsByIndex) {
    SettingStore store;
    for (int i = 0; i < 13; ++i)
        store.set("list/" + std::to_string(i), Variant(i * 10));
    EXPECT_EQ(store.toJson().dump(), R"({"list":[0,10,20,30,40,50,60,70,80,90,100,110,120]})");
}

TEST(SettingStoreTest, ToJsonOfNestedArraysAndNumericFirstSegment) {
    SettingStore store;
    store.set("0/x", Variant(1)); // the first segment is always a member name
    store.set("rows/0/name", Variant("n0"));
    store.set("rows/1/name", Variant("n1"));
    store.set("rows/1/cells/1", Variant(true));
    store.set("grid/1/0", Variant(5));
    EXPECT_EQ(store.toJson(),
              json::parse(R"({"0":{"x":1},"grid":[null,[5]],)"
                          R"("rows":[{"name":"n0"},{"cells":[null,true],"name":"n1"}]})"));
}

TEST(SettingStoreTest, ValueAndContainerAtOneKeyThrowTypeErrors) {
    {
        SettingStore store;
        store.set("a", Variant(1));
        store.set("a/b", Variant(2));
        expectThrowWithText<json::type_error>([&] { (void)store.toJson(); },
                                              "[json.exception.type_error.305] cannot use "
                                              "operator[] with a string argument with number");
    }
    {
        SettingStore store;
        store.set("list/0", Variant(1));
        store.set("list/x", Variant(2));
        expectThrowWithText<json::type_error>([&] { (void)store.toJson(); },
                                              "[json.exception.type_error.305] cannot use "
                                              "operator[] with a string argument with array");
    }
    {
        SettingStore store;
        store.set("a", Variant(1));
        store.set("a/0", Variant(2));
        expectThrowWithText<json::type_error>(
            [&] { (void)store.toJson(); },
            "[json.exception.type_error.308] cannot use push_back() with number");
    }
    {
        SettingStore store;
        store.set("o/#", Variant(1)); // "#" sorts before the digits: o becomes an object first
        store.set("o/3", Variant(2));
        try {
            (void)store.toJson();
            ADD_FAILURE() << "no exception";
        } catch (const json::type_error& e) {
            EXPECT_EQ(e.id, 308);
            EXPECT_EQ(std::string(e.what()),
                      "[json.exception.type_error.308] cannot use push_back() with object");
        }
    }
}

TEST(SettingStoreTest, NegativeOrHugeIndexIsRejected) {
    for (const std::string key : {"list/-1", "list/65536", "list/18446744073709551616", "x/0/-2"}) {
        SCOPED_TRACE(key);
        SettingStore store;
        store.set(key, Variant(1));
        try {
            (void)store.toJson();
            ADD_FAILURE() << "no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_NE(std::string(e.what()).find("in key '" + key + "'"), std::string::npos)
                << e.what();
        }
    }
    SettingStore store;
    store.set("list/-1", Variant(1));
    expectThrowWithText<std::out_of_range>(
        [&] { (void)store.toJson(); },
        "Array index '-1' in key 'list/-1' is out of range (0 to 65535)");
}

// The table.

TEST(SettingStoreTest, TableOfAnEmptyStore) {
    const SettingStore store;
    const std::string border = "+------------+------------+";
    EXPECT_EQ(store.table(),
              (std::vector<std::string>{border, "| SETTING    | VALUE      |", border, border}));
    EXPECT_NO_THROW(store.print());
}

TEST(SettingStoreTest, TableRows) {
    SettingStore store;
    store.set("tcp/port", Variant(1413u));
    store.set("printer/style/alignment", Variant("center"));
    const std::string border = "+-------------------------+------------+";
    EXPECT_EQ(store.table(), (std::vector<std::string>{
                                 border,
                                 "| SETTING                 | VALUE      |",
                                 border,
                                 "| printer/style/alignment : center     |",
                                 "| tcp/port                : 1413       |",
                                 border,
                             }));
    EXPECT_NO_THROW(store.print());
}

// Files.

TEST_F(SettingStoreFiles, SaveOfAnUnknownExtensionReturnsFalse) {
    SettingStore store = sampleStore();
    const bool existedBefore = std::filesystem::exists("settings.cfg");
    EXPECT_FALSE(store.save("settings.cfg"));
    EXPECT_EQ(std::filesystem::exists("settings.cfg"), existedBefore);
    EXPECT_FALSE(store.save(path("settings.cfg"), SettingStore::Automatic));
    EXPECT_FALSE(store.load(path("settings.cfg")));
    EXPECT_FALSE(store.save(path("settings"), SettingStore::Automatic));
    EXPECT_FALSE(store.save(path("x.json"), static_cast<SettingStore::FileType>(7)));
    EXPECT_TRUE(std::filesystem::is_empty(mDir));
}

TEST_F(SettingStoreFiles, JsonFileRoundTrip) {
    SettingStore store = sampleStore();
    const std::string file = path("settings.json");
    const mode_t previous = umask(022);
    const bool saved = store.saveJSON(file);
    umask(previous);
    ASSERT_TRUE(saved);

    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(readFile(file), store.toJson().dump(4));

    SettingStore loaded;
    loaded.set("stale", Variant(1)); // removed by loadJSON
    Recorder changes(loaded);
    ASSERT_TRUE(loaded.loadJSON(file));
    EXPECT_EQ(loaded.toJson(), store.toJson());
    EXPECT_EQ(loaded.keys(), store.keys());
    EXPECT_EQ(changes.keys, store.keys()); // every key read is announced
    EXPECT_EQ(loaded.get("printer/name"), Variant("TL60"));
    EXPECT_EQ(loaded.get("printer/speed"), Variant(-3));
    EXPECT_EQ(loaded.get("printer/baud"), Variant(115200u));
    EXPECT_EQ(loaded.get("printer/ratio"), Variant(0.75));
    EXPECT_EQ(loaded.get("printer/style/bold"), Variant(true));
    EXPECT_TRUE(loaded.get("printer/nothing").isNull());
    EXPECT_TRUE(loaded.exists("printer/nothing"));
}

TEST_F(SettingStoreFiles, JsonFileThroughSaveAndLoadWithAutomaticType) {
    const std::string file = path("config.json");
    {
        std::ofstream out(file);
        out << std::string(5000, ' ') << "{}"; // longer than what replaces it
    }
    SettingStore store = sampleStore();
    ASSERT_TRUE(store.save(file));
    EXPECT_EQ(readFile(file), store.toJson().dump(4));
    SettingStore loaded;
    ASSERT_TRUE(loaded.load(file));
    EXPECT_EQ(loaded.toJson(), store.toJson());
    ASSERT_TRUE(loaded.load(file, SettingStore::JSON));
}

TEST_F(SettingStoreFiles, EmptyStoreSavesNull) {
    SettingStore store;
    const std::string file = path("empty.json");
    ASSERT_TRUE(store.saveJSON(file));
    EXPECT_EQ(readFile(file), "null");
    SettingStore loaded;
    loaded.set("x", Variant(1));
    ASSERT_TRUE(loaded.loadJSON(file));
    EXPECT_TRUE(loaded.empty());
}

TEST_F(SettingStoreFiles, SaveJsonFailures) {
    SettingStore store = sampleStore();
    EXPECT_FALSE(store.saveJSON(path("missing/dir/settings.json")));

    // A contradicting store cannot be written and leaves the file as it was.
    const std::string file = path("kept.json");
    ASSERT_TRUE(store.saveJSON(file));
    SettingStore broken;
    broken.set("a", Variant(1));
    broken.set("a/b", Variant(2));
    EXPECT_FALSE(broken.saveJSON(file));
    EXPECT_EQ(readFile(file), store.toJson().dump(4));
}

TEST_F(SettingStoreFiles, LoadJsonOfAMissingFileReturnsFalse) {
    SettingStore store = sampleStore();
    EXPECT_FALSE(store.loadJSON(path("missing.json")));
    EXPECT_EQ(store.toMap(), sampleStore().toMap());
}

TEST_F(SettingStoreFiles, LoadJsonParseErrorPropagatesAndChangesNothing) {
    const std::string file = path("bad.json");
    {
        std::ofstream out(file);
        out << R"({"a": 1,)";
    }
    SettingStore store = sampleStore();
    EXPECT_THROW(store.loadJSON(file), json::parse_error);
    EXPECT_EQ(store.toMap(), sampleStore().toMap());
}

TEST_F(SettingStoreFiles, SqliteRoundTripKeepsTypesExactly) {
    SettingStore store = sampleStore();
    store["custom"] = Variant("0x10", Variant::Int);
    store["empty"] = Variant("");
    VariantMap inner;
    inner["k"] = Variant(1);
    store["map"] = Variant(inner); // a Map variant kept as one entry
    const std::string file = path("settings.db");
    ASSERT_TRUE(store.saveSQLite(file));

    SettingStore loaded;
    loaded.set("untouched", Variant(9));
    Recorder changes(loaded);
    ASSERT_TRUE(loaded.loadSQLite(file));
    EXPECT_TRUE(changes.keys.empty()); // stored without the signal
    EXPECT_EQ(loaded.get("untouched"), Variant(9));
    loaded.erase("untouched");
    EXPECT_EQ(loaded.toMap(), store.toMap());
    EXPECT_EQ(loaded.get("map").type(), Variant::Map);

    // The table layout: key, value text, type number.
    ::SQLite::Database db(file, ::SQLite::OPEN_READONLY);
    ::SQLite::Statement query(db, "SELECT key, value, type FROM settings WHERE key = ?");
    query.bind(1, "printer/baud");
    ASSERT_TRUE(query.executeStep());
    EXPECT_EQ(query.getColumn(1).getString(), "115200");
    EXPECT_EQ(query.getColumn(2).getInt(), static_cast<int>(Variant::UInt));
    EXPECT_EQ(db.execAndGet("SELECT COUNT(*) FROM settings").getInt(),
              static_cast<int>(store.size()));
}

TEST_F(SettingStoreFiles, SqliteSaveReplacesTheTable) {
    const std::string file = path("settings.sqlite");
    SettingStore first = sampleStore();
    ASSERT_TRUE(first.save(file)); // automatic: "sqlite" in the extension
    SettingStore second;
    second.set("only", Variant(1));
    ASSERT_TRUE(second.save(file, SettingStore::SQLite));

    SettingStore loaded;
    ASSERT_TRUE(loaded.load(file));
    EXPECT_EQ(loaded.keys(), std::vector<std::string>{"only"});
    EXPECT_EQ(loaded.get("only"), Variant(1));
}

TEST_F(SettingStoreFiles, SqliteNullTextAndUnknownType) {
    const std::string file = path("legacy.db");
    {
        ::SQLite::Database db(file, ::SQLite::OPEN_READWRITE | ::SQLite::OPEN_CREATE);
        db.exec("CREATE TABLE settings (key TEXT PRIMARY KEY, value TEXT, type INTEGER)");
        db.exec("INSERT INTO settings VALUES ('n', NULL, 1), ('odd', '5', 9)");
    }
    SettingStore store;
    ASSERT_TRUE(store.loadSQLite(file));
    EXPECT_EQ(store.get("n"), Variant(""));
    EXPECT_EQ(store.get("odd").toString(), "5");
    EXPECT_TRUE(store.toJson()["odd"].is_null()); // an unknown tag converts to null
}

TEST_F(SettingStoreFiles, SqliteFailuresReturnFalse) {
    SettingStore store = sampleStore();
    EXPECT_FALSE(store.loadSQLite(path("missing.db")));
    EXPECT_FALSE(std::filesystem::exists(path("missing.db")));
    EXPECT_FALSE(store.saveSQLite(path("missing/dir/settings.db")));

    const std::string noTable = path("empty.db");
    {
        ::SQLite::Database db(noTable, ::SQLite::OPEN_READWRITE | ::SQLite::OPEN_CREATE);
        db.exec("CREATE TABLE other (x INTEGER)");
    }
    EXPECT_FALSE(store.loadSQLite(noTable));
    EXPECT_EQ(store.toMap(), sampleStore().toMap());
}

} // namespace
