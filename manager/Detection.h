// Printer detection: which model sits behind a device node, found through the device database
// (libudev), and the construction of its driver.
#pragma once

#include "Models.h"
#include "printers/Driver.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo::PrinterManager {

// One row of the identification table: a device matches when the node's device and its
// ancestors show each attribute with exactly this value, once in total.
struct Identification {
    std::map<std::string, std::string> attributes; // udev system attribute name -> exact value
    std::string_view model;                        // short name of a row of models()
};

// The identification table in its fixed order; the index of a row is the one detection logs.
std::vector<Identification> identificationTable();

// Steps shared by every detection: checks that `devicePath` exists, resolves a symbolic link
// one level (a target without "/dev/" is taken relative to /dev), asks the device database
// about the node and its ancestors and selects the first complete row. Returns the row's index
// and sets `resolvedPath`; returns none (logged) for a missing, unreadable or unknown device.
// No state; safe to call from several threads.
std::optional<size_t> identify(const std::string& devicePath, std::string& resolvedPath);

// identify(), then the row's model driver built on the resolved path; none when nothing
// matched or the model has no driver yet. Exceptions from a driver's constructor pass through.
std::unique_ptr<Printers::Driver> detectDriver(const std::string& devicePath);

// The driver of the model named `modelName` (see findModel) on `devicePath`, without asking
// the device database: the path must exist and a link is resolved as by identify().
std::unique_ptr<Printers::Driver> detectDriver(const std::string& devicePath,
                                               std::string_view modelName);

} // namespace zelvo::PrinterManager
