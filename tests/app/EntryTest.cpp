// Process-level tests of the built daemon: help, version, bad options, stderr mirroring and
// the stop sequence on SIGINT.
#include "Process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

namespace {
std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// A configuration file of the test's own, so the daemon never writes into the working directory.
std::string configPath() { return "/tmp/voltrin-entry-" + std::to_string(getpid()) + ".json"; }

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}
} // namespace

TEST(Entry, VersionAndHelpPrintBannerAndExitZeroWithoutLogging) {
    for (const char* flag : {"-V", "--version", "-h", "--help"}) {
        Process p({VOLTRIN_BINARY, flag, "-e"});
        EXPECT_EQ(p.wait(10s), 0) << flag;
        EXPECT_EQ(firstLine(p.out()).rfind("Printer Manager v1.1.14 (", 0), 0u) << p.out();
        EXPECT_EQ(firstLine(p.out()).back(), ')') << p.out();
        EXPECT_NE(p.out().find("Print version and exit."), std::string::npos);
        EXPECT_EQ(p.err(), "") << flag;
    }
}

TEST(Entry, PortThatIsNotANumberIsRejected) {
    Process p({VOLTRIN_BINARY, "-p", "abc"});
    EXPECT_NE(p.wait(10s), 0);
    EXPECT_NE(p.err().find("abc"), std::string::npos) << p.err();
}

TEST(Entry, StderrMirrorAndOneStopOnTwoSignals) {
    Process p({VOLTRIN_BINARY, "-e", "--verbose", "7", "-p", "0", "-f", configPath(), "/nonexistent/printer"});
    ASSERT_TRUE(p.waitForStderr("Main blocks here!", 20s)) << p.err();
    EXPECT_NE(p.err().find("Printer Manager v1.1.14 ("), std::string::npos);
    EXPECT_NE(p.err().find(") started"), std::string::npos);
    EXPECT_NE(p.err().find("Log level is 7."), std::string::npos);

    kill(p.pid(), SIGINT);
    kill(p.pid(), SIGINT);
    EXPECT_EQ(p.wait(20s), 0);
    EXPECT_EQ(countOf(p.err(), "Signal caught: Interrupt [2]"), 1) << p.err();
}

TEST(Entry, SigtermStopsAndNoMirrorWithoutFlag) {
    Process p({VOLTRIN_BINARY, "-p", "0", "-f", configPath(), "/nonexistent/printer"});
    ASSERT_TRUE(p.waitForHandler(SIGTERM, 20s));
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.wait(20s), 0);
    EXPECT_EQ(p.err(), "");
}

TEST(Entry, WarningLevelHidesInfoAfterStart) {
    Process p({VOLTRIN_BINARY, "-e", "-v", "-p", "0", "-f", configPath(), "/nonexistent/printer"});
    ASSERT_TRUE(p.waitForStderr("Log level is 1.", 20s)) << p.err();
    kill(p.pid(), SIGINT);
    EXPECT_EQ(p.wait(20s), 0);
    // The two start lines pass at every level; the later info line does not.
    EXPECT_EQ(p.err().find("Signal caught"), std::string::npos) << p.err();
}

TEST(Entry, StartsWithoutPrinterAndWritesTheConfigurationFile) {
    std::remove(configPath().c_str());
    Process p({VOLTRIN_BINARY, "-e", "-vvv", "-p", "0", "-f", configPath(), "/nonexistent/printer"});
    ASSERT_TRUE(p.waitForStderr("Main blocks here!", 20s)) << p.err();
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.wait(20s), 0);
    EXPECT_NE(p.err().find("Device '/nonexistent/printer': No such file or directory"),
              std::string::npos)
        << p.err();
    EXPECT_NE(p.err().find("Stopped!"), std::string::npos) << p.err();
    std::ifstream in(configPath());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("\"statusPeriod\": 500"), std::string::npos) << text.str();
    std::remove(configPath().c_str());
}

TEST(Entry, UnknownModelIsRejected) {
    Process p({VOLTRIN_BINARY, "-m", "tl61"});
    EXPECT_NE(p.wait(10s), 0);
    EXPECT_NE(p.err().find("tl61"), std::string::npos) << p.err();
}
