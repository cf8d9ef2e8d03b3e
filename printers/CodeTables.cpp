// CodeTables: the character code table maps of the supported printer models.
#include "printers/CodeTables.h"

namespace zelvo::PrinterManager::Printers::CodeTables {

namespace {

constexpr CodeTable Tl60Tables[] = {{0, 437},  {2, 850},  {3, 860},  {4, 863},  {5, 865},
                                    {14, 737}, {15, 813}, {17, 866}, {19, 858}, {47, 1253}};
constexpr CodeTable MPlus2Tables[] = {{0, 437},   {45, 1250}, {46, 1251}, {47, 1253}, {48, 1254},
                                      {49, 1255}, {50, 1256}, {51, 1257}, {52, 1258}};
constexpr CodeTable Kpm54Tables[] = {{0, 437}};
constexpr CodeTable Sk1311Tables[] = {{36, 1253}, {40, 437}};
constexpr CodeTable Sk1211Tables[] = {{36, 1253}, {40, 437}};
constexpr CodeTable Xpm80Tables[] = {{1, 1253}, {9, 437}, {18, 737}};
// The Japanese tables 1 and 254 are left out on purpose and so convert to the fallback 1252.
// Their IBM counterparts, 290 and 930, are EBCDIC: ASCII letters would come out as bytes from
// 0xC1 up and print as garbage, and 930 needs two bytes for a double-byte character, more than
// the one byte per UTF-16 unit the conversion provides. The ASCII-compatible single-byte
// katakana page (897) is not in ICU's data, and Shift-JIS (932) substitutes a missing character
// with two bytes, so it fails on the same limit. With 1252, ASCII text, by far the common case,
// prints right on any table that keeps ASCII in its lower half.
constexpr CodeTable Capd247Tables[] = {{16, 1252}, {128, 1253}, {129, 1256}};

// The lookup searches by bisection, so every list must be strictly ascending.
template <std::size_t N> constexpr bool ascending(const CodeTable (&tables)[N]) {
    for (std::size_t i = 1; i < N; ++i)
        if (tables[i - 1].number >= tables[i].number)
            return false;
    return true;
}
static_assert(ascending(Tl60Tables) && ascending(MPlus2Tables) && ascending(Kpm54Tables) &&
              ascending(Sk1311Tables) && ascending(Sk1211Tables) && ascending(Xpm80Tables) &&
              ascending(Capd247Tables));

} // namespace

// Constant-initialised: a model's static data may refer to these before main without any
// initialisation-order concern.
constexpr CodeTableMap TL60{Tl60Tables, 437};
constexpr CodeTableMap mPlus2{MPlus2Tables, 437};
constexpr CodeTableMap KPM54{Kpm54Tables, 437};
constexpr CodeTableMap SK1311{Sk1311Tables, 437};
constexpr CodeTableMap SK1211{Sk1211Tables, 437};
constexpr CodeTableMap XPM80{Xpm80Tables, 437};
constexpr CodeTableMap CAPD247{Capd247Tables, 1252};

} // namespace zelvo::PrinterManager::Printers::CodeTables
