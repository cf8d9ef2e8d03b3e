// Printer detection: the driver for the printer behind a device node, if it is supported.
#pragma once

#include "printers/Driver.h"

#include <memory>
#include <string>

namespace zelvo::PrinterManager {

std::unique_ptr<Printers::Driver> detectDriver(const std::string& devicePath);

} // namespace zelvo::PrinterManager
