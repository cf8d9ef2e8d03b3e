// The TCP command service end to end: a real socket on 127.0.0.1, the printer manager, the real
// TL60 driver and the virtual TL60 on a pseudo-terminal.
#include "api/tcp/Service.h"

#include "StatusText.h"
#include "TCPClient.h"
#include "TCPServer.h"
#include "manager/PrinterManager.h"
#include "printers/custom/tl60/Driver.h"
#include "vprinter/Printed.h"
#include "vprinter/PtyPair.h"
#include "vprinter/Tl60.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zelvo::PrinterManager::PrinterManager;
using zelvo::PrinterManager::API::TCP::Service;
using Kind = vprinter::Printed::Kind;

constexpr auto Patience = 5s; // upper bound for anything that happens at once

// One TCP connection to the service, read with a short socket time-out.
class Client {
public:
    explicit Client(uint16_t port) {
        mSocket.setConnectTimeout(2000);
        mSocket.connect("127.0.0.1", port);
        mSocket.setReadTimeout(50);
    }
    ~Client() { mSocket.close(); }

    void send(const std::string& text) {
        ASSERT_EQ(mSocket.print(text), static_cast<int>(text.size()));
    }

    // Exactly `count` bytes, or what arrived before `timeout` or the peer closed.
    std::string bytes(size_t count, std::chrono::milliseconds timeout = Patience) {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count && mSocket.connected() &&
               std::chrono::steady_clock::now() < end) {
            const int c = mSocket.read();
            if (c >= 0)
                out += static_cast<char>(c);
        }
        return out;
    }

    // The next line without its line end; "<none>" when none completes in time.
    std::string line(std::chrono::milliseconds timeout = Patience) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (mSocket.connected() && std::chrono::steady_clock::now() < end) {
            if (mSocket.getline(mPending)) {
                std::string done = std::move(mPending);
                mPending.clear();
                return done;
            }
        }
        return "<none>";
    }

    std::vector<std::string> lines(size_t count) {
        std::vector<std::string> out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(line());
        return out;
    }

    // Skips the greeting (model, status, OK).
    void greeted() { lines(3); }

    // True once the service has closed this connection.
    bool closedByPeer(std::chrono::milliseconds timeout = Patience) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (mSocket.connected() && std::chrono::steady_clock::now() < end)
            mSocket.read();
        return !mSocket.connected();
    }

    TCPClient& socket() { return mSocket; }

private:
    TCPClient mSocket;
    std::string mPending;
};

// A virtual TL60 on a pseudo-terminal, a manager whose driver opens it, and the service on an
// ephemeral loopback port.
class TcpServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        mManager = std::make_shared<PrinterManager>(
            mPty.path(), "/nonexistent/voltrin-tcp-test.json", [](const std::string& path) {
                return std::make_unique<zelvo::PrinterManager::Printers::Custom::TL60::Driver>(
                    path);
            });
        mManager->start();
        ASSERT_TRUE(mManager->active());
        mService = std::make_unique<Service>(mManager, 0, false);
        mService->start();
        ASSERT_NE(mService->listeningPort(), 0);
        settle();
    }

    void TearDown() override {
        mService.reset();
        mManager->stop();
    }

    // Waits until the start-up exchange is over, then forgets the printer's history.
    void settle() {
        std::this_thread::sleep_for(200ms);
        mPrinter.clear();
    }

    std::unique_ptr<Client> connect() {
        auto client = std::make_unique<Client>(mService->listeningPort());
        return client;
    }

    // The text lines printed so far, once `count` have arrived.
    std::vector<std::string> printedText(size_t count) {
        EXPECT_TRUE(mPrinter.waitFor(
            [&](const vprinter::Tl60& p) {
                return vprinter::textLines(p.printed()).size() >= count;
            },
            Patience));
        return vprinter::textLines(mPrinter.printed());
    }

    std::vector<vprinter::Printed> printedOfKind(Kind kind, size_t count) {
        EXPECT_TRUE(mPrinter.waitFor(
            [&](const vprinter::Tl60& p) {
                return vprinter::ofKind(p.printed(), kind).size() >= count;
            },
            Patience));
        return vprinter::ofKind(mPrinter.printed(), kind);
    }

    vprinter::PtyPair mPty;
    vprinter::Tl60 mPrinter{mPty.masterFd(), vprinter::Tl60::Ownership::Borrowed};
    std::shared_ptr<PrinterManager> mManager;
    std::unique_ptr<Service> mService;
};

TEST_F(TcpServiceTest, GreetingIsModelStatusAndOk) {
    auto client = connect();
    const std::string greeting =
        client->bytes(std::string("Custom TL60\r\n[0x00000000]\r\nOK\r\n").size());
    ASSERT_EQ(greeting.size(), 31u) << greeting;
    EXPECT_EQ(greeting.substr(0, 13), "Custom TL60\r\n");
    EXPECT_TRUE(isStatusText(greeting.substr(13, 12))) << greeting;
    EXPECT_EQ(greeting.substr(13, 12), mService->status());
    EXPECT_EQ(greeting.substr(25), "\r\nOK\r\n");
}

TEST_F(TcpServiceTest, PlainAndEmptyLinesPrintAndAnswerOk) {
    auto client = connect();
    client->greeted();
    client->send("Hello\n");
    EXPECT_EQ(client->bytes(4), "OK\r\n");
    client->send("\r\n");
    EXPECT_EQ(client->bytes(4), "OK\r\n");
    EXPECT_EQ(printedText(1), std::vector<std::string>{"Hello"});
    EXPECT_FALSE(printedOfKind(Kind::Feed, 1).empty());
}

TEST_F(TcpServiceTest, CommandLinesAnswerOneOkPerCommand) {
    auto client = connect();
    client->greeted();

    client->send("@center bold feed 3\n");
    EXPECT_EQ(client->bytes(12), "OK\r\nOK\r\nOK\r\n");
    EXPECT_EQ(mManager->getStyle().getAlign(), zelvo::PrinterManager::Types::Style::Center);
    EXPECT_TRUE(mManager->getStyle().getBold());
    auto feeds = printedOfKind(Kind::Feed, 1);
    ASSERT_FALSE(feeds.empty());
    EXPECT_EQ(feeds.back().lines, 3);

    client->send("@status\n");
    const auto reply = client->lines(2);
    EXPECT_TRUE(isStatusText(reply[0])) << reply[0];
    EXPECT_EQ(reply[1], "OK");

    // "@" alone is answered with nothing: the next reply is the status command's.
    client->send("@\n@status\n");
    EXPECT_TRUE(isStatusText(client->line()));
    EXPECT_EQ(client->line(), "OK");
}

TEST_F(TcpServiceTest, ArgumentsNumbersAndFontSizeForms) {
    auto client = connect();
    client->greeted();

    client->send("@feed 010\n");
    EXPECT_EQ(client->line(), "OK");
    auto feeds = printedOfKind(Kind::Feed, 1);
    ASSERT_FALSE(feeds.empty());
    EXPECT_EQ(feeds.back().lines, 8);

    mPrinter.clear();
    client->send("@feed cut\n");
    EXPECT_EQ(client->lines(2), (std::vector<std::string>{"OK", "OK"}));
    feeds = printedOfKind(Kind::Feed, 1);
    ASSERT_FALSE(feeds.empty());
    EXPECT_EQ(feeds.front().lines, 1);
    EXPECT_FALSE(printedOfKind(Kind::Cut, 1).empty());

    for (const char* line : {"@fontSize=2\n", "@font_x2\n"}) {
        client->send("@fontSize 1\n");
        EXPECT_EQ(client->line(), "OK");
        EXPECT_EQ(mManager->getStyle().getSize(), 0u);
        client->send(line);
        EXPECT_EQ(client->line(), "OK") << line;
        EXPECT_EQ(mManager->getStyle().getSize(), 1u) << line;
    }

    client->send("@reverse 2\n");
    EXPECT_EQ(client->line(), "OK");
    EXPECT_FALSE(mManager->getStyle().getReverse());
    client->send("@reverse\n");
    EXPECT_EQ(client->line(), "OK");
    EXPECT_TRUE(mManager->getStyle().getReverse());
    client->send("@reverse 0 bold\n");
    EXPECT_EQ(client->lines(2), (std::vector<std::string>{"OK", "OK"}));
    EXPECT_FALSE(mManager->getStyle().getReverse());
}

TEST_F(TcpServiceTest, QuotedTextKeepsDelimitersAndEscapedQuotes) {
    auto client = connect();
    client->greeted();
    client->send("@utf8 'it\\'s here, = ok'\n");
    EXPECT_EQ(client->line(), "OK");
    EXPECT_EQ(printedText(1), std::vector<std::string>{"it's here, = ok"});
}

TEST_F(TcpServiceTest, ErrorsAnswerOneErrorLineAfterEarlierCommandsTookEffect) {
    auto client = connect();
    client->greeted();

    for (const char* line :
         {"@bold 'x\n", "@bogus\n", "@ bold\n", "@font 2\n", "@fontSize 0\n", "@imgb 16\n",
          "@imgb 0 8\n", "@barcode 123 bartype NOPE\n", "@img /nonexistent/logo.png\n"}) {
        client->send(line);
        const std::string reply = client->line();
        EXPECT_TRUE(isErrorLine(reply)) << line << " -> " << reply;
    }
    EXPECT_FALSE(mManager->getStyle().getBold());

    client->send("@bold bogus\n");
    EXPECT_TRUE(isErrorLine(client->line()));
    EXPECT_TRUE(mManager->getStyle().getBold());

    // Nothing else was queued behind the error lines: the next reply is the next line's.
    client->send("@status\n");
    EXPECT_TRUE(isStatusText(client->line()));
    EXPECT_EQ(client->line(), "OK");
}

TEST_F(TcpServiceTest, SeveralPrintCommandsOnOneLine) {
    auto client = connect();
    client->greeted();
    client->send("@qrcode 'https://example.com/t/1' qrlevel h barcode 123456789012 barhri under "
                 "bartype CODE128 hex 414243 cut\n");
    EXPECT_EQ(client->lines(4), (std::vector<std::string>(4, "OK")));
    EXPECT_FALSE(printedOfKind(Kind::Raster, 1).empty());
    const auto barcodes = printedOfKind(Kind::Barcode, 1);
    ASSERT_EQ(barcodes.size(), 1u);
    EXPECT_EQ(std::string(barcodes[0].bytes.begin(), barcodes[0].bytes.end()), "123456789012");
    EXPECT_EQ(printedText(1), std::vector<std::string>{"ABC"});
    EXPECT_FALSE(printedOfKind(Kind::Cut, 1).empty());
}

TEST_F(TcpServiceTest, RasterUploadReadsItsBytesFromTheConnection) {
    auto client = connect();
    client->greeted();
    client->send("@imgb 16 2\n");
    EXPECT_EQ(client->bytes(1), ">");
    client->send(std::string("\xF0\x0F\xAA\x55", 4));
    EXPECT_EQ(client->line(), "OK");
    const auto rasters = printedOfKind(Kind::Raster, 1);
    ASSERT_FALSE(rasters.empty());
    EXPECT_EQ(rasters[0].width, 16u);
}

TEST_F(TcpServiceTest, ShortRasterUploadReportsTheCountAndKeepsTheConnection) {
    auto client = connect();
    client->greeted();
    client->send("@imgb 16 2\n");
    EXPECT_EQ(client->bytes(1), ">");
    client->send("abc");
    // The service waits 10 s for the missing byte.
    EXPECT_EQ(client->line(20s), "ERROR byte number was not met: 3 of 4");
    EXPECT_EQ(client->line(), "OK");
    EXPECT_TRUE(printedOfKind(Kind::Raster, 0).empty());
    client->send("@status\n");
    EXPECT_TRUE(isStatusText(client->line()));
}

TEST_F(TcpServiceTest, NewClientReplacesTheCurrentOne) {
    auto first = connect();
    first->greeted();
    auto second = connect();
    EXPECT_EQ(second->line(), "Custom TL60");
    EXPECT_TRUE(first->closedByPeer());
    second->lines(2);
    second->send("@status\n");
    EXPECT_TRUE(isStatusText(second->line()));
}

TEST_F(TcpServiceTest, LineSplitAcrossAPauseStaysOneLine) {
    auto client = connect();
    client->greeted();
    client->send("Hello ");
    std::this_thread::sleep_for(400ms); // several of the service's read time-outs
    client->send("World\n");
    EXPECT_EQ(client->line(), "OK");
    EXPECT_EQ(printedText(1), std::vector<std::string>{"Hello World"});
}

TEST_F(TcpServiceTest, ConfigurationSectionIsTheServices) {
    EXPECT_EQ(mManager->getConfig()["tcp"],
              (nlohmann::json{{"interface", "127.0.0.1"}, {"port", 1413}}));
}

TEST(TcpServiceWithoutDriver, GreetingSaysSoAndTheListenerGoesOn) {
    auto manager = std::make_shared<PrinterManager>(
        "/nonexistent/printer", "/nonexistent/voltrin-tcp-test.json", [](const std::string&) {
            return std::unique_ptr<zelvo::PrinterManager::Printers::Driver>();
        });
    manager->start();
    Service service(manager, 0, false);
    service.start();
    for (int round = 0; round < 2; ++round) {
        Client client(service.listeningPort());
        EXPECT_EQ(client.lines(3),
                  (std::vector<std::string>{"ERROR: Driver not active", "[0x00000000]", "OK"}));
        client.send("Hello\n");
        EXPECT_EQ(client.line(), "ERROR: -1 [0x00000000]");
    }
    service.stop();
    manager->stop();
}

TEST(TcpServiceConfiguration, ConfiguredPortCountsOnlyWithTheDefaultCommandLinePort) {
    auto manager = std::make_shared<PrinterManager>(
        "/nonexistent/printer", "/nonexistent/voltrin-tcp-test.json", [](const std::string&) {
            return std::unique_ptr<zelvo::PrinterManager::Printers::Driver>();
        });
    Service service(manager, 1413, false);
    // Through the manager, as a configuration document would arrive; not running yet, so
    // nothing restarts.
    manager->setConfig({{"tcp", {{"port", 0}}}});
    service.start();
    const uint16_t first = service.listeningPort();
    EXPECT_NE(first, 0);
    EXPECT_NE(first, 1413);
    {
        Client client(first);
        EXPECT_EQ(client.line(), "ERROR: Driver not active");
    }

    // A change while running restarts the listener on the new port.
    TCPServer probe;
    probe.listen(0, "127.0.0.1");
    const uint16_t chosen = probe.port();
    probe.close();
    manager->setConfig({{"tcp", {{"port", chosen}}}});
    EXPECT_EQ(service.listeningPort(), chosen);
    {
        Client client(chosen);
        EXPECT_EQ(client.line(), "ERROR: Driver not active");
    }

    // A section it cannot listen with is refused and the service goes on where it was.
    EXPECT_THROW(manager->setConfig({{"tcp", {{"port", 70000}}}}), std::runtime_error);
    EXPECT_EQ(service.listeningPort(), chosen);
    EXPECT_EQ(service.getConfigCallback()["port"], chosen);
    Client client(chosen);
    EXPECT_EQ(client.line(), "ERROR: Driver not active");
    service.stop();
}

} // namespace
