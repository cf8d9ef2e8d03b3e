// The built daemon against a TL60 in a umockdev testbed: the unmodified binary, under the
// testbed's preload library, detects the printer, configures it, writes its configuration and
// prints what a TCP client sends it.
#include "ImageFiles.h"
#include "Process.h"
#include "StatusText.h"
#include "TCPClient.h"
#include "Testbed.h"
#include "vprinter/Printed.h"
#include "vprinter/Tl60.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

using namespace std::chrono_literals;

namespace {

// A TL60 in a fresh testbed, linked at /dev/printer.
struct Tl60Testbed {
    Tl60Testbed() {
        testbed.add(
            Testbed::usbPrinter(0, "A: manufacturer=Custom Engineering S.p.A.\nA: product=TL60\n",
                                "A: bInterfaceNumber=00\nA: bInterfaceProtocol=02\n"));
        testbed.addSymlink("/dev/printer", "usb/lp0");
        printer = std::make_unique<vprinter::Tl60>(testbed.devFd("/dev/usb/lp0"));
    }
    Testbed testbed; // sets UMOCKDEV_DIR, which the daemon inherits with the preload library
    std::unique_ptr<vprinter::Tl60> printer;
};

// The next line from the connection, without its line end; "<none>" when none comes in time.
std::string readLine(TCPClient& client, std::string& pending) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (client.connected() && std::chrono::steady_clock::now() < end) {
        if (client.getline(pending)) {
            std::string line = std::move(pending);
            pending.clear();
            return line;
        }
    }
    return "<none>";
}

} // namespace

TEST(DaemonTestbed, DetectsConfiguresAndWritesTheConfiguration) {
    if (!Testbed::available())
        GTEST_SKIP() << "not running under umockdev-wrapper";
    Tl60Testbed rig;
    vprinter::Tl60& printer = *rig.printer;

    const std::string config = "/tmp/voltrin-daemon-" + std::to_string(getpid()) + ".json";
    std::ofstream(config) << R"({"printer": {"reverse": false}, "note": "kept"})";
    Process daemon({VOLTRIN_BINARY, "-e", "-vvv", "-p", "0", "-d", "/dev/printer", "-f", config});
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

TEST(DaemonTestbed, TcpClientPrintsATicket) {
    if (!Testbed::available())
        GTEST_SKIP() << "not running under umockdev-wrapper";
    Tl60Testbed rig;
    vprinter::Tl60& printer = *rig.printer;

    const std::string base = "/tmp/voltrin-daemon-ticket-" + std::to_string(getpid());
    const std::string config = base + ".json";
    const std::string logo = base + "-logo.png";
    // A 32 x 16 logo: a black frame around a white inside.
    std::vector<unsigned> samples;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            samples.push_back(x < 2 || x > 29 || y < 2 || y > 13 ? 0 : 255);
    ASSERT_TRUE(
        ImageFiles::writePng(logo, ImageFiles::Png(32, 16, PNG_COLOR_TYPE_GRAY, 8, samples)));

    Process daemon({VOLTRIN_BINARY, "-e", "-vvv", "-p", "0", "-d", "/dev/printer", "-f", config});
    ASSERT_TRUE(daemon.waitForStderr("Main blocks here!", 30s)) << daemon.err();
    const std::string err = daemon.err();
    const std::string listening = "Listening on 127.0.0.1:";
    const size_t at = err.find(listening);
    ASSERT_NE(at, std::string::npos) << err;
    const auto port = static_cast<uint16_t>(std::stoi(err.substr(at + listening.size())));

    TCPClient client;
    client.setConnectTimeout(5000);
    client.connect("127.0.0.1", port);
    client.setReadTimeout(100);
    std::string pending;
    EXPECT_EQ(readLine(client, pending), "Custom TL60");
    EXPECT_TRUE(isStatusText(readLine(client, pending)));
    EXPECT_EQ(readLine(client, pending), "OK");

    printer.clear();
    const std::vector<std::string> ticket = {
        "Voltrin ticket",
        "@center bold",
        "@img " + logo,
        "@qrcode 'https://example.com/ticket/42' qrlevel m",
        "@barcode 123456789012 bartype CODE128 barhri under",
        "@normal left cut",
    };
    for (const auto& line : ticket)
        client.print(line + "\n");
    std::vector<std::string> replies;
    for (size_t i = 0; i < ticket.size() + 2; ++i) // the last line holds three commands
        replies.push_back(readLine(client, pending));
    EXPECT_EQ(replies, std::vector<std::string>(ticket.size() + 2, "OK"));
    client.close();

    ASSERT_TRUE(printer.waitForItem(vprinter::Printed::Kind::Cut, 20s));
    const auto items = printer.printed();
    EXPECT_EQ(vprinter::textLines(items), std::vector<std::string>{"Voltrin ticket"});
    const auto barcodes = vprinter::ofKind(items, vprinter::Printed::Kind::Barcode);
    ASSERT_EQ(barcodes.size(), 1u);
    EXPECT_EQ(std::string(barcodes[0].bytes.begin(), barcodes[0].bytes.end()), "123456789012");
    // The logo arrives as one 32-dot-wide band whose top row is the frame's.
    const auto rasters = vprinter::ofKind(items, vprinter::Printed::Kind::Raster);
    ASSERT_GE(rasters.size(), 2u); // the logo, then the QR code
    EXPECT_EQ(rasters[0].width, 32u);
    ASSERT_GE(rasters[0].bits.size(), 4u);
    EXPECT_EQ(vprinter::Bytes(rasters[0].bits.begin(), rasters[0].bits.begin() + 4),
              (vprinter::Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

    kill(daemon.pid(), SIGTERM);
    EXPECT_EQ(daemon.wait(30s), 0);
    std::remove(config.c_str());
    std::remove(logo.c_str());
}
