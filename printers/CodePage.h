// CodeTableMap and ibmCcsid: from a printer's character code table number to an IBM CCSID.
#pragma once

#include <span>

#include "SettingStore.h"

namespace zelvo::PrinterManager::Printers {

// One character code table of a printer and the IBM CCSID of the same code page.
struct CodeTable {
    unsigned char number; // table number selected on the printer
    unsigned long ccsid;  // IBM coded character set identifier
};

// A model's code tables, in ascending table number, and the CCSID used for any other number.
// Constant data (see CodeTables.h), usable at any time, also during static initialisation.
struct CodeTableMap {
    std::span<const CodeTable> tables; // ascending, each number once
    unsigned long fallback;            // CCSID for a table number not in `tables`

    // The CCSID of table `number`, or the fallback.
    unsigned long ccsid(unsigned char number) const;
};

// The CCSID a model's configuration converts text to: "charCodePageCcsid" when it is not 0,
// else the CCSID of the table in the low 8 bits of "charCodeTableNumber" (or the fallback).
unsigned long ibmCcsid(const SettingStore& config, const CodeTableMap& tables);

} // namespace zelvo::PrinterManager::Printers
