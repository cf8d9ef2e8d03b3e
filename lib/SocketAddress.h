// SocketAddress: the dotted address and the port of either end of a socket.
#pragma once

#include <cstdint>
#include <string>

class SocketAddress {
public:
    enum End { Local, Peer };

    // The address in text form ("127.0.0.1", or an IPv6 form); "" when unknown.
    static std::string address(int socket, End end);
    // The port in host order; 0 when unknown.
    static uint16_t port(int socket, End end);
};
