// API::TCP::Config: where the TCP command service listens.
#pragma once

#include "Log.h"
#include "SettingStore.h"

#include <cstdint>
#include <string>

namespace zelvo::PrinterManager::API::TCP {

class Config : public SettingStore {
public:
    // The port the service falls back to, and the command line's default port.
    static constexpr uint64_t DefaultPort = 1413;

    Config();
    ~Config() override = default;

    void defaults();
    std::string interface() const;
    void setInterface(const std::string& address);
    uint64_t port() const;
    void setPort(uint64_t port);

private:
    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

} // namespace zelvo::PrinterManager::API::TCP
