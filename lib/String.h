// String: formatting, splitting, number and boolean conversion, hexadecimal.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

class String {
public:
    static std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    // Pieces between delimiter characters; empty pieces are dropped.
    static std::vector<std::string> tokenizeV(const std::string& text,
                                              const std::string& delimiters);
    static std::vector<std::string> split(const std::string& text, const std::string& delimiters);
    static std::list<std::string> tokenize(const std::string& text, const std::string& delimiters);

    // Base 0 chooses by prefix ("0x" hex, other leading "0" octal); 16 and 8 as given; else
    // decimal.
    static int64_t toInteger(const std::string& text, int base = 0);
    static std::string fromInteger(int64_t value, int base = 10, int width = 0, char fill = ' ');

    static double toDouble(const std::string& text);
    static std::string fromDouble(double value);

    static bool isNumeric(const std::string& text);
    static bool toBool(const std::string& text);
    static std::string fromBool(bool flag);

    // Two upper-case hex digits per byte, no separator.
    static std::string toHex(const std::vector<unsigned char>& bytes);
    static std::string toHex(const void* data, size_t length);
};
