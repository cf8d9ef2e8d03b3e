// Tests of the command line: defaults, positional device, verbosity counting, exit codes.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::optional<int> parse(std::vector<const char*> args, CommandLine& out) {
    args.insert(args.begin(), "voltrin");
    return CommandLine::parse(static_cast<int>(args.size()), args.data(), out);
}
} // namespace

TEST(CommandLine, Defaults) {
    CommandLine c;
    ASSERT_FALSE(parse({}, c));
    EXPECT_EQ(c.device, "/dev/printer");
    EXPECT_EQ(c.configFile, "./voltrin.json");
    EXPECT_EQ(c.port, 1413u);
    EXPECT_EQ(c.verbosity, 2u);
    EXPECT_EQ(c.level(), Log::Info);
    EXPECT_FALSE(c.global);
    EXPECT_FALSE(c.stdErr);
}

TEST(CommandLine, OptionsAndPositionalDevice) {
    CommandLine c;
    ASSERT_FALSE(parse({"/dev/usb/lp0", "-f", "/tmp/x.json", "-p", "9100", "-g", "-e"}, c));
    EXPECT_EQ(c.device, "/dev/usb/lp0");
    EXPECT_EQ(c.configFile, "/tmp/x.json");
    EXPECT_EQ(c.port, 9100u);
    EXPECT_TRUE(c.global);
    EXPECT_TRUE(c.stdErr);

    CommandLine d;
    ASSERT_FALSE(
        parse({"--device", "/dev/ttyUSB0", "--conf", "a.json", "--global", "--stderr"}, d));
    EXPECT_EQ(d.device, "/dev/ttyUSB0");
    EXPECT_EQ(d.configFile, "a.json");
    EXPECT_TRUE(d.global);
    EXPECT_TRUE(d.stdErr);
}

TEST(CommandLine, VerbosityCounting) {
    struct Case {
        std::vector<const char*> args;
        uint32_t verbosity;
        Log::Level level;
    };
    const Case cases[] = {
        {{"-v"}, 1, Log::Warning},
        {{"-v", "-v"}, 2, Log::Info},
        {{"-vvv"}, 3, Log::Debug},
        {{"-v", "-v", "-v", "-v", "-v"}, 3, Log::Debug},
        {{"--verbose", "0", "-v"}, 1, Log::Warning},
        {{"--verbose", "0"}, 0, Log::Error},
        {{"--verbose", "7"}, 7, Log::Debug},
    };
    for (const auto& k : cases) {
        CommandLine c;
        ASSERT_FALSE(parse(k.args, c));
        EXPECT_EQ(c.verbosity, k.verbosity) << k.args.size();
        EXPECT_EQ(c.level(), k.level) << k.args.size();
    }
}

TEST(CommandLine, ExitCodes) {
    CommandLine c;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(parse({"-V"}, c), 0);
    EXPECT_EQ(parse({"--help"}, c), 0);
    const auto notNumber = parse({"-p", "abc"}, c);
    const auto unknown = parse({"--frobnicate"}, c);
    const auto surplus = parse({"a", "b"}, c);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(notNumber && unknown && surplus);
    EXPECT_NE(*notNumber, 0);
    EXPECT_NE(*unknown, 0);
    EXPECT_NE(*surplus, 0);
}
