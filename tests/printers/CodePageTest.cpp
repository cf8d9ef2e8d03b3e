// Tests of the UTF-8 to printer code page conversion and the code table lookup.
#include "printers/CodePage.h"
#include "Helpers.h"
#include "RecordingDriver.h"
#include "SettingStore.h"
#include "printers/CodeTables.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace zelvo::PrinterManager::Printers;

namespace {

std::string bytes(std::initializer_list<unsigned char> list) {
    return std::string(list.begin(), list.end());
}

struct Conversion {
    const char* what;
    unsigned long ccsid;
    std::string utf8;
    std::string expected;
};

TEST(CodePageConversion, ConvertsToTheCodePageBytes) {
    const std::vector<Conversion> cases = {
        {"e acute on 858", 858, "\u00e9", bytes({0x82})},
        {"euro on 858", 858, "\u20ac", bytes({0xD5})},
        {"omega on 1253", 1253, "\u03a9", bytes({0xD9})},
        {"e acute missing on 1253: SUB becomes 0x80", 1253, "\u00e9", bytes({0x80})},
        {"euro missing on 437: 0x7F stays", 437, "\u20ac", bytes({0x7F})},
        {"ASCII unchanged", 1253, "Hello, 42!", "Hello, 42!"},
        {"astral character: one byte, one trailing 0x00", 1253, "a\U0001F600b",
         bytes({0x61, 0x80, 0x62, 0x00})},
        {"ill-formed UTF-8 becomes U+FFFD, then SUB, then 0x80", 1253, "a\xff",
         bytes({0x61, 0x80})},
        {"empty text", 858, "", ""},
        {"mixed line on 858", 858, "Caf\u00e9 2\u20ac",
         bytes({'C', 'a', 'f', 0x82, ' ', '2', 0xD5})},
    };
    for (const Conversion& c : cases)
        EXPECT_EQ(Helpers::utf8ToIbmCcsid(c.utf8, c.ccsid), c.expected) << c.what;
}

struct Failure {
    const char* what;
    unsigned long ccsid;
    std::string utf8;
    std::string message;
};

TEST(CodePageConversion, FailuresCarryIcuStatus) {
    const std::vector<Failure> cases = {
        {"unknown CCSID: file access error", 12345, "a",
         "Failed to obtain codepage converter: 4\n"},
        // ICU takes the CCSID as int32; a larger number must not wrap onto a real page (858).
        {"CCSID beyond 32 bits: illegal argument", (1UL << 32) + 858, "a",
         "Failed to obtain codepage converter: 1\n"},
        {"double-byte character overflows one byte per unit", 930, "\u4e00",
         "Failed to convert char set: 15\n"},
    };
    for (const Failure& c : cases) {
        try {
            Helpers::utf8ToIbmCcsid(c.utf8, c.ccsid);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
    }
}

struct Model {
    const char* name;
    const CodeTableMap& tables;
};

const std::vector<Model>& models() {
    static const std::vector<Model> all = {
        {"TL60", CodeTables::TL60},       {"mPlus2", CodeTables::mPlus2},
        {"KPM54", CodeTables::KPM54},     {"SK1311", CodeTables::SK1311},
        {"SK1211", CodeTables::SK1211},   {"XPM80", CodeTables::XPM80},
        {"CAPD247", CodeTables::CAPD247},
    };
    return all;
}

// The printers' default tables only work if ICU can load every CCSID a map names, and text
// layout assumes each of them leaves ASCII as it is.
TEST(CodeTables, EveryCcsidLoadsAndKeepsAscii) {
    for (const Model& model : models()) {
        std::vector<unsigned long> ccsids{model.tables.fallback};
        for (const CodeTable& table : model.tables.tables)
            ccsids.push_back(table.ccsid);
        for (unsigned long ccsid : ccsids) {
            try {
                EXPECT_EQ(Helpers::utf8ToIbmCcsid("Total: 12.50 #A-z~", ccsid),
                          "Total: 12.50 #A-z~")
                    << model.name << " CCSID " << ccsid;
            } catch (const std::exception& e) {
                ADD_FAILURE() << model.name << " CCSID " << ccsid << ": " << e.what();
            }
        }
    }
}

SettingStore config(long table, long ccsid) {
    SettingStore store;
    store.setValue("charCodeTableNumber", table);
    store.setValue("charCodePageCcsid", ccsid);
    return store;
}

struct Lookup {
    const char* what;
    const CodeTableMap& tables;
    long table;
    long ccsid;
    unsigned long expected;
};

TEST(CodeTables, IbmCcsidLookup) {
    const std::vector<Lookup> cases = {
        {"TL60 default", CodeTables::TL60, 19, 0, 858},
        {"mPlus2 default", CodeTables::mPlus2, 47, 0, 1253},
        {"KPM54 default", CodeTables::KPM54, 0, 0, 437},
        {"SK1311 default", CodeTables::SK1311, 36, 0, 1253},
        {"SK1211 default", CodeTables::SK1211, 36, 0, 1253},
        {"XPM80 default", CodeTables::XPM80, 1, 0, 1253},
        {"CAPD247 default", CodeTables::CAPD247, 128, 0, 1253},
        {"explicit CCSID wins over the table", CodeTables::TL60, 19, 1252, 1252},
        {"table 275 is table 19", CodeTables::TL60, 275, 0, 858},
        {"table missing: fallback", CodeTables::mPlus2, 16, 0, 437},
        {"table missing: CAPD247 fallback", CodeTables::CAPD247, 2, 0, 1252},
        {"CAPD247 katakana table: fallback", CodeTables::CAPD247, 1, 0, 1252},
        {"CAPD247 table 254: fallback", CodeTables::CAPD247, 254, 0, 1252},
        {"first entry found", CodeTables::TL60, 0, 0, 437},
        {"last entry found", CodeTables::mPlus2, 52, 0, 1258},
    };
    for (const Lookup& c : cases)
        EXPECT_EQ(ibmCcsid(config(c.table, c.ccsid), c.tables), c.expected) << c.what;
}

TEST(CodeTables, MissingKeysMeanTableZero) {
    EXPECT_EQ(ibmCcsid(SettingStore(), CodeTables::SK1311), 437UL); // fallback
    EXPECT_EQ(ibmCcsid(SettingStore(), CodeTables::mPlus2), 437UL); // table 0
    EXPECT_EQ(ibmCcsid(SettingStore(), CodeTables::CAPD247), 1252UL);
}

TEST(CodeTables, LookupFeedsTheConversion) {
    // mPlus2 with table 16, which it lacks: 437, where the euro sign is missing.
    const unsigned long ccsid = ibmCcsid(config(16, 0), CodeTables::mPlus2);
    EXPECT_EQ(Helpers::utf8ToIbmCcsid("\u20ac\u00e9", ccsid), bytes({0x7F, 0x82}));
}

TEST(CodePageDriver, Utf8LinePrintsConvertedBytes) {
    RecordingDriver driver;
    driver.printUtf8Line("\u00e9\u20ac");
    ASSERT_EQ(driver.mTransmissions.size(), 1U);
    EXPECT_EQ(driver.mTransmissions[0], (RecordingDriver::Bytes{0x82, 0xD5, 0x0A}));
}

} // namespace
