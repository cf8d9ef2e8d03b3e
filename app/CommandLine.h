// CommandLine: the daemon's options, parsed with CLI11.
#pragma once

#include "Log.h"

#include <cstdint>
#include <optional>
#include <string>

struct CommandLine {
    std::string device;
    std::string configFile;
    uint32_t port = 0;
    // The verbosity as given ("--verbose", or the "-v" count capped at 3); logged as is.
    uint32_t verbosity = 2;
    bool global = false;
    bool stdErr = false;
    // A model short name ("-m"): build that model's driver without asking the device database.
    std::string model;

    // The log level for the verbosity: 0 error, 1 warning, 2 info, 3 or more debug.
    Log::Level level() const;

    // Parses argv. On "-h", "--help", "-V", "--version" or a rejected command line CLI11 has
    // printed its text, and the result holds the exit status to end the process with.
    static std::optional<int> parse(int argc, const char* const* argv, CommandLine& out);
};
