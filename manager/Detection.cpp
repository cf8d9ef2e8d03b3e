// Printer detection. No model driver is available yet, so no printer is recognised.
#include "Detection.h"

namespace zelvo::PrinterManager {

std::unique_ptr<Printers::Driver> detectDriver(const std::string&) {
    return nullptr;
}

} // namespace zelvo::PrinterManager
