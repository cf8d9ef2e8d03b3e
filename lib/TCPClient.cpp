// TCPClient: recv/send loops with time-outs, line input, and connect with an optional time-out.
#include "TCPClient.h"

#include "SocketAddress.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// poll for `events` at most ms (negative: without limit); a signal restarts the wait with the
// time that is left. The poll result: 0 on time-out, -1 on error (errno set).
int waitFor(int fd, short events, int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, ms);
        if (rc >= 0 || errno != EINTR)
            return rc;
        if (ms > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            ms = static_cast<int>(std::max<long long>(left.count(), 0));
        }
    }
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

int clampLength(size_t length) {
    return static_cast<int>(std::min<size_t>(length, INT_MAX));
}

} // namespace

int TCPClient::close() {
    if (mSocket == -1)
        return 0;
    const int rc = ::close(mSocket);
    mSocket = -1;
    return rc;
}

// Any condition other than a time-out makes the socket useless.
void TCPClient::fail() {
    close();
}

std::string TCPClient::address() const {
    return SocketAddress::address(mSocket, SocketAddress::Peer);
}

uint16_t TCPClient::port() const {
    return SocketAddress::port(mSocket, SocketAddress::Peer);
}

void TCPClient::setConnectTimeout(int ms) {
    mConnectTimeout = std::max(ms, 0);
}

void TCPClient::applyTimeout(int option, int ms) {
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    setsockopt(mSocket, SOL_SOCKET, option, &value, sizeof(value));
}

void TCPClient::applyOption(int level, int option, int value) {
    setsockopt(mSocket, level, option, &value, sizeof(value));
}

void TCPClient::setReadTimeout(int ms) {
    ms = std::max(ms, 0);
    if (ms == mReadTimeout)
        return;
    mReadTimeout = ms;
    if (connected())
        applyTimeout(SO_RCVTIMEO, ms);
}

void TCPClient::setWriteTimeout(int ms) {
    ms = std::max(ms, 0);
    if (ms == mWriteTimeout)
        return;
    mWriteTimeout = ms;
    if (connected())
        applyTimeout(SO_SNDTIMEO, ms);
}

void TCPClient::setKeepAlive(bool on) {
    if (on == mKeepAlive)
        return;
    mKeepAlive = on;
    if (connected())
        applyOption(SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
}

void TCPClient::setKeepAliveTime(int seconds) {
    if (seconds == mKeepAliveTime)
        return;
    mKeepAliveTime = seconds;
    if (connected())
        applyOption(IPPROTO_TCP, TCP_KEEPIDLE, seconds);
}

void TCPClient::setKeepAliveInterval(int seconds) {
    if (seconds == mKeepAliveInterval)
        return;
    mKeepAliveInterval = seconds;
    if (connected())
        applyOption(IPPROTO_TCP, TCP_KEEPINTVL, seconds);
}

void TCPClient::setKeepAliveProbes(int count) {
    if (count == mKeepAliveProbes)
        return;
    mKeepAliveProbes = count;
    if (connected())
        applyOption(IPPROTO_TCP, TCP_KEEPCNT, count);
}

bool TCPClient::available(int ms) {
    if (!connected())
        return false;
    const int rc = waitFor(mSocket, POLLIN, ms < 0 ? -1 : ms);
    if (rc < 0) {
        const int error = errno;
        fail();
        throw std::runtime_error(strerror(error));
    }
    return rc > 0;
}

int TCPClient::read() {
    unsigned char byte = 0;
    return read(&byte, 1) == 1 ? byte : -1;
}

int TCPClient::read(void* buffer, size_t length) {
    if (!connected())
        return -1;
    const int wanted = clampLength(length);
    auto* bytes = static_cast<unsigned char*>(buffer);
    int got = 0;
    while (got < wanted) {
        const ssize_t n = ::recv(mSocket, bytes + got, static_cast<size_t>(wanted - got), 0);
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock(errno))
            return got;
        fail(); // the peer closed (n == 0) or a real error
        return -1;
    }
    return got;
}

int TCPClient::read(std::vector<unsigned char>& bytes, size_t length) {
    std::vector<unsigned char> buffer(static_cast<size_t>(clampLength(length)));
    const int got = read(buffer.data(), buffer.size());
    if (got > 0)
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
    return got;
}

int TCPClient::write(unsigned char byte) {
    return write(&byte, 1);
}

int TCPClient::write(const void* buffer, size_t length) {
    if (!connected())
        return -1;
    const int wanted = clampLength(length);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int sent = 0;
    while (sent < wanted) {
        const ssize_t n =
            ::send(mSocket, bytes + sent, static_cast<size_t>(wanted - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (wouldBlock(errno))
            return sent;
        fail();
        return -1;
    }
    return sent;
}

int TCPClient::write(const std::vector<unsigned char>& bytes) {
    return write(bytes.data(), bytes.size());
}

int TCPClient::print(const std::string& text) {
    return write(text.data(), text.size());
}

int TCPClient::println(const std::string& text) {
    return print(text + "\r\n");
}

int TCPClient::printf(const char* fmt, ...) {
    char text[256];
    va_list args;
    va_start(args, fmt);
    const int n = vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    if (n < 0)
        return -1;
    return write(text, std::min<size_t>(static_cast<size_t>(n), sizeof(text) - 1));
}

bool TCPClient::getline(std::string& line) {
    for (;;) {
        const int byte = read();
        if (byte < 0)
            return false;
        if (byte == '\n')
            return true;
        if (byte != '\r')
            line.push_back(static_cast<char>(byte));
    }
}

void TCPClient::connect(const std::string& host, uint16_t port) {
    if (connected() && address() == host && this->port() == port)
        return;
    close();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        const int error = errno;
        throw std::runtime_error(resolved == EAI_SYSTEM ? strerror(error) : gai_strerror(resolved));
    }
    mSocket = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (mSocket < 0) {
        const int error = errno;
        mSocket = -1;
        freeaddrinfo(found);
        throw std::runtime_error(strerror(error));
    }

    applyTimeout(SO_RCVTIMEO, mReadTimeout);
    applyTimeout(SO_SNDTIMEO, mWriteTimeout);
    applyOption(SOL_SOCKET, SO_KEEPALIVE, mKeepAlive ? 1 : 0);
    applyOption(IPPROTO_TCP, TCP_KEEPIDLE, mKeepAliveTime);
    applyOption(IPPROTO_TCP, TCP_KEEPINTVL, mKeepAliveInterval);
    applyOption(IPPROTO_TCP, TCP_KEEPCNT, mKeepAliveProbes);

    const int flags = std::max(fcntl(mSocket, F_GETFL), 0);
    if (mConnectTimeout > 0)
        fcntl(mSocket, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(mSocket, found->ai_addr, found->ai_addrlen);
    int error = rc == 0 ? 0 : errno;
    freeaddrinfo(found);

    // A non-blocking connect, a blocking one interrupted by a signal, or one cut short by the
    // send time-out goes on in the background: wait for writability, then ask the socket.
    if (error == EINPROGRESS || error == EINTR) {
        rc = waitFor(mSocket, POLLOUT, mConnectTimeout > 0 ? mConnectTimeout : -1);
        if (rc == 0) {
            fail();
            throw std::runtime_error("Connect timeout");
        }
        error = 0;
        socklen_t size = sizeof(error);
        if (rc < 0)
            error = errno;
        else if (getsockopt(mSocket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
    }
    if (error != 0) {
        fail();
        throw std::runtime_error(strerror(error));
    }
    if (mConnectTimeout > 0)
        fcntl(mSocket, F_SETFL, flags);
}
