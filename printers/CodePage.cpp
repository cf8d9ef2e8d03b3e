// Code pages: UTF-8 to IBM single-byte code pages over ICU, and the code table lookup.
#include "printers/CodePage.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include "Helpers.h"
#include "String.h"

namespace zelvo::PrinterManager::Printers {

unsigned long CodeTableMap::ccsid(unsigned char number) const {
    const auto it = std::lower_bound(
        tables.begin(), tables.end(), number,
        [](const CodeTable& table, unsigned char wanted) { return table.number < wanted; });
    return it != tables.end() && it->number == number ? it->ccsid : fallback;
}

unsigned long ibmCcsid(const SettingStore& config, const CodeTableMap& tables) {
    const unsigned long ccsid = config.get("charCodePageCcsid").toUInt();
    if (ccsid != 0)
        return ccsid;
    const auto number = static_cast<unsigned char>(config.get("charCodeTableNumber").toUInt());
    return tables.ccsid(number);
}

} // namespace zelvo::PrinterManager::Printers

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

} // namespace

// The output buffer holds exactly one byte per UTF-16 code unit: every code page in the model
// maps is single-byte, so the conversion never needs more. A character outside the BMP takes two
// units but yields one substitution byte, which leaves one trailing 0x00 in the result; the
// printer prints nothing for it. A double-byte code page overflows the buffer and fails rather
// than print a truncated line.
//
// ICU writes the code page's substitution byte for a character the page lacks: 0x7F on the PC
// pages, 0x1A (ASCII SUB) on the ISO and Windows pages. 0x1A is a control code, not a character,
// so it is turned into 0x80 and the position still prints as a character on the paper.
std::string Helpers::utf8ToIbmCcsid(const std::string& utf8, unsigned long ccsid) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter;
    // ICU takes the CCSID as a signed 32-bit number; anything larger is no CCSID at all.
    if (ccsid > static_cast<unsigned long>(std::numeric_limits<int32_t>::max()))
        status = U_ILLEGAL_ARGUMENT_ERROR;
    else
        converter.reset(ucnv_openCCSID(static_cast<int32_t>(ccsid), UCNV_IBM, &status));
    // Warnings count as failures too: a fallback or alias converter is not the page asked for.
    if (status != U_ZERO_ERROR)
        throw std::invalid_argument(
            String::format("Failed to obtain codepage converter: %d\n", static_cast<int>(status)));

    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    const auto n = static_cast<size_t>(text.length());
    std::string out(n, '\0');

    char* target = out.data();
    const UChar* source = text.getBuffer();
    ucnv_fromUnicode(converter.get(), &target, out.data() + n, &source, source + text.length(),
                     nullptr, true, &status);
    if (status != U_ZERO_ERROR)
        throw std::invalid_argument(
            String::format("Failed to convert char set: %d\n", static_cast<int>(status)));

    std::replace(out.begin(), out.end(), '\x1a', '\x80');
    return out;
}
