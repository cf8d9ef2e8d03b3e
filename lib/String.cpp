// String: the text helpers shared by the whole daemon.
#include "String.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

std::string String::format(const char* fmt, ...) {
    char local[512];
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(local, sizeof(local), fmt, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        if (n < static_cast<int>(sizeof(local))) {
            out.assign(local, static_cast<size_t>(n));
        } else {
            out.resize(static_cast<size_t>(n));
            std::vsnprintf(out.data(), static_cast<size_t>(n) + 1, fmt, again);
        }
    }
    va_end(again);
    return out;
}

namespace {
template <typename Out>
void splitInto(const std::string& text, const std::string& delims, Out& out) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of(delims, start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start)
            out.emplace_back(text, start, stop - start);
        start = stop + 1;
    }
}
} // namespace

std::vector<std::string> String::tokenizeV(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> out;
    splitInto(text, delimiters, out);
    return out;
}

std::vector<std::string> String::split(const std::string& text, const std::string& delimiters) {
    return tokenizeV(text, delimiters);
}

std::list<std::string> String::tokenize(const std::string& text, const std::string& delimiters) {
    std::list<std::string> out;
    splitInto(text, delimiters, out);
    return out;
}

int64_t String::toInteger(const std::string& text, int base) {
    if (base != 0 && base != 16 && base != 8)
        base = 10;
    return static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, base));
}

std::string String::fromInteger(int64_t value, int base, int width, char fill) {
    char digits[32];
    if (base == 16)
        std::snprintf(digits, sizeof(digits), "%llx", static_cast<unsigned long long>(value));
    else
        std::snprintf(digits, sizeof(digits), "%lld", static_cast<long long>(value));
    std::string out = digits;
    if (width > 0 && out.size() < static_cast<size_t>(width))
        out.insert(0, static_cast<size_t>(width) - out.size(), fill);
    return out;
}

double String::toDouble(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

// Shortest text that reads back as the same double.
std::string String::fromDouble(double value) {
    char text[64];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(text, sizeof(text), "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value)
            break;
    }
    return text;
}

bool String::isNumeric(const std::string& text) {
    if (text.empty())
        return false;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    if (first != '+' && first != '-' && !std::isdigit(first))
        return false;
    size_t i = (first == '+' || first == '-') ? 1 : 0;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

bool String::toBool(const std::string& text) {
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "on" || lower == "true" || lower == "high" || lower == "1" ||
           (!lower.empty() && lower[0] == 'y');
}

std::string String::fromBool(bool flag) {
    return flag ? "true" : "false";
}

std::string String::toHex(const std::vector<unsigned char>& bytes) {
    return toHex(bytes.data(), bytes.size());
}

std::string String::toHex(const void* data, size_t length) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}
