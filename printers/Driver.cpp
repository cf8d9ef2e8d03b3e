// Printers::Driver: the out-of-line virtual destructor, the home of the interface's vtable.
#include "printers/Driver.h"

namespace zelvo::PrinterManager::Printers {

Driver::~Driver() = default;

} // namespace zelvo::PrinterManager::Printers
