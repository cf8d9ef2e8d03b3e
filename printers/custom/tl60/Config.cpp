// Custom::TL60::Config: defaults and typed access of the TL60's settings.
#include "printers/custom/tl60/Config.h"

#include <cstdarg>

#include "printers/CodeTables.h"

namespace zelvo::PrinterManager::Printers::Custom::TL60 {

namespace {

constexpr int DefaultCharCodeTableNumber = 19; // code page 858 (Latin-1 with the euro sign)
constexpr int DefaultCharCodePageCcsid = 0;    // derive the CCSID from the code table
constexpr int DefaultFontType = 0;
constexpr bool DefaultReverse = true; // the TL60 is mounted so that tickets print upside-down

} // namespace

// Bound to constant data, so it is usable during static initialisation of other units too.
const CodeTableMap& Config::mCharCodetableToIbmCcsid = CodeTables::TL60;

Config::Config() {
    defaults();
}

void Config::defaults() {
    log(Log::Debug, "Loading default configuration.");
    set("charCodeTableNumber", Variant(DefaultCharCodeTableNumber));
    set("charCodePageCcsid", Variant(DefaultCharCodePageCcsid));
    set("fontType", Variant(DefaultFontType));
    set("reverse", Variant(DefaultReverse));
}

unsigned long Config::charCodeTableNumber() const {
    return get("charCodeTableNumber").toUInt();
}

unsigned long Config::fontType() const {
    return get("fontType").toUInt();
}

bool Config::reverse() const {
    return get("reverse").toBool();
}

unsigned long Config::ibmCcsid() const {
    return Printers::ibmCcsid(*this, mCharCodetableToIbmCcsid);
}

void Config::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[Custom::TL60::Config] ", fmt, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager::Printers::Custom::TL60
