// Helpers: byte/hex conversion, search-and-replace, escaping, symbolic links.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class Helpers {
public:
    // Pairs of hex digits to bytes; an odd-length text gets a leading "0".
    static std::vector<unsigned char> hexToBytes(const std::string& text);
    // Two lower-case hex digits per byte; with `spaced`, each byte is followed by a blank.
    static std::string bytesToHex(const std::vector<unsigned char>& bytes, bool spaced = false);
    static std::string bytesToHex(uint32_t value, bool spaced = false);

    static std::string strReplace(const std::string& text, const std::string& from,
                                  const std::string& to);
    static size_t countOccurancesOfString(const std::string& text, const std::string& what);
    static std::string escape(const std::string& text);
    static std::string escapeChar(const std::string& text, char c);

    static bool isSymlink(const std::string& path);
    // {true, target} for a symbolic link; {false, ""} (logged) otherwise.
    static std::pair<bool, std::string> readSymlink(const std::string& path);

    // UTF-8 to IBM code page `ccsid` via ICU; defined with the printer code pages (CodePage.cpp).
    static std::string utf8ToIbmCcsid(const std::string& utf8, unsigned long ccsid);
};
