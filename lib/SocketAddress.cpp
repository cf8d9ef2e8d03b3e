// SocketAddress: getsockname / getpeername for IPv4 and IPv6 sockets.
#include "SocketAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

bool endOf(int socket, SocketAddress::End end, sockaddr_storage& out) {
    socklen_t size = sizeof(out);
    if (socket < 0)
        return false;
    auto* raw = reinterpret_cast<sockaddr*>(&out);
    return (end == SocketAddress::Local ? getsockname(socket, raw, &size)
                                        : getpeername(socket, raw, &size)) == 0;
}

} // namespace

std::string SocketAddress::address(int socket, End end) {
    sockaddr_storage where{};
    if (!endOf(socket, end, where))
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (where.ss_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(&where)->sin_addr;
    else if (where.ss_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(&where)->sin6_addr;
    if (raw == nullptr || inet_ntop(where.ss_family, raw, text, sizeof(text)) == nullptr)
        return {};
    return text;
}

uint16_t SocketAddress::port(int socket, End end) {
    sockaddr_storage where{};
    if (!endOf(socket, end, where))
        return 0;
    if (where.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&where)->sin_port);
    if (where.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&where)->sin6_port);
    return 0;
}
