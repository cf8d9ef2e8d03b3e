// Tests of Types::Status: the flag table, bits, active flag, error tests and JSON form.
#include "types/Status.h"

#include <gtest/gtest.h>

#include <bitset>
#include <memory>
#include <stdexcept>
#include <string>

using zelvo::PrinterManager::Types::Status;
using json = nlohmann::json;

namespace {

// The default table: bit, kind, name.
struct Entry {
    unsigned char bit;
    int kind;
    const char* name;
};
const Entry kTable[] = {
    {1, 0, "motorMoving"},
    {2, 0, "drawerHigh"},
    {5, 2, "platenOpen"},
    {6, 1, "feedBySwitch"},
    {10, 2, "markDetectionPaperJam"},
    {11, 2, "autocutter"},
    {13, 2, "head"},
    {14, 2, "automaticRecovery"},
    {16, 1, "paperNearEnd"},
    {18, 2, "outOfPaper"},
    {22, 1, "paperOnMark"},
    {24, 1, "presenterHasPaper"},
    {26, 2, "presenterFeed"},
    {29, 2, "presenterPaperJam"},
};

std::bitset<32> bitsOf(std::initializer_list<int> positions) {
    std::bitset<32> bits;
    for (int p : positions)
        bits.set(p);
    return bits;
}

// The JSON form of a default-table status: every key false, except those named.
json allFalseExcept(std::initializer_list<const char*> trueKeys) {
    json out = json::object();
    for (const auto& e : kTable)
        out[e.name] = false;
    out["active"] = false;
    for (const char* key : trueKeys)
        out[key] = true;
    return out;
}

} // namespace

TEST(Status, DefaultTableIsExactlyTheSpecTable) {
    const Status s;
    ASSERT_EQ(s.flags().size(), 14u);
    auto it = s.flags().begin();
    for (const auto& e : kTable) {
        ASSERT_NE(it, s.flags().end());
        EXPECT_EQ(it->first, e.bit);
        EXPECT_EQ(it->second.kind, e.kind) << e.name;
        EXPECT_EQ(it->second.name, e.name);
        ++it;
    }
    EXPECT_EQ(Status(bitsOf({3, 4})).flags().size(), 14u);
}

TEST(Status, DefaultConstructedIsAllFalse) {
    const Status s;
    const json j = s.toJson();
    EXPECT_EQ(j.size(), 15u);
    EXPECT_EQ(j, allFalseExcept({}));
    EXPECT_FALSE(s.hasError());
    EXPECT_FALSE(s.hasAutomaticRecovery());
    EXPECT_FALSE(s.active());
    EXPECT_EQ(s.toBitset().to_ulong(), 0u);
    EXPECT_EQ(j.dump().find(' '), std::string::npos);
    // Keys in the JSON library's sorted order.
    EXPECT_EQ(j.begin().key(), "active");
}

TEST(Status, FromBitsetCases) {
    struct Case {
        const char* name;
        std::bitset<32> bits;
        bool error;
        bool active;
        json form;
    };
    const Case cases[] = {
        {"paper near end only", bitsOf({16}), false, false, allFalseExcept({"paperNearEnd"})},
        {"out of paper", bitsOf({18}), true, false, allFalseExcept({"outOfPaper"})},
        {"out of paper and active", bitsOf({18, 4}), true, true,
         allFalseExcept({"outOfPaper", "active"})},
        {"unnamed bit 3 only", bitsOf({3}), false, false, allFalseExcept({})},
        {"bit 4 is the active flag", bitsOf({4}), false, true, allFalseExcept({"active"})},
        {"unnamed bits", bitsOf({0, 7, 8, 9, 12, 15, 17, 19, 20, 21, 23, 25, 27, 28, 30, 31}),
         false, false, allFalseExcept({})},
        {"kind 0 and 1 are no errors", bitsOf({1, 2, 6, 16, 22, 24}), false, false,
         allFalseExcept({"motorMoving", "drawerHigh", "feedBySwitch", "paperNearEnd", "paperOnMark",
                         "presenterHasPaper"})},
        {"platen open", bitsOf({5}), true, false, allFalseExcept({"platenOpen"})},
        {"mark detection jam", bitsOf({10}), true, false,
         allFalseExcept({"markDetectionPaperJam"})},
        {"autocutter", bitsOf({11}), true, false, allFalseExcept({"autocutter"})},
        {"head", bitsOf({13}), true, false, allFalseExcept({"head"})},
        {"automatic recovery", bitsOf({14}), true, false, allFalseExcept({"automaticRecovery"})},
        {"presenter feed", bitsOf({26}), true, false, allFalseExcept({"presenterFeed"})},
        {"presenter jam", bitsOf({29}), true, false, allFalseExcept({"presenterPaperJam"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Status viaCall;
        viaCall.fromBitset(c.bits);
        const Status viaConstructor(c.bits);
        for (const Status* s : {static_cast<const Status*>(&viaCall), &viaConstructor}) {
            EXPECT_EQ(s->hasError(), c.error);
            EXPECT_EQ(s->active(), c.active);
            EXPECT_EQ(s->toBitset(), c.bits);
            EXPECT_EQ(s->toJson(), c.form);
        }
    }
}

TEST(Status, UnnamedBit3KeepsItsValue) {
    Status s;
    s.fromBitset(bitsOf({3}));
    EXPECT_EQ(s.toBitset().to_ulong(), 8u);
    EXPECT_FALSE(s.hasError());
    const json form = s.toJson(); // items() of a temporary would dangle
    for (const auto& [key, value] : form.items())
        EXPECT_FALSE(value.get<bool>()) << key;
}

TEST(Status, ShorthandReaders) {
    const Status none;
    EXPECT_FALSE(none.getIsMotorRunning());
    EXPECT_FALSE(none.hasPlatenOpen());
    EXPECT_FALSE(none.hasAutoCutterError());
    EXPECT_FALSE(none.hasOutOfPaper());

    EXPECT_TRUE(Status(bitsOf({1})).getIsMotorRunning());
    EXPECT_TRUE(Status(bitsOf({5})).hasPlatenOpen());
    EXPECT_TRUE(Status(bitsOf({11})).hasAutoCutterError());
    EXPECT_TRUE(Status(bitsOf({18})).hasOutOfPaper());
    EXPECT_TRUE(Status(bitsOf({14})).hasAutomaticRecovery());
    EXPECT_FALSE(Status(bitsOf({1})).hasOutOfPaper());
}

TEST(Status, SetActiveChangesOnlyTheActiveFlag) {
    Status s;
    s.fromBitset(std::bitset<32>(0));
    s.setActive(true);
    EXPECT_TRUE(s.active());
    EXPECT_EQ(s.toBitset().to_ulong(), 0u);
    EXPECT_EQ(s.toJson(), allFalseExcept({"active"}));

    s.fromBitset(bitsOf({4, 16}));
    s.setActive(false);
    EXPECT_FALSE(s.active());
    EXPECT_EQ(s.toBitset(), bitsOf({4, 16}));

    // fromBitset takes the active flag from bit 4 again.
    s.setActive(true);
    s.fromBitset(bitsOf({16}));
    EXPECT_FALSE(s.active());
}

TEST(Status, AddFlagDuplicateKeepsTheExistingEntry) {
    Status s;
    s.addFlag({18, {1, "paperGone"}});
    EXPECT_EQ(s.flags().size(), 14u);
    EXPECT_EQ(s.flags().at(18).name, "outOfPaper");
    EXPECT_EQ(s.flags().at(18).kind, 2);
    s.fromBitset(bitsOf({18}));
    const json j = s.toJson();
    EXPECT_TRUE(j.at("outOfPaper").get<bool>());
    EXPECT_FALSE(j.contains("paperGone"));
    EXPECT_TRUE(s.hasError());
}

TEST(Status, AddFlagNamesANewBit) {
    Status s;
    // As the Hengstler XPM80 does: bits 27, 28, 30, 31 of kind 1.
    s.addFlag({27, {1, "bit27"}});
    s.addFlag({28, {1, "bit28"}});
    s.addFlag({30, {1, "bit30"}});
    s.addFlag({31, {1, "bit31"}});
    EXPECT_EQ(s.flags().size(), 18u);
    EXPECT_EQ(s.toJson().size(), 19u);
    s.fromBitset(bitsOf({31}));
    EXPECT_TRUE(s.toJson().at("bit31").get<bool>());
    EXPECT_FALSE(s.hasError()); // kind 1 is not an error

    s.addFlag({3, {2, "customError"}});
    s.fromBitset(bitsOf({3}));
    EXPECT_TRUE(s.hasError());
    EXPECT_TRUE(s.toJson().at("customError").get<bool>());
    // The table iterates in ascending bit order.
    EXPECT_EQ(s.flags().begin()->first, 1);
    EXPECT_EQ(std::next(s.flags().begin())->first, 2);
    EXPECT_EQ(std::next(s.flags().begin(), 2)->first, 3);
}

TEST(Status, AddFlagRefusesBitsPast31) {
    Status s;
    EXPECT_THROW(s.addFlag({32, {2, "nope"}}), std::out_of_range);
    EXPECT_THROW(s.addFlag({255, {2, "nope"}}), std::out_of_range);
    EXPECT_EQ(s.flags().size(), 14u);
    EXPECT_NO_THROW(s.toJson());
}

TEST(Status, CopiesCarryTableBitsAndActive) {
    Status a(bitsOf({4, 18}));
    a.addFlag({30, {1, "extra"}});
    Status b = a;
    EXPECT_EQ(b.toJson(), a.toJson());
    EXPECT_EQ(b.toBitset(), a.toBitset());
    EXPECT_TRUE(b.active());
    EXPECT_TRUE(b.toJson().contains("extra"));

    b.fromBitset(0);
    EXPECT_TRUE(a.hasOutOfPaper());
    Status c;
    c = a;
    EXPECT_EQ(c.toJson(), a.toJson());
}

TEST(Status, SameStatusMeansSameBits) {
    Status a(bitsOf({16}));
    Status b;
    b.fromBitset(bitsOf({16}));
    b.setActive(true); // not in the bits: does not count
    EXPECT_EQ(a.toBitset(), b.toBitset());
}

// The six status operations are virtual (a driver may derive), and deleting a derived
// status through a Status pointer is defined (virtual destructor added after those slots).
TEST(Status, VirtualOperationsCanBeOverridden) {
    struct AlwaysError : Status {
        bool hasError() const override { return true; }
        std::bitset<32> toBitset() const override { return std::bitset<32>(0xffffffffu); }
    };
    std::unique_ptr<Status> s = std::make_unique<AlwaysError>();
    EXPECT_TRUE(s->hasError());
    EXPECT_EQ(s->toBitset().count(), 32u);
    static_assert(std::has_virtual_destructor_v<Status>);
}
