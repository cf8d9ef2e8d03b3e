// StatusText: recognises the status text of the remote interfaces, "[0x" + 8 hex digits + "]".
#pragma once

#include <cctype>
#include <string>

inline bool isStatusText(const std::string& text) {
    if (text.size() != 12 || text.compare(0, 3, "[0x") != 0 || text.back() != ']')
        return false;
    for (size_t i = 3; i < 11; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            std::isupper(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// "ERROR: -1 " followed by the status text.
inline bool isErrorLine(const std::string& text) {
    return text.compare(0, 10, "ERROR: -1 ") == 0 && isStatusText(text.substr(10));
}
