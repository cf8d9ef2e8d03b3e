// Log: prefixes, colours and the syslog priority mask.
#include "Log.h"

#include <syslog.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// Written during start-up before other threads exist, read afterwards.
Log::Level gLevel = Log::Error;
std::string gId;
bool gStdErr = false;
bool gColor = false;
bool gLogfmt = false;
double gStartMs = 0;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

int options(bool stdErr) {
    return LOG_CONS | LOG_NDELAY | (stdErr ? LOG_PERROR : 0);
}

int priority(Log::Level level) {
    switch (level) {
    case Log::Error:
        return LOG_ERR;
    case Log::Warning:
        return LOG_WARNING;
    case Log::Info:
        return LOG_INFO;
    default:
        return LOG_DEBUG;
    }
}

const char* colorCode(Log::Level level) {
    switch (level) {
    case Log::Error:
        return "\033[31m";
    case Log::Warning:
        return "\033[33m";
    case Log::Info:
        return "\033[39m";
    case Log::Debug:
        return "\033[35m";
    default:
        return "";
    }
}

} // namespace

void Log::open(const char* id, bool stdErr, bool color) {
    openlog(id, options(stdErr), LOG_LOCAL1);
    gId = id ? id : "";
    gStdErr = stdErr;
    gColor = color;
    gStartMs = nowMs();
}

void Log::close() {
    gId.clear();
    closelog();
}

void Log::setLevel(Level level) {
    gLevel = level;
    int mask;
    switch (level) {
    case Error:
        mask = 0x0F;
        break;
    case Warning:
        mask = 0x1F;
        break;
    case Info:
        mask = 0x7F;
        break;
    default:
        mask = 0xFF;
        break;
    }
    setlogmask(mask);
}

// syslog keeps the identity pointer, so it must point at the stored string.
void Log::reopen() {
    openlog(gId.c_str(), options(gStdErr), LOG_LOCAL1);
}

void Log::setId(const std::string& id) {
    if (id == gId)
        return;
    gId = id;
    reopen();
}

void Log::setStdErr(bool stdErr) {
    if (stdErr == gStdErr)
        return;
    gStdErr = stdErr;
    if (!gId.empty())
        reopen();
}

void Log::setColor(bool color) {
    gColor = color;
}
void Log::setLogfmt(bool logfmt) {
    gLogfmt = logfmt;
}
Log::Level Log::level() {
    return gLevel;
}
const std::string& Log::id() {
    return gId;
}
bool Log::stdErr() {
    return gStdErr;
}
bool Log::color() {
    return gColor;
}
bool Log::logFmt() {
    return gLogfmt;
}

std::string Log::levelToStr(Level level) {
    switch (level) {
    case Error:
        return "error";
    case Warning:
        return "warn";
    case Info:
        return "info";
    case Debug:
        return "debug";
    }
    char text[40];
    std::snprintf(text, sizeof(text), "<unknown-level(%d)>", static_cast<int>(level));
    return text;
}

Log::Level Log::levelFromStr(const std::string& text) {
    if (text == "error")
        return Error;
    if (text == "warn" || text == "warning")
        return Warning;
    if (text == "debug")
        return Debug;
    return Info;
}

std::string Log::compose(Level level, const char* body) {
    std::string out;
    char prefix[64];
    if (gLogfmt) {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%S", &tm);
        std::snprintf(prefix, sizeof(prefix), "ts=%s level=%s ", stamp, levelToStr(level).c_str());
    } else {
        std::snprintf(prefix, sizeof(prefix), "[%9.03f] ", (nowMs() - gStartMs) / 1000.0);
    }
    out = prefix;
    if (gColor) {
        out += colorCode(level);
        out += body;
        out += "\033[39m";
    } else {
        out += body;
    }
    return out;
}

void Log::vprint(Level level, const char* fmt, va_list args) {
    const std::string format = compose(level, fmt);
    vsyslog(priority(level), format.c_str(), args);
}

void Log::vprintTagged(Level level, const char* tag, const char* fmt, va_list args) {
    const std::string format = std::string(tag) + fmt;
    vprint(level, format.c_str(), args);
}

void Log::print(Level level, const std::string& text) {
    syslog(priority(level), "%s", compose(level, text.c_str()).c_str());
}

void Log::print(Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vprint(level, fmt, args);
    va_end(args);
}

#define VOLTRIN_LOG_AT(name, level)                                                                \
    void Log::name(const char* fmt, ...) {                                                         \
        va_list args;                                                                              \
        va_start(args, fmt);                                                                       \
        vprint(level, fmt, args);                                                                  \
        va_end(args);                                                                              \
    }
VOLTRIN_LOG_AT(error, Error)
VOLTRIN_LOG_AT(warning, Warning)
VOLTRIN_LOG_AT(info, Info)
VOLTRIN_LOG_AT(debug, Debug)
#undef VOLTRIN_LOG_AT
