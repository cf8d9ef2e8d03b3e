// API::TCP::Service: lifecycle, configuration and the listener thread.
#include "api/tcp/Service.h"

#include "Helpers.h"
#include "String.h"
#include "Thread.h"

#include <cstdarg>
#include <limits>
#include <stdexcept>

namespace zelvo::PrinterManager::API::TCP {

namespace {

constexpr int AcceptTimeoutMs = 100;
constexpr int ReadTimeoutMs = 100;
// Pause before listening again after the listening socket failed.
constexpr int RelistenDelayMs = 100;
// A line longer than this is refused as a whole instead of growing without bound.
constexpr size_t MaxLineBytes = 1 << 20;

std::string hexDump(const std::string& text) {
    std::string dump =
        Helpers::bytesToHex(std::vector<unsigned char>(text.begin(), text.end()), true);
    if (!dump.empty())
        dump.pop_back();
    return dump;
}

} // namespace

Service::Service(std::shared_ptr<PrinterManager> manager, uint64_t port, bool global)
    : mPrinterManager(std::move(manager)), mPort(port), mGlobal(global) {
    mPrinterManager->addGetConfigCallback("tcp", [this] { return getConfigCallback(); });
    mPrinterManager->addSetConfigCallback(
        "tcp", [this](const nlohmann::json& document) { setConfigCallback(document); });
}

Service::~Service() {
    stop();
}

void Service::start() {
    std::lock_guard<std::mutex> lifecycle(mLifecycleMutex);
    startLocked();
}

void Service::stop() {
    std::lock_guard<std::mutex> lifecycle(mLifecycleMutex);
    stopLocked();
}

void Service::restart() {
    log(Log::Info, "Restart!");
    std::lock_guard<std::mutex> lifecycle(mLifecycleMutex);
    if (!mRunning)
        return;
    stopLocked();
    startLocked();
}

void Service::startLocked() {
    if (mRunning)
        return;
    log(Log::Debug, "TCP::Service starting...");
    listen();
    mServer.setTimeout(AcceptTimeoutMs);
    mRunning = true;
    mListening = true;
    mListener = std::thread([this] { listenerFunction(); });
}

void Service::stopLocked() {
    if (!mRunning)
        return;
    log(Log::Debug, "Stopping...");
    mRunning = false;
    mListening = false;
    if (mListener.joinable())
        mListener.join();
    if (mClient.connected()) {
        log(Log::Warning, "Disconnecting TCP client");
        mClient.close();
    }
    mPendingLine.clear();
    mServer.close();
    mListeningPort = 0;
    log(Log::Debug, "Stopped");
}

void Service::listen() {
    uint64_t port = mPort;
    std::string address = "0.0.0.0";
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        if (port == Config::DefaultPort)
            port = mConfig.port();
        if (!mGlobal)
            address = mConfig.interface();
    }
    if (port > std::numeric_limits<uint16_t>::max())
        throw std::runtime_error(
            String::format("Invalid port %llu", static_cast<unsigned long long>(port)));
    mServer.listen(static_cast<uint16_t>(port), address);
    mListeningPort = mServer.port();
    log(Log::Info, "Listening on %s:%u", address.c_str(), mServer.port());
}

uint16_t Service::listeningPort() {
    return mListeningPort;
}

nlohmann::json Service::getConfigCallback() {
    std::lock_guard<std::mutex> config(mConfigMutex);
    return mConfig.toJson();
}

void Service::setConfigCallback(const nlohmann::json& document) {
    log(Log::Info, "Restart!");
    std::lock_guard<std::mutex> lifecycle(mLifecycleMutex);
    Config previous;
    {
        std::lock_guard<std::mutex> config(mConfigMutex);
        previous = mConfig;
        mConfig.updateFromJson(document);
    }
    if (!mRunning)
        return;
    stopLocked();
    try {
        startLocked();
    } catch (const std::exception& e) {
        // A section the service cannot listen with (a port in use, an unknown address) must not
        // leave the printer unreachable: go back to the previous settings and report the error.
        log(Log::Error, "Could not listen with the new configuration: %s", e.what());
        {
            std::lock_guard<std::mutex> config(mConfigMutex);
            mConfig = previous;
        }
        startLocked();
        throw;
    }
}

std::string Service::status() {
    return String::format("[0x%08lx]", mPrinterManager->status().toBitset().to_ulong());
}

void Service::greet() {
    std::string model;
    try {
        model = mPrinterManager->getModel();
    } catch (const std::exception& e) {
        // No driver: the client still learns the status and may wait for the printer.
        model = std::string("ERROR: ") + e.what();
    }
    mClient.print(model + "\r\n" + status() + "\r\n" + "OK\r\n");
}

void Service::serveLine(const std::string& line) {
    log(Log::Info, "Request: \"%s\" [%s]", line.c_str(), hexDump(line).c_str());
    try {
        const std::string reply = parse(line, &mClient);
        log(Log::Info, "Response: \"%s\" [%s]", Helpers::escape(reply).c_str(),
            hexDump(reply).c_str());
        mClient.print(reply);
    } catch (const std::exception& e) {
        log(Log::Error, "Request failed: %s", e.what());
        const std::string error = "ERROR: -1 " + status();
        log(Log::Error, "%s", error.c_str());
        mClient.println(error);
    }
}

void Service::listenerFunction() {
    bool overlong = false; // the current line passed MaxLineBytes and is being skipped
    while (mListening) {
        if (!mServer.listening()) {
            // The listening socket failed: open it again and go on serving.
            try {
                listen();
                mServer.setTimeout(mClient.connected() ? 0 : AcceptTimeoutMs);
            } catch (const std::exception& e) {
                log(Log::Error, "Could not listen again: %s", e.what());
                Thread::sleep(RelistenDelayMs);
                continue;
            }
        }

        TCPClient incoming;
        try {
            incoming = mServer.accept();
        } catch (const std::exception& e) {
            log(Log::Error, "Accepting a TCP client failed: %s", e.what());
            mServer.close();
            continue;
        }
        if (incoming.connected()) {
            log(Log::Debug, "TCP client connected.");
            if (mClient.connected()) {
                log(Log::Warning, "Disconnecting TCP client due to new client");
                mClient.close();
            }
            log(Log::Debug, "Saving new client.");
            mClient = incoming;
            mPendingLine.clear();
            overlong = false;
            log(Log::Debug, "Configuring client.");
            mClient.setReadTimeout(ReadTimeoutMs);
            mClient.setKeepAlive(true);
            mClient.setKeepAliveTime(60);
            mClient.setKeepAliveInterval(30);
            mClient.setKeepAliveProbes(1);
            log(Log::Debug, "Printing hello.");
            greet();
            mServer.setTimeout(0);
        }

        if (!mClient.connected()) {
            mPendingLine.clear();
            overlong = false;
            mServer.setTimeout(AcceptTimeoutMs);
            continue;
        }

        // Bytes up to a line feed; what arrived before a pause stays in mPendingLine and is
        // completed by the next bytes, so a slow client's line is never split in two.
        for (;;) {
            const int c = mClient.read();
            if (c < 0)
                break;
            if (c == '\r')
                continue;
            if (c == '\n') {
                if (overlong) {
                    overlong = false;
                    log(Log::Error, "Request longer than %zu bytes refused", MaxLineBytes);
                    mClient.println("ERROR: -1 " + status());
                } else {
                    const std::string line = std::move(mPendingLine);
                    mPendingLine.clear();
                    serveLine(line);
                }
                break;
            }
            if (overlong)
                continue;
            mPendingLine += static_cast<char>(c);
            if (mPendingLine.size() > MaxLineBytes) {
                overlong = true;
                mPendingLine.clear();
            }
            if (!mListening)
                break;
        }
    }
    log(Log::Debug, "TCP listener ended.");
}

void Service::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[TCP::Service] ", fmt, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager::API::TCP
