// End-to-end tests of the manager with real detection: a TL60 presented through a umockdev
// testbed, found by libudev, driven by its real driver, answered by the virtual TL60.
#include "Expect.h"
#include "PrinterManager.h"
#include "Testbed.h"
#include "vprinter/Printed.h"
#include "vprinter/Tl60.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace zelvo::PrinterManager;
using namespace std::chrono_literals;

namespace {

// The device node of the USB TL60 on port `port` (as Testbed::usbPrinter lays it out).
std::string tl60Node(int port) {
    const std::string n = std::to_string(port);
    return "/devices/pci0000:00/0000:00:14.0/usb1/1-" + n + "/1-" + n + ":1.0/usbmisc/lp" + n;
}
std::string tl60(int port) {
    return Testbed::usbPrinter(port, "A: manufacturer=CUSTOM Engineering S.p.A.\nA: product=TL60\n",
                               "A: bInterfaceNumber=00\nA: bInterfaceProtocol=02\n");
}

constexpr uint32_t kActive = 1u << 4;
constexpr uint32_t kOutOfPaper = 1u << 18;

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Testbed::available())
            GTEST_SKIP() << "not running under umockdev-wrapper";
        Log::open("voltrin-e2e", getenv("VOLTRIN_TEST_LOG") != nullptr, false);
        mTestbed = std::make_unique<Testbed>();
        plug(0);
        mManager =
            std::make_unique<PrinterManager>("/dev/printer", "/nonexistent/voltrin-e2e.json");
        mManager->mStatusSignal.connect([this](const Types::Status& s) {
            std::lock_guard<std::mutex> lock(mMutex);
            mPublished.push_back(static_cast<uint32_t>(s.toBitset().to_ulong()));
        });
        mManager->setConfig({{"statusPeriod", 50}});
    }
    void TearDown() override {
        if (mManager)
            mManager->stop();
        mManager.reset();
        mPrinter.reset();
    }

    // Presents a TL60 on usb/lp<port> with a virtual printer on its end, and points the
    // /dev/printer link at it, as a udev rule would.
    void plug(int port) {
        mTestbed->add(tl60(port));
        const std::string node = "/dev/usb/lp" + std::to_string(port);
        mPrinter = std::make_unique<vprinter::Tl60>(mTestbed->devFd(node));
        mTestbed->addSymlink("/dev/printer", "usb/lp" + std::to_string(port));
    }

    std::vector<uint32_t> published() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mPublished;
    }
    template <typename Pred> static bool eventually(Pred done) {
        for (int i = 0; i < 1000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::unique_ptr<Testbed> mTestbed;
    std::unique_ptr<vprinter::Tl60> mPrinter;
    std::unique_ptr<PrinterManager> mManager;
    std::mutex mMutex; // guards mPublished
    std::vector<uint32_t> mPublished;
};

} // namespace

TEST_F(EndToEndTest, DetectedTl60PrintsUtf8InItsCodePage) {
    mManager->start();
    ASSERT_TRUE(mManager->active());
    EXPECT_EQ(mManager->getModel(), "Custom TL60");
    EXPECT_EQ(mManager->getType(), "USB");

    mPrinter->clear();
    mManager->printUtf8Line("caf\xC3\xA9 5\xE2\x82\xAC");
    ASSERT_TRUE(mPrinter->waitFor(
        [](const vprinter::Tl60& p) { return !vprinter::textLines(p.printed()).empty(); }, 5s));
    const auto lines = vprinter::textLines(mPrinter->printed());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "caf\x82 5\xD5");
}

TEST_F(EndToEndTest, PaperOutIsPublishedOnceAndBlocksPrinting) {
    mManager->start();
    ASSERT_TRUE(eventually([&] { return !published().empty(); }));
    mPrinter->setPaperOut(true);
    ASSERT_TRUE(eventually([&] { return published().back() == (kActive | kOutOfPaper); }));
    std::this_thread::sleep_for(200ms);
    const auto all = published();
    EXPECT_EQ(std::count(all.begin(), all.end(), kActive | kOutOfPaper), 1);

    mPrinter->clear();
    expectThrowWithText<std::runtime_error>([&] { mManager->printLine("ticket"); }, "0x00040010");
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(vprinter::textLines(mPrinter->printed()).empty());
}

TEST_F(EndToEndTest, UnpluggedPrinterIsDroppedAndFoundAgain) {
    mManager->start();
    ASSERT_TRUE(eventually([&] { return !published().empty(); }));
    mPrinter->unplug();
    mTestbed->unplug("/sys" + tl60Node(0), "/dev/usb/lp0");
    ASSERT_TRUE(eventually([&] { return !mManager->active(); }));
    expectThrowWithText<std::invalid_argument>([&] { mManager->printLine("x"); },
                                               "Driver not active");

    const size_t before = published().size();
    plug(1);
    ASSERT_TRUE(eventually([&] { return mManager->active() && published().size() > before; }))
        << "active " << mManager->active() << ", publications " << published().size() << " (had "
        << before << ")";
    EXPECT_EQ(published().back() & kActive, kActive);
    mManager->printLine("again");
    ASSERT_TRUE(mPrinter->waitFor(
        [](const vprinter::Tl60& p) {
            const auto lines = vprinter::textLines(p.printed());
            return std::find(lines.begin(), lines.end(), "again") != lines.end();
        },
        5s));
}
