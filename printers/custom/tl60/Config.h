// Custom::TL60::Config: the TL60's "printer" settings (code table, code page, font, upside-down).
#pragma once

#include "Log.h"
#include "SettingStore.h"
#include "printers/CodePage.h"

namespace zelvo::PrinterManager::Printers::Custom::TL60 {

class Config : public SettingStore {
public:
    // Runs defaults().
    Config();
    ~Config() override = default;

    // charCodeTableNumber 19, charCodePageCcsid 0, fontType 0, reverse true.
    void defaults();

    // The printer's character code table number (ESC t uses the low 8 bits).
    unsigned long charCodeTableNumber() const;
    // The font selection value (FS % uses the low 8 bits).
    unsigned long fontType() const;
    // Upside-down printing.
    bool reverse() const;
    // The CCSID text is converted to: charCodePageCcsid, or the CCSID of the code table.
    unsigned long ibmCcsid() const;

    // Code table number to CCSID of the TL60 (fallback 437).
    static const CodeTableMap& mCharCodetableToIbmCcsid;

private:
    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

} // namespace zelvo::PrinterManager::Printers::Custom::TL60
