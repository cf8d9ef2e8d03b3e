// Tests of Utils: wildcard matching, paths and extensions.
#include "Utils.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(Utils, Match) {
    struct Case {
        const char* text;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"status.json", "*.json", true},
        {"a.json", "?.json", true},
        {"ab.json", "?.json", false},
        {"xaby", "*a*y", true},
        {"xabz", "*a*y", false},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
        {"a/b/c", "a/*", true},
        {"ab", "a/*", false},
        {"aaa", "a*a*a*a", false},
        {"abc", "abc", true},
        {"abcabd", "*abd", true},
        {"x", "??", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utils::match(c.text, c.pattern), c.matches) << c.text << " ~ " << c.pattern;
}

TEST(Utils, MatchLongPatternDoesNotBlowUp) {
    const std::string text(5000, 'a');
    const std::string pattern = std::string(2000, '*') + "b";
    EXPECT_FALSE(Utils::match(text, pattern));
}

TEST(Utils, CombinePath) {
    EXPECT_EQ(Utils::combinePath("dir", "file"), "dir/file");
    EXPECT_EQ(Utils::combinePath("dir/", "/file"), "dir/file");
    EXPECT_EQ(Utils::combinePath("dir", ""), "dir");
    EXPECT_EQ(Utils::combinePath("", "/file"), "file");
    EXPECT_EQ(Utils::combinePath("", "file"), "file");
}

TEST(Utils, FileExtension) {
    EXPECT_EQ(Utils::getFileExtension("settings.sqlite"), ".sqlite");
    EXPECT_EQ(Utils::getFileExtension("a.b.json"), ".json");
    EXPECT_EQ(Utils::getFileExtension("noext"), "");
}

TEST(Utils, FileExistsAndPid) {
    EXPECT_TRUE(Utils::fileExists("/"));
    EXPECT_FALSE(Utils::fileExists("/nonexistent/voltrin/path"));
    EXPECT_EQ(Utils::getProcessId(), std::to_string(getpid()));
}
