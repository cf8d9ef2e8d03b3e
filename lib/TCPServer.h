// TCPServer: a listening stream socket with an optional accept time-out.
#pragma once

#include <cstdint>
#include <string>

#include "TCPClient.h"

// A value-like handle: copying copies the descriptor and the destructor does not close it; the
// owner calls close. No locking: one thread owns the object.
class TCPServer {
public:
    // Listens on `address` (empty: any address) and `port` (0: an ephemeral port) with a
    // backlog of 1. A socket that is still open is closed first. Throws std::runtime_error
    // with the system's error text for the failing call; the server is then not listening.
    void listen(uint16_t port, const std::string& address);
    // With a time-out of 0 or more, waits at most that long for a connection and returns a
    // not-connected client on expiry. The accepted client has default settings and nothing is
    // applied to its socket. A failing wait or accept closes the listening socket and throws
    // std::runtime_error with the system's error text; so does accept when not listening.
    TCPClient accept();
    // Accept time-out in ms; a negative value waits without limit.
    void setTimeout(int ms) { mTimeout = ms; }
    // Closes an open descriptor and sets it to -1. The result of the system close, 0 when
    // there was nothing to close.
    int close();
    bool listening() const { return mSocket >= 0; }

    // Local IPv4 address in dotted form and local port in host order; "" and 0 when not
    // listening.
    std::string address() const;
    uint16_t port() const;

private:
    [[noreturn]] void fail(const std::string& text);

    int mSocket = -1;
    int mTimeout = -1; // ms, negative: without limit
};
