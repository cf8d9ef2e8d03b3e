// Tests of Types::Barcode and Types::QrCode: the name maps and the constructors.
#include "types/Barcode.h"
#include "types/QrCode.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

using zelvo::PrinterManager::Types::Barcode;
using zelvo::PrinterManager::Types::QrCode;

namespace {

// The text of the std::out_of_range that `f` throws, or "no exception".
template <typename F> std::string outOfRangeText(F&& f) {
    try {
        f();
    } catch (const std::out_of_range& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other exception: ") + e.what();
    }
    return "no exception";
}

} // namespace

TEST(Barcode, TypeMapIsExactlyTheTable) {
    const std::map<std::string, Barcode::Type> expected{
        {"", Barcode::UPCA},           {"UPCA", Barcode::UPCA},       {"UPCE", Barcode::UPCE},
        {"JAN13", Barcode::JAN13},     {"JAN8", Barcode::JAN8},       {"CODE39", Barcode::CODE39},
        {"ITF", Barcode::ITF},         {"CODABAR", Barcode::CODABAR}, {"CODE93", Barcode::CODE93},
        {"CODE128", Barcode::CODE128}, {"CODE32", Barcode::CODE32},
    };
    EXPECT_EQ(Barcode::typemap.size(), 11u);
    EXPECT_EQ(Barcode::typemap, expected);
}

TEST(Barcode, EnumerationValues) {
    const std::pair<Barcode::Type, int> types[] = {
        {Barcode::UPCA, 0},    {Barcode::UPCE, 1},   {Barcode::JAN13, 2},   {Barcode::JAN8, 3},
        {Barcode::CODE39, 4},  {Barcode::ITF, 5},    {Barcode::CODABAR, 6}, {Barcode::CODE93, 7},
        {Barcode::CODE128, 8}, {Barcode::CODE32, 9},
    };
    for (const auto& [type, value] : types)
        EXPECT_EQ(static_cast<int>(type), value);
    EXPECT_EQ(Barcode::None, 0);
    EXPECT_EQ(Barcode::Over, 1);
    EXPECT_EQ(Barcode::Under, 2);
    EXPECT_EQ(Barcode::Both, 3);
    static_assert(sizeof(Barcode::Type) == 4);
    static_assert(sizeof(Barcode::HRI) == 4);
}

TEST(Barcode, HriMapIsExactlyTheTable) {
    const std::map<std::string, Barcode::HRI> expected{
        {"", Barcode::None},       {"none", Barcode::None}, {"over", Barcode::Over},
        {"under", Barcode::Under}, {"both", Barcode::Both},
    };
    EXPECT_EQ(Barcode::hrimap.size(), 5u);
    EXPECT_EQ(Barcode::hrimap, expected);
}

TEST(Barcode, BuiltFromNames) {
    for (const auto& [typeName, type] : Barcode::typemap)
        for (const auto& [hriName, hri] : Barcode::hrimap) {
            const Barcode b("0123456789", typeName, hriName);
            EXPECT_EQ(b.code(), "0123456789");
            EXPECT_EQ(b.type(), type) << typeName;
            EXPECT_EQ(b.hri(), hri) << hriName;
        }
}

TEST(Barcode, EmptyNamesGiveUpcaWithoutReadableDigits) {
    const Barcode b("12345678901", "", "");
    EXPECT_EQ(b.type(), Barcode::UPCA);
    EXPECT_EQ(b.hri(), Barcode::None);
    EXPECT_EQ(b.code(), "12345678901");
}

TEST(Barcode, UnknownNamesThrowMapAt) {
    struct Case {
        const char* type;
        const char* hri;
    };
    const Case cases[] = {
        {"code128", ""},  {"Code128", "none"}, {"upca", "both"}, {"EAN13", ""},
        {" UPCA", ""},    {"UPCA ", ""},       {"CODE 39", ""},  {"UPCA", "None"},
        {"UPCA", "BOTH"}, {"", "below"},       {"", " "},        {"bad", "bad"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outOfRangeText([&] { Barcode b("1", c.type, c.hri); }), "map::at")
            << "type [" << c.type << "] hri [" << c.hri << "]";
}

TEST(Barcode, BuiltFromValuesStoresThemUnchanged) {
    const Barcode b("", Barcode::CODE128, Barcode::Both);
    EXPECT_EQ(b.code(), "");
    EXPECT_EQ(b.type(), Barcode::CODE128);
    EXPECT_EQ(b.hri(), Barcode::Both);
    const Barcode odd("x", static_cast<Barcode::Type>(42), static_cast<Barcode::HRI>(-3));
    EXPECT_EQ(static_cast<int>(odd.type()), 42);
    EXPECT_EQ(static_cast<int>(odd.hri()), -3);
}

TEST(Barcode, CodeIsPassedOnUnchanged) {
    const std::string code("A\0B\xff lower", 11);
    const Barcode b(code, "CODE39", "under");
    EXPECT_EQ(b.code(), code);
    const Barcode copy = b;
    EXPECT_EQ(copy.code(), code);
    EXPECT_EQ(copy.type(), Barcode::CODE39);
    EXPECT_EQ(copy.hri(), Barcode::Under);
}

TEST(QrCode, EcMapIsExactlyTheTable) {
    const std::map<std::string, QrCode::ErrorCorrection> expected{
        {"", QrCode::Medium},           {"l", QrCode::Low},         {"low", QrCode::Low},
        {"m", QrCode::Medium},          {"medium", QrCode::Medium}, {"q", QrCode::Quartile},
        {"quartile", QrCode::Quartile}, {"h", QrCode::High},        {"high", QrCode::High},
    };
    EXPECT_EQ(QrCode::ecmap.size(), 9u);
    EXPECT_EQ(QrCode::ecmap, expected);
    EXPECT_EQ(QrCode::Low, 0);
    EXPECT_EQ(QrCode::Medium, 1);
    EXPECT_EQ(QrCode::Quartile, 2);
    EXPECT_EQ(QrCode::High, 3);
    static_assert(sizeof(QrCode::ErrorCorrection) == 4);
}

TEST(QrCode, BuiltFromNames) {
    for (const auto& [name, level] : QrCode::ecmap) {
        const QrCode q("https://example.org", name);
        EXPECT_EQ(q.code(), "https://example.org");
        EXPECT_EQ(q.errorCorrection(), level) << name;
    }
}

TEST(QrCode, EmptyLevelNameIsMedium) {
    EXPECT_EQ(QrCode("data", "").errorCorrection(), QrCode::Medium);
}

TEST(QrCode, UnknownLevelNamesThrowMapAt) {
    for (const char* name :
         {"H", "L", "M", "Q", "High", "LOW", "Medium", "x", " ", "h ", "highest"})
        EXPECT_EQ(outOfRangeText([&] { QrCode q("data", name); }), "map::at") << "[" << name << "]";
}

TEST(QrCode, EmptyCodeIsAccepted) {
    const QrCode q("", "q");
    EXPECT_EQ(q.code(), "");
    EXPECT_EQ(q.errorCorrection(), QrCode::Quartile);
}

TEST(QrCode, BuiltFromValueAndCopied) {
    const QrCode q("payload", QrCode::High);
    QrCode copy("other", QrCode::Low);
    copy = q;
    EXPECT_EQ(copy.code(), "payload");
    EXPECT_EQ(copy.errorCorrection(), QrCode::High);
}
