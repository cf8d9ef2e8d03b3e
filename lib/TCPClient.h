// TCPClient: one connected stream socket with byte, buffer and line input/output, per-socket
// time-outs and TCP keep-alive settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A value-like handle: copying copies the descriptor and the destructor does not close it; the
// owner calls close. Errors other than a time-out close the socket at once, so connected tells
// whether the descriptor is still open, not whether the peer is still there.
//
// No locking: one thread owns the object for reading and writing. close from another thread
// only closes the descriptor; it is safe only while the owner is not using the object (for
// instance after the owner's thread has been joined).
class TCPClient {
public:
    TCPClient() = default;
    // Takes the descriptor as it is: the stored settings keep their defaults and nothing is
    // applied to the socket.
    explicit TCPClient(int socket) : mSocket(socket) {}

    bool connected() const { return mSocket != -1; }
    // Closes an open descriptor and sets it to -1. The result of the system close, 0 when
    // there was nothing to close.
    int close();
    int& getNative() { return mSocket; }

    // Peer IPv4 address in dotted form and peer port in host order; "" and 0 when not
    // connected or unknown.
    std::string address() const;
    uint16_t port() const;

    // ms for the next connect; 0 (and any negative value) means a blocking connect.
    void setConnectTimeout(int ms);
    // Receive / send time-out in ms; 0 means none, a negative value is taken as 0. Applied to
    // the socket only when the value changes and the client is connected.
    void setReadTimeout(int ms);
    void setWriteTimeout(int ms);
    // Applied to the socket only when the value changes and the client is connected; a value the
    // system refuses stays stored but leaves the socket unchanged.
    void setKeepAlive(bool on);
    void setKeepAliveTime(int seconds);
    void setKeepAliveInterval(int seconds);
    void setKeepAliveProbes(int count);

    // Waits at most ms (a negative value: without limit) for the socket to become readable.
    // False when not connected or on time-out; throws std::runtime_error (closing the socket)
    // when the wait fails.
    bool available(int ms);

    // One byte 0..255; -1 when not connected, on time-out (socket stays open), or when the peer
    // closed or an error occurred (socket closed).
    int read();
    // Receives until `length` bytes have arrived; on a receive time-out the count so far; -1
    // when not connected, when the peer closed or on error (socket closed). At most INT_MAX
    // bytes are read per call.
    int read(void* buffer, size_t length);
    // As above, appending the bytes received to `bytes`.
    int read(std::vector<unsigned char>& bytes, size_t length);

    // 1 when sent, 0 on a send time-out, -1 when not connected or on error (socket closed).
    int write(unsigned char byte);
    // Sends until all bytes are out and returns the total; on a send time-out the count so far;
    // -1 when not connected or on error (socket closed); empty input returns 0. At most INT_MAX
    // bytes are sent per call.
    int write(const void* buffer, size_t length);
    int write(const std::vector<unsigned char>& bytes);
    int print(const std::string& text);
    // The text followed by "\r\n".
    int println(const std::string& text);
    // Formats into at most 255 characters and sends them; -1 when formatting fails.
    int printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // Appends bytes to `line` until a line feed (true, not stored); carriage returns are
    // dropped wherever they occur. False when not connected, on a receive time-out (the bytes
    // so far stay in `line`, the socket stays open), or when the peer closed or an error
    // occurred (socket closed). `line` is not cleared first.
    bool getline(std::string& line);

    // Nothing when already connected to the same dotted address and port. Otherwise closes an
    // open socket, connects to the first address `host` resolves to and applies the stored
    // time-outs and keep-alive settings. Throws std::runtime_error with the system's error text
    // or "Connect timeout" (the socket is closed then).
    void connect(const std::string& host, uint16_t port);

private:
    void applyTimeout(int option, int ms);
    void applyOption(int level, int option, int value);
    void fail();

    int mSocket = -1;
    int mConnectTimeout = 0; // ms, 0: blocking connect
    int mReadTimeout = 0;    // ms, 0: none
    int mWriteTimeout = 0;   // ms, 0: none
    bool mKeepAlive = false;
    int mKeepAliveTime = 7200;   // s idle before the first probe
    int mKeepAliveInterval = 75; // s between probes
    int mKeepAliveProbes = 9;    // probes before the connection is dropped
};
