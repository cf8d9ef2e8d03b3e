// Helpers: byte and text conversions shared by drivers and services.
#include "Helpers.h"

#include "Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::vector<unsigned char> Helpers::hexToBytes(const std::string& text) {
    std::string digits = text;
    if (digits.size() % 2)
        digits.insert(0, 1, '0');
    std::vector<unsigned char> out;
    out.reserve(digits.size() / 2);
    for (size_t i = 0; i < digits.size(); i += 2) {
        const char pair[3] = {digits[i], digits[i + 1], 0};
        out.push_back(static_cast<unsigned char>(std::strtol(pair, nullptr, 16)));
    }
    return out;
}

std::string Helpers::bytesToHex(const std::vector<unsigned char>& bytes, bool spaced) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * (spaced ? 3 : 2));
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
        if (spaced)
            out += ' ';
    }
    return out;
}

// Most significant byte first, as the value reads in hexadecimal.
std::string Helpers::bytesToHex(uint32_t value, bool spaced) {
    return bytesToHex(std::vector<unsigned char>{static_cast<unsigned char>(value >> 24),
                                                 static_cast<unsigned char>(value >> 16),
                                                 static_cast<unsigned char>(value >> 8),
                                                 static_cast<unsigned char>(value)},
                      spaced);
}

std::string Helpers::strReplace(const std::string& text, const std::string& from,
                                const std::string& to) {
    if (from.empty())
        return text;
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (size_t hit; (hit = text.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
        out.append(text, pos, hit - pos);
        out += to;
    }
    out.append(text, pos, std::string::npos);
    return out;
}

size_t Helpers::countOccurancesOfString(const std::string& text, const std::string& what) {
    if (what.empty())
        return 0;
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos;
         pos = text.find(what, pos + what.size()))
        ++count;
    return count;
}

std::string Helpers::escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        char letter = 0;
        switch (c) {
        case '\\':
        case '?':
        case '\'':
        case '"':
            letter = c;
            break;
        case '\a':
            letter = 'a';
            break;
        case '\b':
            letter = 'b';
            break;
        case '\f':
            letter = 'f';
            break;
        case '\n':
            letter = 'n';
            break;
        case '\r':
            letter = 'r';
            break;
        case '\t':
            letter = 't';
            break;
        case '\v':
            letter = 'v';
            break;
        case '\0':
            letter = '0';
            break;
        default:
            break;
        }
        if (letter) {
            out += '\\';
            out += letter;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Helpers::escapeChar(const std::string& text, char c) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (ch == c)
            out += '\\';
        out += ch;
    }
    return out;
}

bool Helpers::isSymlink(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        const int err = errno;
        Log::error("lstat(%s) failed: [%d] %s", path.c_str(), err, std::strerror(err));
        return false;
    }
    return S_ISLNK(st.st_mode);
}

std::pair<bool, std::string> Helpers::readSymlink(const std::string& path) {
    char target[1024] = {};
    if (readlink(path.c_str(), target, sizeof(target) - 1) < 0) {
        const int err = errno;
        Log::error("readlink(%s) failed: [%d] %s", path.c_str(), err, std::strerror(err));
        return {false, std::string()};
    }
    return {true, std::string(target)};
}
