// Utils: file existence, paths, wildcard matching, process id.
#pragma once

#include <string>

class Utils {
public:
    static bool fileExists(const std::string& path);
    // From the last "." to the end, the dot included; empty without a dot.
    static std::string getFileExtension(const std::string& path);
    // Whole-text wildcard match: "?" one character, "*" any run (also none).
    static bool match(const std::string& text, const std::string& pattern);
    static std::string combinePath(const std::string& a, const std::string& b);
    static std::string getProcessId();
};
