// Tests of Log: prefixes, colours, the level mask and the literal string form, read back from
// the standard-error mirror that syslog writes.
#include "Log.h"
#include "StderrCapture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { Log::open("voltrin-logtest", true, false); }
    void TearDown() override {
        Log::setColor(false);
        Log::setLogfmt(false);
        Log::setLevel(Log::Debug);
        Log::close();
    }
};

} // namespace

TEST_F(LogTest, MessagesBeforeSetLevelPass) {
    StderrCapture capture;
    Log::debug("early %d", 1);
    EXPECT_NE(capture.text().find("early 1"), std::string::npos);
}

TEST_F(LogTest, LevelMasksLowerPriorities) {
    Log::setLevel(Log::Warning);
    EXPECT_EQ(Log::level(), Log::Warning);
    StderrCapture capture;
    Log::error("e-line");
    Log::warning("w-line");
    Log::info("i-line");
    Log::debug("d-line");
    const std::string out = capture.text();
    EXPECT_NE(out.find("e-line"), std::string::npos);
    EXPECT_NE(out.find("w-line"), std::string::npos);
    EXPECT_EQ(out.find("i-line"), std::string::npos);
    EXPECT_EQ(out.find("d-line"), std::string::npos);
}

TEST_F(LogTest, ColourWrapsBodyNotPrefix) {
    Log::setColor(true);
    StderrCapture capture;
    Log::error("boom %s", "now");
    Log::print(static_cast<Log::Level>(9), "odd");
    const std::string out = capture.text();
    EXPECT_TRUE(
        std::regex_search(out, std::regex(R"(\[ *\d+\.\d{3}\] \x1b\[31mboom now\x1b\[39m)")))
        << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\] odd\x1b\[39m)"))) << out;
}

TEST_F(LogTest, ElapsedPrefixIsNineWideWithThreeDecimals) {
    StderrCapture capture;
    Log::info("tick");
    const std::string out = capture.text();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\[([ 0-9.]{9})\] tick)"))) << out;
    EXPECT_TRUE(std::regex_match(m[1].str(), std::regex(R"( *\d+\.\d{3})"))) << m[1];
}

TEST_F(LogTest, LogfmtPrefix) {
    Log::setLogfmt(true);
    StderrCapture capture;
    Log::warning("fmt");
    EXPECT_TRUE(std::regex_search(
        capture.text(), std::regex(R"(ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d level=warn fmt)")));
}

TEST_F(LogTest, StringFormIsLiteral) {
    StderrCapture capture;
    Log::print(Log::Info, std::string("100%d done %s"));
    EXPECT_NE(capture.text().find("100%d done %s"), std::string::npos);
}

TEST(LogNames, LevelTexts) {
    EXPECT_EQ(Log::levelToStr(Log::Error), "error");
    EXPECT_EQ(Log::levelToStr(Log::Warning), "warn");
    EXPECT_EQ(Log::levelToStr(Log::Info), "info");
    EXPECT_EQ(Log::levelToStr(Log::Debug), "debug");
    EXPECT_EQ(Log::levelToStr(static_cast<Log::Level>(7)), "<unknown-level(7)>");

    struct Case {
        const char* text;
        Log::Level level;
    };
    const Case cases[] = {{"error", Log::Error}, {"warn", Log::Warning}, {"warning", Log::Warning},
                          {"debug", Log::Debug}, {"info", Log::Info},    {"WARN", Log::Info},
                          {"", Log::Info},       {"Error", Log::Info}};
    for (const auto& c : cases)
        EXPECT_EQ(Log::levelFromStr(c.text), c.level) << c.text;
}

TEST(LogNames, SetIdAndStdErrStoreValues) {
    Log::setId("voltrin-a");
    EXPECT_EQ(Log::id(), "voltrin-a");
    Log::setStdErr(true);
    EXPECT_TRUE(Log::stdErr());
    Log::close();
    EXPECT_EQ(Log::id(), "");
}
