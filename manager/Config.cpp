// Config: defaults and typed access of the manager's settings.
#include "Config.h"

#include <cstdarg>

namespace zelvo::PrinterManager {

Config::Config() {
    defaults();
}

void Config::defaults() {
    log(Log::Debug, "Loading default configuration.");
    set("statusPeriod", Variant(500));
}

unsigned long Config::statusPeriod() const {
    return get("statusPeriod").toUInt();
}

void Config::setStatusPeriod(unsigned long ms) {
    set("statusPeriod", Variant(ms));
}

void Config::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[Config] ", fmt, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager
