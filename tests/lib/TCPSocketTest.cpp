// TCPServer and TCPClient over real loopback sockets: accept time-out, line and buffer input,
// output framing, peer close, set-up errors, connect time-out and socket options.
#include "TCPClient.h"
#include "TCPServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int intOption(TCPClient& client, int level, int option) {
    int value = -1;
    socklen_t size = sizeof(value);
    EXPECT_EQ(getsockopt(client.getNative(), level, option, &value, &size), 0);
    return value;
}

long long timeoutMs(TCPClient& client, int option) {
    timeval value{};
    socklen_t size = sizeof(value);
    EXPECT_EQ(getsockopt(client.getNative(), SOL_SOCKET, option, &value, &size), 0);
    return value.tv_sec * 1000LL + value.tv_usec / 1000;
}

bool closeOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

std::string errorText(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no exception)";
}

// A listening server on an ephemeral loopback port and one connected pair: `peer` is the
// connecting side, `served` the accepted one. Both sides read with a time-out so that a fault
// fails the test instead of hanging it.
class TCPSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.listen(0, "127.0.0.1");
        ASSERT_TRUE(server.listening());
        ASSERT_NE(server.port(), 0);
        connectPair();
    }

    void TearDown() override {
        peer.close();
        served.close();
        server.close();
    }

    void connectPair() {
        peer.close();
        served.close();
        peer = TCPClient();
        peer.connect("127.0.0.1", server.port());
        server.setTimeout(5000);
        served = server.accept();
        ASSERT_TRUE(served.connected());
        peer.setReadTimeout(5000);
        served.setReadTimeout(5000);
    }

    TCPServer server;
    TCPClient peer;
    TCPClient served;
};

TEST_F(TCPSocketTest, AcceptTimesOutWithNotConnectedClient) {
    server.setTimeout(200);
    const Clock::time_point start = Clock::now();
    TCPClient none = server.accept();
    const long long elapsed = msSince(start);
    EXPECT_FALSE(none.connected());
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 5000);
    EXPECT_TRUE(server.listening());
}

TEST_F(TCPSocketTest, EndpointsAndDescriptorFlags) {
    EXPECT_EQ(server.address(), "127.0.0.1");
    EXPECT_EQ(peer.address(), "127.0.0.1");
    EXPECT_EQ(peer.port(), server.port());

    sockaddr_in local{};
    socklen_t size = sizeof(local);
    ASSERT_EQ(getsockname(peer.getNative(), reinterpret_cast<sockaddr*>(&local), &size), 0);
    EXPECT_EQ(served.address(), "127.0.0.1");
    EXPECT_EQ(served.port(), ntohs(local.sin_port));

    EXPECT_TRUE(closeOnExec(peer.getNative()));
    EXPECT_TRUE(closeOnExec(served.getNative()));
    TCPServer copy = server; // a copy is the same descriptor; destroying it closes nothing
    EXPECT_EQ(copy.port(), server.port());

    EXPECT_EQ(TCPClient().address(), "");
    EXPECT_EQ(TCPClient().port(), 0);
    server.close();
    EXPECT_FALSE(server.listening());
    EXPECT_EQ(server.port(), 0);
    EXPECT_EQ(errorText([&] { server.accept(); }), strerror(EBADF));
}

TEST_F(TCPSocketTest, GetlineSplitsLinesAndDropsCarriageReturns) {
    struct Case {
        std::string sent;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"ab\r\ncd\n", {"ab", "cd"}},
        {"a\rb\n", {"ab"}},
        {"\r\n\n", {"", ""}},
        {"\r\rx\r\r\n", {"x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "sent " << testing::PrintToString(c.sent));
        ASSERT_EQ(peer.print(c.sent), static_cast<int>(c.sent.size()));
        for (const std::string& expected : c.lines) {
            std::string line;
            ASSERT_TRUE(served.getline(line));
            EXPECT_EQ(line, expected);
        }
        served.setReadTimeout(50);
        std::string rest;
        EXPECT_FALSE(served.getline(rest));
        EXPECT_EQ(rest, "");
        EXPECT_TRUE(served.connected());
        served.setReadTimeout(5000);
    }
}

TEST_F(TCPSocketTest, GetlineTimeOutKeepsPartialLineAndSocket) {
    served.setReadTimeout(100);
    std::string line = "";
    ASSERT_EQ(peer.print("pa"), 2);
    EXPECT_FALSE(served.getline(line));
    EXPECT_EQ(line, "pa");
    EXPECT_TRUE(served.connected());

    ASSERT_EQ(peer.print("rt\n"), 3);
    served.setReadTimeout(5000);
    EXPECT_TRUE(served.getline(line));
    EXPECT_EQ(line, "part");
}

TEST_F(TCPSocketTest, ReadTimeOutReturnsWhatArrivedAndKeepsSocket) {
    served.setReadTimeout(100);
    EXPECT_EQ(served.read(), -1);
    EXPECT_TRUE(served.connected());

    const unsigned char sent[] = {0x00, 0xFF, 0x7F};
    ASSERT_EQ(peer.write(sent, sizeof(sent)), 3);
    unsigned char buffer[10] = {};
    EXPECT_EQ(served.read(buffer, sizeof(buffer)), 3);
    EXPECT_EQ(0, memcmp(buffer, sent, sizeof(sent)));
    EXPECT_TRUE(served.connected());
    EXPECT_EQ(served.read(buffer, 0), 0);

    ASSERT_EQ(peer.write(std::vector<unsigned char>{0x10, 0x20}), 2);
    std::vector<unsigned char> bytes = {0x01};
    EXPECT_EQ(served.read(bytes, 10), 2);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0x01, 0x10, 0x20}));

    ASSERT_EQ(peer.write(static_cast<unsigned char>(0xC8)), 1);
    EXPECT_EQ(served.read(), 0xC8);
    EXPECT_TRUE(served.connected());
}

TEST_F(TCPSocketTest, AvailableWaitsForData) {
    EXPECT_FALSE(served.available(50));
    ASSERT_EQ(peer.print("x"), 1);
    EXPECT_TRUE(served.available(5000));
    EXPECT_TRUE(served.available(-1)); // data is still pending: returns at once
    EXPECT_EQ(served.read(), 'x');
    EXPECT_FALSE(TCPClient().available(0));
}

TEST_F(TCPSocketTest, OutputArrivesAsFramed) {
    EXPECT_EQ(served.println("OK"), 4);
    unsigned char buffer[4] = {};
    ASSERT_EQ(peer.read(buffer, 4), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "OK\r\n");

    EXPECT_EQ(served.printf("%d-%s", 7, "x"), 3);
    std::string line(400, 'y');
    EXPECT_EQ(served.printf("%s\n", line.c_str()), 255); // cut to 255, line feed lost
    EXPECT_EQ(served.println(""), 2);
    std::string received;
    ASSERT_TRUE(peer.getline(received));
    EXPECT_EQ(received, "7-x" + std::string(255, 'y'));

    EXPECT_EQ(served.write(nullptr, 0), 0);
    EXPECT_EQ(served.write(std::vector<unsigned char>{}), 0);
}

TEST_F(TCPSocketTest, PeerCloseClosesTheReader) {
    // `pending` is sent before the peer closes: an unfinished line or buffer is lost with it.
    struct Case {
        const char* name;
        std::string pending;
        std::function<bool(TCPClient&)> readFails;
    };
    const std::vector<Case> cases = {
        {"getline", "ab",
         [](TCPClient& c) {
             std::string s;
             return !c.getline(s);
         }},
        {"read byte", "", [](TCPClient& c) { return c.read() == -1; }},
        {"read buffer", "ab",
         [](TCPClient& c) {
             unsigned char b[8];
             return c.read(b, sizeof(b)) == -1;
         }},
        {"read vector", "ab",
         [](TCPClient& c) {
             std::vector<unsigned char> v;
             return c.read(v, 8) == -1 && v.empty();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        connectPair();
        ASSERT_EQ(peer.print(c.pending), static_cast<int>(c.pending.size()));
        peer.close();
        EXPECT_TRUE(c.readFails(served));
        EXPECT_FALSE(served.connected());
        EXPECT_TRUE(c.readFails(served)); // and later calls see "not connected"
    }
}

TEST_F(TCPSocketTest, WriteToClosedPeerFailsWithoutSignal) {
    served.close();
    // The first sends may still be accepted locally; the peer's reset makes a later one fail.
    // A broken-pipe signal would end the test process here.
    int rc = 0;
    for (int i = 0; i < 200 && rc >= 0; ++i)
        rc = peer.print("data");
    EXPECT_EQ(rc, -1);
    EXPECT_FALSE(peer.connected());
    EXPECT_EQ(peer.print("x"), -1);
    EXPECT_EQ(peer.write(static_cast<unsigned char>(1)), -1);
}

TEST_F(TCPSocketTest, ListenOnPortInUseThrowsAndIsNotListening) {
    TCPServer second;
    EXPECT_EQ(errorText([&] { second.listen(server.port(), "127.0.0.1"); }), strerror(EADDRINUSE));
    EXPECT_FALSE(second.listening());
    EXPECT_TRUE(server.listening());
}

TEST_F(TCPSocketTest, ConnectToClosedPortThrows) {
    TCPServer closed;
    closed.listen(0, "127.0.0.1");
    const uint16_t port = closed.port();
    closed.close();
    for (int timeout : {0, 2000}) {
        SCOPED_TRACE(timeout);
        TCPClient client;
        client.setConnectTimeout(timeout);
        EXPECT_EQ(errorText([&] { client.connect("127.0.0.1", port); }), strerror(ECONNREFUSED));
        EXPECT_FALSE(client.connected());
    }
}

TEST_F(TCPSocketTest, ConnectWithTimeOutLeavesBlockingSocket) {
    TCPClient client;
    client.setConnectTimeout(2000);
    client.connect("127.0.0.1", server.port());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(fcntl(client.getNative(), F_GETFL) & O_NONBLOCK, 0);
    TCPClient accepted = server.accept();
    ASSERT_TRUE(accepted.connected());

    const int before = client.getNative();
    client.connect("127.0.0.1", server.port()); // same endpoint: nothing happens
    EXPECT_EQ(client.getNative(), before);

    ASSERT_EQ(accepted.println("hi"), 4);
    std::string line;
    EXPECT_TRUE(client.getline(line)); // blocking read, no read time-out set
    EXPECT_EQ(line, "hi");
    accepted.close();
    client.close();
}

// With a backlog of 1 the listener's queue is full after two unaccepted connections, and the
// system then drops further connection requests, so a third connect cannot complete in time.
TEST_F(TCPSocketTest, ConnectTimeOutExpires) {
    std::vector<TCPClient> queued(2);
    for (TCPClient& c : queued)
        c.connect("127.0.0.1", server.port());
    TCPClient late;
    late.setConnectTimeout(200);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(errorText([&] { late.connect("127.0.0.1", server.port()); }), "Connect timeout");
    EXPECT_LT(msSince(start), 5000);
    EXPECT_FALSE(late.connected());
    for (TCPClient& c : queued)
        c.close();
}

TEST_F(TCPSocketTest, SocketOptionsFollowTheSetters) {
    // A stored value that does not change is not written to the socket.
    int marker = 100;
    ASSERT_EQ(setsockopt(served.getNative(), IPPROTO_TCP, TCP_KEEPIDLE, &marker, sizeof(marker)),
              0);
    served.setKeepAliveTime(7200);
    EXPECT_EQ(intOption(served, IPPROTO_TCP, TCP_KEEPIDLE), 100);

    EXPECT_EQ(intOption(served, SOL_SOCKET, SO_KEEPALIVE), 0);
    served.setKeepAlive(true);
    EXPECT_NE(intOption(served, SOL_SOCKET, SO_KEEPALIVE), 0);
    served.setKeepAliveTime(60);
    served.setKeepAliveInterval(30);
    served.setKeepAliveProbes(1);
    EXPECT_EQ(intOption(served, IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(intOption(served, IPPROTO_TCP, TCP_KEEPINTVL), 30);
    EXPECT_EQ(intOption(served, IPPROTO_TCP, TCP_KEEPCNT), 1);

    served.setReadTimeout(1500);
    served.setWriteTimeout(250);
    // The system keeps time-outs in clock ticks, so the value read back may be rounded.
    EXPECT_NEAR(timeoutMs(served, SO_RCVTIMEO), 1500, 20);
    EXPECT_NEAR(timeoutMs(served, SO_SNDTIMEO), 250, 20);
    served.setReadTimeout(-5); // negative: no time-out
    EXPECT_EQ(timeoutMs(served, SO_RCVTIMEO), 0);

    // Settings stored before connect are applied by connect.
    TCPClient client;
    client.setKeepAlive(true);
    client.setKeepAliveTime(61);
    client.setKeepAliveInterval(31);
    client.setKeepAliveProbes(2);
    client.setReadTimeout(700);
    client.setWriteTimeout(800);
    client.connect("127.0.0.1", server.port());
    EXPECT_NE(intOption(client, SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(intOption(client, IPPROTO_TCP, TCP_KEEPIDLE), 61);
    EXPECT_EQ(intOption(client, IPPROTO_TCP, TCP_KEEPINTVL), 31);
    EXPECT_EQ(intOption(client, IPPROTO_TCP, TCP_KEEPCNT), 2);
    EXPECT_NEAR(timeoutMs(client, SO_RCVTIMEO), 700, 20);
    EXPECT_NEAR(timeoutMs(client, SO_SNDTIMEO), 800, 20);
    client.close();
}

} // namespace
