// TCPServer: getaddrinfo/bind/listen set-up and accept with a poll-based time-out.
#include "TCPServer.h"

#include "SocketAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

// poll for readability at most ms (negative: without limit); a signal restarts the wait with
// the time that is left. The poll result: 0 on time-out, -1 on error (errno set).
int waitReadable(int fd, int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
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

} // namespace

// Closes the socket and throws; the caller has saved errno's text before anything else ran.
void TCPServer::fail(const std::string& text) {
    close();
    throw std::runtime_error(text);
}

void TCPServer::listen(uint16_t port, const std::string& address) {
    close();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(address.empty() ? nullptr : address.c_str(),
                                     std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        const int error = errno;
        fail(resolved == EAI_SYSTEM ? strerror(error) : gai_strerror(resolved));
    }

    const int fd =
        ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
        const int error = errno;
        freeaddrinfo(found);
        fail(strerror(error));
    }
    mSocket = fd;

    const int on = 1;
    int error = 0;
    if (setsockopt(mSocket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::bind(mSocket, found->ai_addr, found->ai_addrlen) != 0 || ::listen(mSocket, 1) != 0)
        error = errno;
    freeaddrinfo(found);
    if (error != 0)
        fail(strerror(error));
}

TCPClient TCPServer::accept() {
    // poll ignores a negative descriptor and would wait out the whole time-out.
    if (!listening())
        fail(strerror(EBADF));
    if (mTimeout >= 0) {
        const int rc = waitReadable(mSocket, mTimeout);
        if (rc < 0)
            fail(strerror(errno));
        if (rc == 0)
            return TCPClient();
    }
    for (;;) {
        const int fd = ::accept4(mSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return TCPClient(fd);
        if (errno != EINTR)
            fail(strerror(errno));
    }
}

int TCPServer::close() {
    if (mSocket < 0)
        return 0;
    const int rc = ::close(mSocket);
    mSocket = -1;
    return rc;
}

std::string TCPServer::address() const {
    return SocketAddress::address(mSocket, SocketAddress::Local);
}

uint16_t TCPServer::port() const {
    return SocketAddress::port(mSocket, SocketAddress::Local);
}
