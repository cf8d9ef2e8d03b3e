// vprinter::Tl60 over a PtyPair, driven by plain writes and reads on the driver's end.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "vprinter/PtyPair.h"
#include "vprinter/Tl60.h"

using namespace std::chrono_literals;
using vprinter::Bytes;
using vprinter::Printed;
using vprinter::PtyPair;
using vprinter::Tl60;
using vprinter::Tl60Options;

namespace {

const Bytes StatusRequest{0x10, 0x04, 0x14};
const Bytes AutoStatusOn{0x1d, 0xe0, 0x0f};
const Bytes SerialRequest{0x1c, 0xea, 0x52};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The driver's end of the pair.
class DriverEnd {
public:
    explicit DriverEnd(const std::string& path)
        : mFd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~DriverEnd() {
        if (mFd >= 0)
            close(mFd);
    }
    int fd() const { return mFd; }

    void send(const Bytes& bytes) const {
        ASSERT_EQ(::write(mFd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or the timeout passed.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout) const {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd pfd{mFd, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                break;
            unsigned char buf[64];
            ssize_t n = ::read(mFd, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    Bytes frame(std::chrono::milliseconds timeout = 1000ms) const { return read(6, timeout); }

private:
    int mFd;
};

Tl60Options fast() {
    Tl60Options o;
    o.messageGap = 0ms;
    return o;
}

} // namespace

TEST(Tl60, StatusRequestAnswersTheFrameOfEachKnobCombination) {
    struct Row {
        const char* name;
        bool paperOut, nearEnd, cover, jam, onMark, cutter;
        Bytes frame;
    };
    const std::vector<Row> rows = {
        {"all fine", false, false, false, false, false, false, {0x10, 0, 0x00, 0, 0x00, 0x00}},
        {"out of paper", true, false, false, false, false, false, {0x10, 0, 0x01, 0, 0x00, 0x00}},
        {"near end", false, true, false, false, false, false, {0x10, 0, 0x04, 0, 0x00, 0x00}},
        {"cover open", false, false, true, false, false, false, {0x10, 0, 0x00, 0, 0x01, 0x00}},
        {"mark jam", false, false, false, true, false, false, {0x10, 0, 0x00, 0, 0x80, 0x00}},
        {"on mark", false, false, false, false, true, false, {0x10, 0, 0x80, 0, 0x00, 0x00}},
        {"autocutter", false, false, false, false, false, true, {0x10, 0, 0x00, 0, 0x00, 0x01}},
        {"out, near end, cover",
         true,
         true,
         true,
         false,
         false,
         false,
         {0x10, 0, 0x05, 0, 0x01, 0x00}},
        {"everything", true, true, true, true, true, true, {0x10, 0, 0x85, 0, 0x81, 0x01}},
    };
    PtyPair pty;
    Tl60 printer(pty, fast());
    DriverEnd driver(pty.path());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        printer.setPaperOut(row.paperOut);
        printer.setPaperNearEnd(row.nearEnd);
        printer.setCoverOpen(row.cover);
        printer.setMarkJam(row.jam);
        printer.setPaperOnMark(row.onMark);
        printer.setAutocutterError(row.cutter);
        driver.send(StatusRequest);
        EXPECT_EQ(driver.frame(), row.frame);
        auto f = printer.statusFrame();
        EXPECT_EQ(Bytes(f.begin(), f.end()), row.frame);
    }
    EXPECT_FALSE(printer.autoStatus());
    EXPECT_TRUE(driver.read(1, 30ms).empty()) << "no frames without GS E0 0F";
}

TEST(Tl60, StatusRequestSplitAcrossTwoWrites) {
    PtyPair pty;
    Tl60 printer(pty, fast());
    DriverEnd driver(pty.path());
    driver.send({0x10, 0x04});
    ASSERT_TRUE(printer.waitForBytes(2, 1s));
    EXPECT_TRUE(driver.read(1, 20ms).empty());
    driver.send({0x14});
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_EQ(printer.received(), StatusRequest);
}

TEST(Tl60, AutoStatusSendsAFrameAtOnceAndOnEveryChange) {
    PtyPair pty;
    Tl60 printer(pty); // default timing, message gap included
    DriverEnd driver(pty.path());
    driver.send(AutoStatusOn);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(printer.autoStatus());
    printer.setPaperNearEnd(true);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0x04, 0, 0, 0}));
    printer.setCoverOpen(true);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0x04, 0, 0x01, 0}));
    printer.setCoverOpen(false);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0x04, 0, 0, 0}));
    printer.setPaperNearEnd(false);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(driver.read(1, 40ms).empty()) << "no frame without a change";
}

TEST(Tl60, PrintingMovesTheMotorAndACutStopsItPromptly) {
    PtyPair pty;
    Tl60Options o; // default gap
    o.cutRepeat = 250ms;
    Tl60 printer(pty, o);
    DriverEnd driver(pty.path());
    driver.send(AutoStatusOn);
    ASSERT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    driver.send({'H', 'i', '\n'});
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0x04, 0, 0}));
    EXPECT_TRUE(printer.motorMoving());
    const auto cutAt = std::chrono::steady_clock::now();
    driver.send({0x1b, 0x69});
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_LT(std::chrono::steady_clock::now() - cutAt, 150ms) << "the motor stops promptly";
    // The same frame once more, cutRepeat after the cut, for a driver that listens late.
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_GE(std::chrono::steady_clock::now() - cutAt, 250ms);
    EXPECT_TRUE(driver.read(1, 50ms).empty());

    auto items = printer.printed();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].kind, Printed::Kind::Text);
    EXPECT_EQ(items[1].text(), "Hi");
    EXPECT_EQ(items[2].kind, Printed::Kind::Cut);
    EXPECT_TRUE(items[2].full);
}

TEST(Tl60, MotorStopsAfterPrintIdleWithoutACut) {
    PtyPair pty;
    Tl60Options o = fast();
    o.printIdle = 30ms;
    Tl60 printer(pty, o);
    DriverEnd driver(pty.path());
    driver.send({'x', '\n'});
    ASSERT_TRUE(printer.waitForItem(Printed::Kind::Text, 1s));
    driver.send(StatusRequest);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0x04, 0, 0}));
    EXPECT_TRUE(printer.waitFor([](const Tl60& p) { return !p.motorMoving(); }, 1s));
    driver.send(StatusRequest);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0, 0, 0, 0}));
}

TEST(Tl60, SerialNumberAnswer) {
    PtyPair pty;
    Tl60 printer(pty, fast());
    DriverEnd driver(pty.path());
    driver.send(SerialRequest);
    EXPECT_EQ(driver.read(8, 1s), (Bytes{'T', 'L', '6', '0', 0x00, '1', '2', '3'}));
    printer.setSerialNumber({'1', '2', 0x00, '3'});
    driver.send(SerialRequest);
    EXPECT_EQ(driver.read(4, 1s), (Bytes{'1', '2', 0x00, '3'}));
    ASSERT_TRUE(printer.waitForSent(2, 1s));
}

TEST(Tl60, MessagesAreKeptApartByTheGap) {
    PtyPair pty;
    Tl60 printer(pty); // 20 ms gap
    DriverEnd driver(pty.path());
    const auto start = std::chrono::steady_clock::now();
    driver.send(AutoStatusOn + SerialRequest);
    EXPECT_EQ(driver.read(6, 1s), (Bytes{0x10, 0, 0, 0, 0, 0}));
    EXPECT_EQ(driver.read(8, 1s), (Bytes{'T', 'L', '6', '0', 0x00, '1', '2', '3'}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

TEST(Tl60, MuteGivesNoAnswerButStillRecords) {
    PtyPair pty;
    Tl60 printer(pty, fast());
    DriverEnd driver(pty.path());
    printer.setMute(true);
    driver.send(AutoStatusOn + StatusRequest + SerialRequest);
    ASSERT_TRUE(printer.waitForItems(3, 1s));
    printer.setPaperOut(true);
    EXPECT_TRUE(driver.read(1, 60ms).empty());
    EXPECT_TRUE(printer.sent().empty());
    EXPECT_EQ(printer.received().size(), 9u);
    printer.setMute(false);
    EXPECT_EQ(driver.frame(), (Bytes{0x10, 0, 0x01, 0, 0, 0})) << "unmuted: the changed state";
}

TEST(Tl60, UnplugMakesTheDriverEndReadEofOrEio) {
    PtyPair pty;
    Tl60 printer(pty, fast());
    DriverEnd driver(pty.path());
    driver.send({'a', '\n'});
    ASSERT_TRUE(printer.waitForItems(1, 1s));
    printer.unplug();
    EXPECT_FALSE(printer.plugged());
    pollfd pfd{driver.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    unsigned char b;
    ssize_t n = ::read(driver.fd(), &b, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << "read gave " << n << " errno " << errno;
    EXPECT_EQ(::write(driver.fd(), "x", 1), -1);
    EXPECT_EQ(vprinter::textLines(printer.printed()), std::vector<std::string>{"a"});
    printer.unplug(); // idempotent
}

TEST(Tl60, LinkTraceAndClear) {
    PtyPair pty;
    const std::string link = testing::TempDir() + "vprinter-tl60-link";
    EXPECT_EQ(pty.linkAt(link), link);
    std::vector<std::string> trace;
    std::mutex traceMutex;
    Tl60Options o = fast();
    o.trace = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(traceMutex);
        trace.push_back(line);
    };
    Tl60 printer(pty, o);
    DriverEnd driver(link);
    ASSERT_GE(driver.fd(), 0);
    driver.send(StatusRequest);
    EXPECT_EQ(driver.frame().size(), 6u);
    ASSERT_TRUE(printer.waitForSent(1, 1s));
    printer.unplug();
    {
        std::lock_guard<std::mutex> lock(traceMutex);
        EXPECT_EQ(trace, (std::vector<std::string>{"<< COMMAND DLE EOT 20",
                                                   ">> status 10 00 00 00 00 00"}));
    }
    printer.clear();
    EXPECT_TRUE(printer.received().empty());
    EXPECT_TRUE(printer.printed().empty());
    EXPECT_TRUE(printer.sent().empty());
}
