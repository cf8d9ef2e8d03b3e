// Tests of the Custom TL60 driver: its bytes, status decoding, cuts and lost contact, against
// the virtual TL60 on a pseudo-terminal.
#include "printers/custom/tl60/Driver.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <bitset>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Expect.h"
#include "printers/custom/tl60/Config.h"
#include "vprinter/Printed.h"
#include "vprinter/PtyPair.h"
#include "vprinter/Tl60.h"

namespace zelvo::PrinterManager::Printers::Custom::TL60 {

// Stops the reader thread the way the destructor does, leaving the driver usable otherwise.
struct DriverTestAccess {
    static void stopReader(Driver& driver) {
        driver.mRunning = false;
        driver.mListenerThread.join();
    }
};

} // namespace zelvo::PrinterManager::Printers::Custom::TL60

namespace {

using namespace std::chrono_literals;
using zelvo::PrinterManager::Printers::Custom::TL60::Config;
using zelvo::PrinterManager::Printers::Custom::TL60::Driver;
using zelvo::PrinterManager::Printers::Custom::TL60::DriverTestAccess;
using zelvo::PrinterManager::Types::Status;
using Bytes = vprinter::Bytes;
using Kind = vprinter::Printed::Kind;

constexpr auto Patience = 3s; // upper bound for anything the virtual printer does at once

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::bitset<32> bits(std::initializer_list<int> set) {
    std::bitset<32> result;
    for (int bit : set)
        result.set(bit);
    return result;
}

const Bytes Margins{0x1D, 0x4C, 0x12, 0x00, 0x1D, 0x57, 0x9C, 0x01};
const Bytes ReverseOn{0x1B, 0x7B, 0x01};
const Bytes CodeTable19{0x1B, 0x74, 0x13};
const Bytes FontA{0x1C, 0x25, 0x00};
const Bytes StartUp = Bytes{0x10, 0x04, 0x14}   // status request
                      + Bytes{0x1D, 0xE0, 0x0F} // automatic status on
                      + Bytes{0x1C, 0xEA, 0x52} // serial number request
                      + Bytes{0x1B, 0x40} + ReverseOn + Margins + CodeTable19 // defaults
                      + ReverseOn + CodeTable19 + FontA + Margins // stored configuration
                      + Margins + Bytes{0x1B, 0x78, 0x02};        // current style

// Polls `condition` every 5 ms until it holds or `timeout` passes; the last result.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return condition();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A virtual TL60 on the master end of a pseudo-terminal and a driver on its slave end. The
// fixture keeps the master itself (the printer borrows it), so a test can also write raw bytes
// to the driver as the printer would, or hang the line up.
class Tl60Rig {
public:
    explicit Tl60Rig(vprinter::Tl60Options options = {})
        : mPrinter(mPty.masterFd(), vprinter::Tl60::Ownership::Borrowed, std::move(options)),
          mDriver(std::make_unique<Driver>(mPty.path())) {}

    Driver& driver() { return *mDriver; }
    vprinter::Tl60& printer() { return mPrinter; }
    vprinter::PtyPair& pty() { return mPty; }

    // The bytes the printer has received since the last clear, once `count` have arrived.
    Bytes receivedAfter(size_t count) {
        EXPECT_TRUE(mPrinter.waitForBytes(count, Patience));
        return mPrinter.received();
    }

    // Waits for the start-up sequence to arrive and for the printer to fall quiet (its answers
    // and first status frames may still be on their way when the constructor returns), then
    // forgets the history.
    void settle() {
        receivedAfter(StartUp.size());
        const auto end = std::chrono::steady_clock::now() + Patience;
        size_t before = 0;
        size_t after = mPrinter.sent().size();
        do {
            before = after;
            std::this_thread::sleep_for(150ms); // longer than the reader's 50 ms wait
            after = mPrinter.sent().size();
        } while (after != before && std::chrono::steady_clock::now() < end);
        mPrinter.clear();
    }

    // The text lines printed since the last clear, once `count` have arrived.
    std::vector<std::string> textLines(size_t count) {
        EXPECT_TRUE(mPrinter.waitFor(
            [&](const vprinter::Tl60& p) {
                return vprinter::textLines(p.printed()).size() >= count;
            },
            Patience));
        return vprinter::textLines(mPrinter.printed());
    }

    // Writes `frame` to the driver in one write, as one chunk.
    void send(const Bytes& frame) {
        ASSERT_EQ(::write(mPty.masterFd(), frame.data(), frame.size()),
                  static_cast<ssize_t>(frame.size()));
    }

    bool statusBecomes(const std::bitset<32>& expected) {
        return eventually([&] { return mDriver->getStatus().toBitset() == expected; }, Patience);
    }

private:
    vprinter::PtyPair mPty;
    vprinter::Tl60 mPrinter;
    std::unique_ptr<Driver> mDriver;
};

// ---- Construction -------------------------------------------------------------------------------

TEST(Tl60Driver, ConstructionSendsStartUpSequenceInOrder) {
    Tl60Rig rig;
    EXPECT_EQ(vprinter::hex(rig.receivedAfter(StartUp.size())), vprinter::hex(StartUp));
    EXPECT_TRUE(rig.driver().getStatus().active());
}

TEST(Tl60Driver, SerialNumberHasItsZeroBytesReplaced) {
    vprinter::Tl60Options options;
    options.serialNumber = {0x31, 0x32, 0x00, 0x33};
    Tl60Rig rig(options);
    EXPECT_EQ(rig.driver().getSerialNumber(), "1203");
}

TEST(Tl60Driver, IdentityAndUnsupportedReset) {
    Tl60Rig rig;
    Driver& driver = rig.driver();
    EXPECT_EQ(driver.getModel(), "Custom TL60");
    EXPECT_EQ(driver.getManufacturer(), "Custom");
    EXPECT_EQ(driver.getFirmwareVersion(), "");
    EXPECT_EQ(driver.getConnectionType(), Driver::USB);
    EXPECT_EQ(driver.getSerialNumber(), "TL600123");
    expectThrowWithText<std::invalid_argument>([&] { driver.reset(); }, "Operation not supported.");
}

TEST(Tl60Driver, MissingDeviceFailsConstructionAndStopsTheReader) {
    // The first write fails; the exception must leave only after the reader was joined (a
    // joinable std::thread destroyed here would terminate the test binary).
    expectThrowWithText<std::runtime_error>(
        [] { Driver driver("/dev/voltrin-no-such-printer"); },
        "asynchronous operation failed: [9] Bad file descriptor");
}

// ---- Auto-status --------------------------------------------------------------------------------

TEST(Tl60Driver, AutoStatusFramesAreDecoded) {
    struct Case {
        Bytes frame;
        std::bitset<32> expected;
    };
    const std::vector<Case> cases = {
        {{0x10, 0x00, 0x04, 0x04, 0x00, 0x00}, bits({1, 4, 16})},
        {{0x10, 0x00, 0x01, 0x00, 0x01, 0x00}, bits({4, 13, 14, 18})},
        {{0x10, 0x00, 0x80, 0x00, 0x80, 0x01}, bits({4, 10, 11, 14, 22})},
        {{0x10, 0x00, 0x00, 0x00, 0x00, 0x00}, bits({4})},
        // Two frames in one chunk: the second wins.
        {{0x10, 0x00, 0x04, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01}, bits({4, 11})},
    };
    Tl60Rig rig;
    rig.settle();
    for (const Case& c : cases) {
        rig.send(c.frame);
        EXPECT_TRUE(rig.statusBecomes(c.expected))
            << vprinter::hex(c.frame) << " gave " << rig.driver().getStatus().toBitset();
    }
    EXPECT_TRUE(rig.driver().getStatus().active());
}

TEST(Tl60Driver, MalformedStatusChunksAreIgnored) {
    const std::vector<Bytes> malformed = {
        // 7 bytes; its last six would read as paper out.
        {0x10, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00},
        // 12 bytes whose last frame does not start with DLE.
        {0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x00, 0x01, 0x00, 0x00, 0x00},
        // Not a status at all: a data chunk, no waiter takes it.
        {0x11, 0x00, 0x01, 0x00, 0x00, 0x00},
    };
    Tl60Rig rig;
    rig.settle();
    const Bytes known{0x10, 0x00, 0x04, 0x00, 0x00, 0x00}; // paper near end
    rig.send(known);
    ASSERT_TRUE(rig.statusBecomes(bits({4, 16})));
    for (const Bytes& chunk : malformed) {
        rig.send(chunk);
        std::this_thread::sleep_for(150ms); // the reader wakes within 50 ms of new bytes
        EXPECT_EQ(rig.driver().getStatus().toBitset(), bits({4, 16})) << vprinter::hex(chunk);
    }
    // The reader is still decoding.
    rig.send({0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(rig.statusBecomes(bits({4})));
}

TEST(Tl60Driver, PrinterKnobsReachTheStatus) {
    Tl60Rig rig;
    rig.printer().setPaperOut(true);
    EXPECT_TRUE(rig.statusBecomes(bits({4, 18})));
    EXPECT_TRUE(rig.driver().getStatus().hasError());
    rig.printer().setPaperOut(false);
    rig.printer().setCoverOpen(true);
    EXPECT_TRUE(rig.statusBecomes(bits({4, 13, 14})));
}

// ---- Configuration and printing -----------------------------------------------------------------

TEST(Tl60Driver, SetConfigSendsOrientationCodeTableFontAndMargins) {
    struct Case {
        const char* what;
        nlohmann::json config;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"reverse off",
         {{"reverse", false}},
         Bytes{0x1B, 0x7B, 0x00} + CodeTable19 + FontA + Margins},
        {"table 275 selects table 19",
         {{"charCodeTableNumber", 275}},
         Bytes{0x1B, 0x7B, 0x00} + CodeTable19 + FontA + Margins},
        {"font 1, table 2, reverse on",
         {{"fontType", 1}, {"charCodeTableNumber", 2}, {"reverse", true}},
         ReverseOn + Bytes{0x1B, 0x74, 0x02} + Bytes{0x1C, 0x25, 0x01} + Margins},
    };
    Tl60Rig rig;
    rig.settle();
    for (const Case& c : cases) {
        rig.printer().clear();
        rig.driver().setConfig(c.config);
        EXPECT_EQ(vprinter::hex(rig.receivedAfter(c.expected.size())), vprinter::hex(c.expected))
            << c.what;
    }
    const nlohmann::json config = rig.driver().getConfig();
    EXPECT_EQ(config.at("fontType"), 1);
    EXPECT_EQ(config.at("charCodeTableNumber"), 2);
    EXPECT_EQ(config.at("reverse"), true);
}

TEST(Tl60Driver, LineOrderFollowsTheConfiguredOrientation) {
    // 412 dots of 18-dot cells: 22 characters per line.
    const std::string first(22, 'a');
    const std::string second = "bbb";
    Tl60Rig rig;
    rig.settle();
    rig.driver().printString(first + second);
    EXPECT_EQ(rig.textLines(2), (std::vector<std::string>{second, first}))
        << "upside-down printing sends the last line first";

    rig.driver().setConfig({{"reverse", false}});
    EXPECT_FALSE(rig.driver().getStyle().getReverse());
    rig.printer().clear();
    rig.driver().printString(first + second);
    EXPECT_EQ(rig.textLines(2), (std::vector<std::string>{first, second}));
}

TEST(Tl60Driver, Utf8LinesUseCodePage858) {
    Tl60Rig rig;
    rig.settle();
    rig.driver().printUtf8Line("\xC3\xA9\xE2\x82\xAC"); // é €
    EXPECT_EQ(vprinter::hex(rig.receivedAfter(3)), "82 d5 0a");
}

TEST(Tl60Driver, StyleChangeResendsMarginsAndEscX) {
    Tl60Rig rig;
    rig.settle();
    auto style = rig.driver().getStyle();
    style.setBold(true);
    rig.driver().setStyle(style);
    const Bytes expected = Bytes{0x1B, 0x45, 0x01} + Margins + Bytes{0x1B, 0x78, 0x02};
    EXPECT_EQ(vprinter::hex(rig.receivedAfter(expected.size())), vprinter::hex(expected));
}

// ---- Cut ----------------------------------------------------------------------------------------

TEST(Tl60Driver, CutReturnsOnceThePrinterReportsTheMotorStopped) {
    struct Case {
        bool full;
        Bytes expected;
    };
    Tl60Rig rig;
    rig.settle();
    for (const Case& c : {Case{true, {0x1B, 0x69}}, Case{false, {0x1B, 0x6D}}}) {
        rig.printer().clear();
        const auto start = std::chrono::steady_clock::now();
        rig.driver().cut(c.full);
        const auto took = std::chrono::steady_clock::now() - start;
        // Without the motor-stopped report the cut would wait 10 s for the print run alone.
        EXPECT_LT(took, 5s) << "full " << c.full;
        EXPECT_EQ(vprinter::hex(rig.receivedAfter(2)), vprinter::hex(c.expected));
        const auto cuts = vprinter::ofKind(rig.printer().printed(), Kind::Cut);
        ASSERT_EQ(cuts.size(), 1U);
        EXPECT_EQ(cuts.front().full, c.full);
    }
}

TEST(Tl60Driver, CutReturnsNormallyWhenTheCutterReportsAnError) {
    Tl60Rig rig;
    rig.settle();
    rig.printer().setAutocutterError(true);
    ASSERT_TRUE(rig.statusBecomes(bits({4, 11})));
    EXPECT_NO_THROW(rig.driver().cut(true));
    EXPECT_TRUE(rig.driver().getStatus().hasAutoCutterError());
}

// ---- Lost contact and write failures
// --------------------------------------------------------------

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

TEST(Tl60Driver, UnpluggedPrinterTurnsTheStatusInactive) {
    Tl60Rig rig;
    ASSERT_TRUE(rig.driver().getStatus().active());
    rig.printer().unplug();
    rig.pty().closeMaster(); // the line hangs up: the driver's reads return end of file

    EXPECT_TRUE(eventually([&] { return !rig.driver().getStatus().active(); }, Patience));
    // The descriptor stays readable at end of file: the reader must back off, not spin.
    const double before = processCpuSeconds();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(processCpuSeconds() - before, 0.5);
    EXPECT_FALSE(rig.driver().getStatus().active());

    EXPECT_THROW(rig.driver().feed(1), std::runtime_error);
}

TEST(Tl60Driver, WritesWithTheReaderStoppedReportNothingWritten) {
    Tl60Rig rig;
    DriverTestAccess::stopReader(rig.driver());
    expectThrowWithText<std::runtime_error>([&] { rig.driver().feed(1); },
                                            "Incomplete write (0 of 3)");
    expectThrowWithText<std::runtime_error>([&] { rig.driver().printString("ab"); },
                                            "Incomplete write (0 of 3)");
}

// ---- Config -------------------------------------------------------------------------------------

TEST(Tl60Config, DefaultsAndCodePageLookup) {
    Config config;
    EXPECT_EQ(config.charCodeTableNumber(), 19U);
    EXPECT_EQ(config.fontType(), 0U);
    EXPECT_TRUE(config.reverse());
    EXPECT_EQ(config.ibmCcsid(), 858U);
    EXPECT_EQ(config.toJson(), nlohmann::json::parse(R"({"charCodePageCcsid":0,
        "charCodeTableNumber":19,"fontType":0,"reverse":true})"));

    config.updateFromJson({{"charCodeTableNumber", 17 + 256}});
    EXPECT_EQ(config.ibmCcsid(), 866U);
    config.updateFromJson({{"charCodeTableNumber", 99}});
    EXPECT_EQ(config.ibmCcsid(), 437U); // fallback
    config.updateFromJson({{"charCodePageCcsid", 1252}});
    EXPECT_EQ(config.ibmCcsid(), 1252U);
}

} // namespace
