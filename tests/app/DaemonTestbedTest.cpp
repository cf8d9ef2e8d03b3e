// The built daemon against a TL60 in a umockdev testbed: the unmodified binary, under the
// testbed's preload library, detects the printer, configures it and writes its configuration.
#include "Process.h"
#include "Testbed.h"
#include "vprinter/Printed.h"
#include "vprinter/Tl60.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <nlohmann/json.hpp>

using namespace std::chrono_literals;

TEST(DaemonTestbed, DetectsConfiguresAndWritesTheConfiguration) {
    if (!Testbed::available())
        GTEST_SKIP() << "not running under umockdev-wrapper";
    Testbed testbed; // sets UMOCKDEV_DIR, which the daemon inherits with the preload library
    testbed.add(Testbed::usbPrinter(0,
                                    "A: manufacturer=Custom Engineering S.p.A.\nA: product=TL60\n",
                                    "A: bInterfaceNumber=00\nA: bInterfaceProtocol=02\n"));
    testbed.addSymlink("/dev/printer", "usb/lp0");
    vprinter::Tl60 printer(testbed.devFd("/dev/usb/lp0"));

    const std::string config = "/tmp/voltrin-daemon-" + std::to_string(getpid()) + ".json";
    std::ofstream(config) << R"({"printer": {"reverse": false}, "note": "kept"})";
    Process daemon({VOLTRIN_BINARY, "-e", "-vvv", "-d", "/dev/printer", "-f", config});
    ASSERT_TRUE(daemon.waitForStderr("Main blocks here!", 30s)) << daemon.err();
    EXPECT_NE(daemon.err().find(" Model        : Custom TL60"), std::string::npos);

    // The file's printer section reached the printer: upside-down printing switched off.
    const auto items = printer.printed();
    const bool reverseOff = std::any_of(items.begin(), items.end(), [](const vprinter::Printed& p) {
        return p.raw == vprinter::Bytes{0x1B, 0x7B, 0x00};
    });
    EXPECT_TRUE(reverseOff);

    kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(daemon.wait(30s), 0);
    std::ifstream in(config);
    const nlohmann::json written = nlohmann::json::parse(in);
    std::remove(config.c_str());
    EXPECT_EQ(written["statusPeriod"], 500);
    EXPECT_EQ(written["note"], "kept");
    EXPECT_EQ(written["printer"]["reverse"], false);
    EXPECT_EQ(written["printer"]["charCodeTableNumber"], 19);
}
