// API::TCP::Service: the printer over a line-oriented TCP text protocol, one client at a time.
#pragma once

#include "Log.h"
#include "TCPClient.h"
#include "TCPServer.h"
#include "api/tcp/Config.h"
#include "api/tcp/Message.h"
#include "manager/PrinterManager.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zelvo::PrinterManager::API::TCP {

class Service {
public:
    Service(std::shared_ptr<PrinterManager> manager, uint64_t port, bool global);
    virtual ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Listens and starts the listener thread; a listening failure propagates as
    // std::runtime_error. Nothing happens while running.
    void start();
    // Joins the listener, then closes the client and the listening socket.
    void stop();
    // stop and start, only while running.
    void restart();

    nlohmann::json getConfigCallback();
    // Applies the section and restarts, so that a new interface or port takes effect at once.
    void setConfigCallback(const nlohmann::json& document);

    // The reply to one line: "OK\r\n" lines, each preceded by a command's output line. Keeps no
    // state of its own, so any thread may call it; "imgb" needs a connected client to read the
    // raster from and fails without one.
    std::string parse(const std::string& line);
    // "[0x" + the status bits as 8 lower-case hex digits + "]".
    std::string status();

    // The port the service listens on while running (0 otherwise); useful with port 0.
    uint16_t listeningPort();

private:
    // One command: reads its arguments from the message, returns its output (usually empty).
    // `client` is the connection the line came from, or null.
    using Command = std::string (Service::*)(Message&, TCPClient* client);
    static const std::map<std::string, Command> mCommands;

    std::string parse(const std::string& line, TCPClient* client);
    void listenerFunction();
    // Opens the listening socket on the configured address and port.
    void listen();
    // Serves one complete line of the client: parse, reply, or the error line.
    void serveLine(const std::string& line);
    void greet();
    void startLocked();
    void stopLocked();

    // Style commands: the current style with one field changed.
    template <typename Change> std::string changeStyle(Change change);

    std::string barcode(Message& message, TCPClient* client);
    std::string bold(Message& message, TCPClient* client);
    std::string center(Message& message, TCPClient* client);
    std::string charspace(Message& message, TCPClient* client);
    std::string cut(Message& message, TCPClient* client);
    std::string defaults(Message& message, TCPClient* client);
    std::string feed(Message& message, TCPClient* client);
    std::string font(Message& message, TCPClient* client);
    std::string fontSize(Message& message, TCPClient* client);
    std::string fullcut(Message& message, TCPClient* client);
    std::string hex(Message& message, TCPClient* client);
    std::string img(Message& message, TCPClient* client);
    std::string imgb(Message& message, TCPClient* client);
    std::string left(Message& message, TCPClient* client);
    std::string normal(Message& message, TCPClient* client);
    std::string nounderline(Message& message, TCPClient* client);
    std::string partialcut(Message& message, TCPClient* client);
    std::string qrcode(Message& message, TCPClient* client);
    std::string reset(Message& message, TCPClient* client);
    std::string reverse(Message& message, TCPClient* client);
    std::string right(Message& message, TCPClient* client);
    std::string statusCommand(Message& message, TCPClient* client);
    std::string underline(Message& message, TCPClient* client);
    std::string utf8(Message& message, TCPClient* client);
    std::string verify(Message& message, TCPClient* client);

    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    const std::shared_ptr<PrinterManager> mPrinterManager;
    const uint64_t mPort;
    const bool mGlobal;
    // Serialises start, stop, restart and configuration changes (never taken by the listener
    // thread). Lock order: mLifecycleMutex, then mConfigMutex.
    std::mutex mLifecycleMutex;
    // Guards mConfig, which the manager's configuration path reads and writes.
    std::mutex mConfigMutex;
    Config mConfig;
    // Written by start and stop under mLifecycleMutex while the listener is not running; the
    // listener thread owns them in between.
    TCPServer mServer;
    TCPClient mClient;
    // The bytes of a line not yet ended by a line feed (listener thread only).
    std::string mPendingLine;
    bool mRunning = false; // guarded by mLifecycleMutex
    std::atomic<bool> mListening{false};
    std::atomic<uint16_t> mListeningPort{0};
    std::thread mListener;
};

} // namespace zelvo::PrinterManager::API::TCP
