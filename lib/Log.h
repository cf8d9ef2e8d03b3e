// Log: the process-wide logger; writes to syslog (LOCAL1), optionally mirrored on stderr.
#pragma once

#include <cstdarg>
#include <string>

class Log {
public:
    enum Level { Error = 0, Warning = 1, Info = 2, Debug = 3 };

    static void open(const char* id, bool stdErr, bool color);
    static void close();

    static void setLevel(Level level);
    static void setId(const std::string& id);
    static void setStdErr(bool stdErr);
    static void setColor(bool color);
    static void setLogfmt(bool logfmt);

    static Level level();
    static const std::string& id();
    static bool stdErr();
    static bool color();
    static bool logFmt();

    static std::string levelToStr(Level level);
    static Level levelFromStr(const std::string& text);

    static void error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static void warning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static void info(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
    static void debug(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    static void print(Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    static void vprint(Level level, const char* fmt, va_list args);
    // vprint with `tag` (a class's bracketed name and a blank) put in front of the format; the
    // class-local log functions of the daemon use it.
    static void vprintTagged(Level level, const char* tag, const char* fmt, va_list args);
    // Sends `text` literally: a "%" in it is not a conversion.
    static void print(Level level, const std::string& text);

private:
    // The prefix and colour-wrapped body for one message; `body` is copied unchanged.
    static std::string compose(Level level, const char* body);
    static void reopen();
};
