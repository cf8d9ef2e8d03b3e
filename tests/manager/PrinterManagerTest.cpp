// Tests of the printer manager's facade, guards, lifecycle and driver lock, with a recording
// model driver standing in for the printer.
#include "PrinterManager.h"
#include "RecordingDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace zelvo::PrinterManager;
using Bytes = std::vector<unsigned char>;

namespace {

// A manager whose "detection" builds RecordingDrivers and remembers the last one.
struct ManagerRig {
    std::atomic<int> detections{0};
    RecordingDriver* driver = nullptr;
    bool printerPresent = true;
    PrinterManager manager{"/dev/recorder", "/nonexistent/voltrin-test.json",
                           [this](const std::string&) -> std::unique_ptr<Printers::Driver> {
                               ++detections;
                               if (!printerPresent)
                                   return nullptr;
                               auto d = std::make_unique<RecordingDriver>();
                               driver = d.get();
                               return d;
                           }};
};

std::string whatOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(PrinterManager, EveryOperationWithoutDriverIsRefused) {
    ManagerRig rig;
    PrinterManager& m = rig.manager;
    const std::vector<std::pair<const char*, std::function<void()>>> ops = {
        {"getModel", [&] { m.getModel(); }},
        {"getFirmware", [&] { m.getFirmware(); }},
        {"getManufacturer", [&] { m.getManufacturer(); }},
        {"getSerialNumber", [&] { m.getSerialNumber(); }},
        {"getType", [&] { m.getType(); }},
        {"getConnectionType", [&] { m.getConnectionType(); }},
        {"getStyle", [&] { m.getStyle(); }},
        {"defaults", [&] { m.defaults(); }},
        {"reset", [&] { m.reset(); }},
        {"verify", [&] { m.verify(); }},
        {"setStyle", [&] { m.setStyle(Types::Style()); }},
        {"feed", [&] { m.feed(1); }},
        {"cut", [&] { m.cut(true); }},
        {"printHex", [&] { m.printHex("1b40"); }},
        {"printQR", [&] { m.printQR(Types::QrCode("x", "")); }},
        {"printBarcode", [&] { m.printBarcode(Types::Barcode("1", "", "")); }},
        {"printImgBuffer", [&] { m.printImgBuffer(Bytes(3, 0), 8, 3); }},
        {"printLine", [&] { m.printLine("a"); }},
        {"printUtf8Line", [&] { m.printUtf8Line("a"); }},
        {"checkDriver", [&] { m.checkDriver(); }},
    };
    for (const auto& [name, op] : ops) {
        EXPECT_THROW(op(), std::invalid_argument) << name;
        EXPECT_EQ(whatOf(op), "Driver not active") << name;
    }
    EXPECT_FALSE(m.active());
    const Types::Status s = m.status();
    EXPECT_FALSE(s.active());
    EXPECT_EQ(s.toBitset().to_ulong(), 0u);
    EXPECT_EQ(m.getDevice(), "/dev/recorder");
}

TEST(PrinterManager, ErrorGateRefusesBeforeSendingAnything) {
    ManagerRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.manager.active());
    rig.driver->mStatusToReport.fromBitset(std::bitset<32>((1u << 18) | (1u << 4)));

    const std::vector<std::function<void()>> prints = {
        [&] { rig.manager.printLine("ticket"); },
        [&] { rig.manager.printUtf8Line("ticket"); },
        [&] { rig.manager.feed(2); },
        [&] { rig.manager.cut(false); },
        [&] {
            rig.manager.setStyle(Types::Style(nlohmann::json{{"bold", true}}));
        },
        [&] { rig.manager.printHex("41"); },
        [&] { rig.manager.printImgBuffer(Bytes(3, 0xFF), 8, 3); },
    };
    for (const auto& print : prints) {
        EXPECT_THROW(print(), std::runtime_error);
        EXPECT_EQ(whatOf(print), "0x00040010");
    }
    EXPECT_TRUE(rig.driver->mTransmissions.empty());
    EXPECT_TRUE(rig.manager.status().hasOutOfPaper());

    // Merely inactive, without an error flag, does not stop printing.
    rig.driver->mStatusToReport = Types::Status();
    rig.manager.printLine("ok");
    EXPECT_EQ(rig.driver->allBytes(), (Bytes{'o', 'k', 0x0A}));
    rig.manager.stop();
}

TEST(PrinterManager, PrintLineSplitsAtLineFeeds) {
    struct Case {
        const char* text;
        std::vector<Bytes> transmissions;
    };
    const Case cases[] = {
        {"", {{0x1B, 0x64, 0x01}}},
        {"\n", {}},
        {"\n\n\n", {}},
        {"a\n\nb", {{'a', 0x0A}, {'b', 0x0A}}},
        {"one", {{'o', 'n', 'e', 0x0A}}},
    };
    for (const auto& c : cases) {
        ManagerRig rig;
        rig.manager.start();
        rig.manager.printLine(c.text);
        EXPECT_EQ(rig.driver->mTransmissions, c.transmissions) << '"' << c.text << '"';
        rig.manager.stop();
    }
}

TEST(PrinterManager, PrintUtf8LineConvertsEachPieceAndIgnoresEmptyText) {
    ManagerRig rig;
    rig.manager.start();
    rig.manager.printUtf8Line("");
    EXPECT_TRUE(rig.driver->mTransmissions.empty());
    rig.manager.printUtf8Line("\xC3\xA9\n\xE2\x82\xAC");
    EXPECT_EQ(rig.driver->mTransmissions, (std::vector<Bytes>{{0x82, 0x0A}, {0xD5, 0x0A}}));
    rig.manager.stop();
}

TEST(PrinterManager, IdentityAndStyleComeFromTheDriver) {
    ManagerRig rig;
    rig.manager.start();
    EXPECT_EQ(rig.manager.getModel(), "Recorder");
    EXPECT_EQ(rig.manager.getManufacturer(), "Voltrin");
    EXPECT_EQ(rig.manager.getFirmware(), "1.0");
    EXPECT_EQ(rig.manager.getSerialNumber(), "");
    EXPECT_EQ(rig.manager.getType(), "USB");
    EXPECT_EQ(rig.manager.getConnectionType(), "usb");
    EXPECT_TRUE(rig.manager.getStyle().getReverse());
    EXPECT_EQ(whatOf([&] { rig.manager.verify(); }), "Operation not supported.");
    rig.manager.reset();
    EXPECT_EQ(rig.driver->mResets, 1);
    rig.manager.stop();
}

TEST(PrinterManager, DriverErrorsPropagateAndReleaseTheLock) {
    ManagerRig rig;
    rig.manager.start();
    EXPECT_THROW(rig.manager.printImgBuffer(Bytes(1, 0), 8, 3), std::out_of_range);
    // The lock was released: the next call goes through.
    rig.manager.feed(1);
    EXPECT_EQ(rig.driver->allBytes(), (Bytes{0x1B, 0x64, 0x01}));
    rig.manager.stop();
}

TEST(PrinterManager, LifecycleDetectsOncePerStart) {
    ManagerRig rig;
    rig.manager.stop();    // before start: nothing happens
    rig.manager.restart(); // stopped: nothing between the two log lines
    EXPECT_EQ(rig.detections, 0);
    rig.manager.start();
    rig.manager.start();
    EXPECT_EQ(rig.detections, 1);
    EXPECT_TRUE(rig.manager.active());
    rig.manager.restart();
    EXPECT_EQ(rig.detections, 2);
    EXPECT_TRUE(rig.manager.active());
    rig.manager.stop();
    EXPECT_FALSE(rig.manager.active());
    rig.manager.stop();
    EXPECT_EQ(rig.detections, 2);
}

TEST(PrinterManager, StartWithoutPrinterRunsWithoutDriver) {
    ManagerRig rig;
    rig.printerPresent = false;
    rig.manager.start();
    EXPECT_FALSE(rig.manager.active());
    EXPECT_EQ(whatOf([&] { rig.manager.printLine("x"); }), "Driver not active");
    rig.manager.stop();
}

TEST(PrinterManager, StartHandsThePrinterSectionToTheNewDriver) {
    ManagerRig rig;
    rig.manager.setConfig({{"printer", {{"reverse", false}}}});
    rig.manager.start();
    EXPECT_EQ(rig.driver->mConfig, (nlohmann::json{{"reverse", false}}));
    rig.manager.stop();
}

TEST(PrinterManager, ConcurrentMultiLinePrintsNeverInterleave) {
    ManagerRig rig;
    rig.manager.start();
    constexpr int kLines = 40;
    auto ticket = [](char who) {
        std::string text;
        for (int i = 0; i < kLines; ++i)
            text += std::string(1, who) + std::to_string(i) + "\n";
        return text;
    };
    std::thread a([&] {
        for (int n = 0; n < 5; ++n)
            rig.manager.printLine(ticket('A'));
    });
    std::thread b([&] {
        for (int n = 0; n < 5; ++n)
            rig.manager.printLine(ticket('B'));
    });
    a.join();
    b.join();

    const auto& t = rig.driver->mTransmissions;
    ASSERT_EQ(t.size(), 10u * kLines);
    for (size_t block = 0; block < 10; ++block) {
        const unsigned char who = t[block * kLines][0];
        for (int i = 0; i < kLines; ++i) {
            const Bytes expected = [&] {
                std::string line = std::string(1, static_cast<char>(who)) + std::to_string(i);
                Bytes bytes(line.begin(), line.end());
                bytes.push_back(0x0A);
                return bytes;
            }();
            EXPECT_EQ(t[block * kLines + i], expected) << "block " << block << " line " << i;
        }
    }
    rig.manager.stop();
}
