// vprinter::Printed: one item a virtual printer decoded from the bytes it received.
//
// Part of the virtual printer library (vprinter/), used by tests and by the command-line tool.
// Plain value types, no threads, no locks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vprinter {

using Bytes = std::vector<unsigned char>;

// The text style in force on the printer, as the ESC/POS commands received so far set it.
// ESC @ restores these defaults (note: a real printer starts upright; the TL60 driver then
// sends ESC { 1, so its lines arrive with upsideDown true).
struct TextStyle {
    enum class Align { Left = 0, Center = 1, Right = 2 };

    Align align = Align::Left; // ESC a n (0 / 48 left, 1 / 49 center, 2 / 50 right)
    bool bold = false;         // ESC E n, ESC G n, ESC ! bit 3
    bool underline = false;    // ESC - n (n 1, 2, 49, 50), ESC ! bit 7
    int font = 0;              // ESC M n: 0 = font A, 1 = font B; ESC ! bit 0
    int width = 1;             // magnification 1..8: GS ! bits 4-6 + 1, ESC ! bit 5 (x2)
    int height = 1;            // magnification 1..8: GS ! bits 0-2 + 1, ESC ! bit 4 (x2)
    bool upsideDown = false;   // ESC { n
    int spacing = 0;           // ESC SP n: right-side character spacing in dots
    int codeTable = 0;         // ESC t n

    bool operator==(const TextStyle&) const = default;
    // e.g. "align=center bold font=B size=2x2 upside-down table=19" (defaults are left out;
    // an all-default style gives "plain").
    std::string describe() const;
};

struct Printed {
    enum class Kind {
        Text,    // a line of text: `bytes` (code-page bytes, LF not included), `style`
        Raster,  // a bit image: `width` x `height` dots in `bits`
        Barcode, // GS k: `barcodeType` (m), `hri` (GS H n in force), `bytes` = the code data
        Feed,    // ESC d n: `lines` = n (the driver's ESC d 0 after every band appears too)
        Cut,     // GS V m, ESC i, ESC m: `full`
        Style,   // a command that changes `TextStyle` (ESC E, ESC a, GS !, ESC {, ESC t, ...)
        Command, // any other recognised command (ESC @, GS L, GS W, ESC x, FS %, ESC 3, ESC 2,
                 // DLE EOT, GS E0, FS EA, GS H/f/h/w, ...): `name`, `value`
        Unknown, // an unrecognised sequence: its prefix and the one byte after it (see decoder)
    };

    Kind kind = Kind::Unknown;
    // Mnemonic of the command: "TEXT", "ESC @", "ESC t", "GS L", "GS E0", "FS EA", "DLE EOT",
    // "ESC *", "GS v 0", "GS k", "ESC i", "GS V", "CR", ... Unknown: "ESC ?" / "GS ?" / ...
    std::string name;
    // Every byte this item came from, exactly as received (command, arguments, data; a Text
    // item's bytes and its LF; a Barcode's trailing 00 that the base driver appends is NOT here).
    Bytes raw;
    // Text: the line's bytes without LF. Barcode: the code data. Others: empty.
    Bytes bytes;
    // Text: the style in force when the line's first byte arrived. Every other kind: the style
    // in force after the item (so a Style item shows the style it produced).
    TextStyle style;
    // Text: true when the line ended with LF, false when another printing command (a raster,
    // barcode, feed or cut) or EscPosDecoder::flush() ended it.
    bool lineFeed = false;

    // Raster: size in dots and the image, row-major, (width + 7) / 8 bytes per row, most
    // significant bit leftmost, 1 = black (the layout the driver's printImgBuffer takes). ESC *
    // 24-dot bands have height 24, 8-dot ones height 8; GS v 0 images their own height.
    unsigned long width = 0;
    unsigned long height = 0;
    Bytes bits;
    int rasterMode = 0; // ESC * m / GS v 0 m

    // Barcode: m of GS k, and the barcode settings in force (GS H, GS h, GS w, GS f).
    int barcodeType = 0;
    int hri = 0; // 0 none, 1 above, 2 below, 3 both
    int barcodeHeight = 162;
    int barcodeModule = 3;
    int hriFont = 0;

    // Feed: lines. Cut: full (true) or partial (false).
    unsigned long lines = 0;
    bool full = false;

    // Command / Style: the numeric argument, 0 when it has none: n for one-byte arguments,
    // nL + 256 * nH for two (GS L, GS W, ESC $, ...), m for GS V. DLE EOT 14 gives 0x14.
    unsigned long value = 0;
    bool hasValue = false; // the command has such an argument

    // Text bytes / barcode data as a string.
    std::string text() const { return std::string(bytes.begin(), bytes.end()); }
    // One-line summary, e.g. `TEXT "Hello" [bold upside-down]`, `RASTER 412x24`,
    // `BARCODE m=73 hri=2 "12345"`, `FEED 3`, `CUT full (ESC i)`, `COMMAND GS L 18`,
    // `UNKNOWN 1b 99`. Non-printable text bytes are shown as \xNN.
    std::string describe() const;
};

// Items of one kind, in order (a convenience for tests).
std::vector<Printed> ofKind(const std::vector<Printed>& items, Printed::Kind kind);
// The Text items' strings, in order.
std::vector<std::string> textLines(const std::vector<Printed>& items);
// Kind name: "Text", "Raster", ...
const char* kindName(Printed::Kind kind);

// Bytes as lower-case hex pairs separated by spaces ("1b 40").
std::string hex(const Bytes& bytes);

} // namespace vprinter
