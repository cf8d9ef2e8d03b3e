// Utils: small file and path helpers.
#include "Utils.h"

#include <unistd.h>

bool Utils::fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string Utils::getFileExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

// Iterative matcher with one backtrack point for the last "*": linear in practice and never
// recursive, so a long pattern from outside cannot exhaust the stack.
bool Utils::match(const std::string& text, const std::string& pattern) {
    size_t t = 0, p = 0;
    size_t starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string Utils::combinePath(const std::string& a, const std::string& b) {
    if (b.empty())
        return a;
    std::string out = a;
    if (!out.empty() && out.back() != '/')
        out += '/';
    out.append(b[0] == '/' ? b.substr(1) : b);
    return out;
}

std::string Utils::getProcessId() {
    return std::to_string(getpid());
}
