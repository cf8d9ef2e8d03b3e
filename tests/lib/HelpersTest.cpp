// Tests of Helpers: hex conversion, replacing, escaping and symbolic links.
#include "Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using Bytes = std::vector<unsigned char>;

TEST(Helpers, HexToBytes) {
    EXPECT_EQ(Helpers::hexToBytes("abc"), (Bytes{0x0A, 0xBC}));
    EXPECT_EQ(Helpers::hexToBytes("1b40"), (Bytes{0x1B, 0x40}));
    EXPECT_EQ(Helpers::hexToBytes(""), Bytes{});
    EXPECT_EQ(Helpers::hexToBytes("zz1g"), (Bytes{0x00, 0x01}));
}

TEST(Helpers, BytesToHex) {
    EXPECT_EQ(Helpers::bytesToHex(Bytes{0x1B, 0x40}, true), "1b 40 ");
    EXPECT_EQ(Helpers::bytesToHex(Bytes{0x1B, 0x0a}), "1b0a");
    EXPECT_EQ(Helpers::bytesToHex(0x0102A0FFu), "0102a0ff");
}

TEST(Helpers, StrReplaceNeverRescansReplacement) {
    EXPECT_EQ(Helpers::strReplace("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(Helpers::strReplace("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(Helpers::strReplace("abc", "", "x"), "abc");
    EXPECT_EQ(Helpers::strReplace("abc", "z", "x"), "abc");
}

TEST(Helpers, CountOccurrencesDoesNotOverlap) {
    EXPECT_EQ(Helpers::countOccurancesOfString("aaaa", "aa"), 2u);
    EXPECT_EQ(Helpers::countOccurancesOfString("abcabc", "bc"), 2u);
    EXPECT_EQ(Helpers::countOccurancesOfString("abc", ""), 0u);
}

TEST(Helpers, Escape) {
    const std::string in = std::string("a\\b?'\"\a\b\f\n\r\t\v", 13) + std::string(1, '\0') + "z";
    EXPECT_EQ(Helpers::escape(in), "a\\\\b\\?\\'\\\"\\a\\b\\f\\n\\r\\t\\v\\0z");
    EXPECT_EQ(Helpers::escapeChar("a,b,,c", ','), "a\\,b\\,\\,c");
}

TEST(Helpers, Symlinks) {
    char dirTemplate[] = "/tmp/voltrin-helpers-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::filesystem::path dir = dirTemplate;
    const auto target = (dir / "lp0").string();
    const auto link = (dir / "printer").string();
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);

    EXPECT_TRUE(Helpers::isSymlink(link));
    EXPECT_FALSE(Helpers::isSymlink(dir.string()));
    EXPECT_FALSE(Helpers::isSymlink((dir / "missing").string()));
    EXPECT_EQ(Helpers::readSymlink(link), std::make_pair(true, target));
    EXPECT_EQ(Helpers::readSymlink(dir.string()), std::make_pair(false, std::string()));

    const std::string longTarget(1023, 'x');
    const auto longLink = (dir / "long").string();
    ASSERT_EQ(symlink(longTarget.c_str(), longLink.c_str()), 0);
    EXPECT_EQ(Helpers::readSymlink(longLink).second, longTarget);

    std::filesystem::remove_all(dir);
}
