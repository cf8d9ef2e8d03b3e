// API::TCP::Config: defaults and typed access of the TCP service's settings.
#include "api/tcp/Config.h"

#include <cstdarg>

namespace zelvo::PrinterManager::API::TCP {

Config::Config() {
    defaults();
}

void Config::defaults() {
    log(Log::Debug, "Loading default configuration.");
    set("interface", Variant(std::string("127.0.0.1")));
    set("port", Variant(static_cast<unsigned long>(DefaultPort)));
}

std::string Config::interface() const {
    return get("interface").toString();
}

void Config::setInterface(const std::string& address) {
    set("interface", Variant(address));
}

uint64_t Config::port() const {
    return get("port").toUInt();
}

void Config::setPort(uint64_t port) {
    set("port", Variant(static_cast<unsigned long>(port)));
}

void Config::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[TCP::Config] ", fmt, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager::API::TCP
