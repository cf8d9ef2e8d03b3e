// CodeTables: the character code table maps of the supported printer models.
#pragma once

#include "printers/CodePage.h"

namespace zelvo::PrinterManager::Printers::CodeTables {

extern const CodeTableMap TL60;    // Custom TL60, fallback 437
extern const CodeTableMap mPlus2;  // Custom mPlus2, fallback 437
extern const CodeTableMap KPM54;   // Custom KPM54, fallback 437
extern const CodeTableMap SK1311;  // Sanei SK1311, fallback 437
extern const CodeTableMap SK1211;  // Sanei SK1211, fallback 437
extern const CodeTableMap XPM80;   // Hengstler XPM80, fallback 437
extern const CodeTableMap CAPD247; // Seiko CAPD247, fallback 1252

} // namespace zelvo::PrinterManager::Printers::CodeTables
