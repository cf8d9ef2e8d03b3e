// vprinter::EscPosDecoder: turns an ESC/POS byte stream into printed items.
//
// Knows the length of every command the voltrin drivers send (the ESC/POS base driver
// and the Custom TL60 driver) and of the other common ESC/POS commands, so it never
// desynchronises. Incremental: feed() takes the bytes as they arrive, split anywhere; a command
// cut in two is kept until its remaining bytes come.
//
// Rules:
//   - Bytes that are not part of a command collect into a text line; LF (0A) ends the line and
//     yields a Text item (an empty line too). HT and bytes >= 0x20 are text. CR (0D) is a
//     Command item "CR" and does not end the line; NUL (00) outside a command is ignored.
//     Any other control byte (01..1F except ESC, FS, GS, DLE, LF, CR, HT) is an Unknown item.
//   - A raster, barcode, feed or cut that arrives while a line is pending first emits the
//     pending line as a Text item with lineFeed false. Style and other commands do not: a
//     line's style is the one in force when its first byte arrived.
//   - GS k m with m >= 65 (length-prefixed form): the base driver appends one 00 after the
//     data; a single 00 directly after such a barcode is swallowed. GS k m with m <= 6
//     (NUL-terminated form, which is also what a driver's unknown type m = 0 produces): the data
//     runs to the 00, so with m = 0 the base driver's length byte is the first data byte.
//   - An unknown sequence after ESC, GS, FS or DLE is an Unknown item holding the prefix and the
//     one byte after it; both are skipped and decoding goes on with the next byte.
//
// Threads: none. Not thread-safe; one owner (vprinter::Tl60 uses it from its printer thread).
#pragma once

#include <cstddef>
#include <vector>

#include "vprinter/Printed.h"

namespace vprinter {

class EscPosDecoder {
public:
    EscPosDecoder() = default;

    // Decodes as much as the bytes so far allow and returns the items completed by this call,
    // in order. Bytes of an incomplete command (or a text line without its LF) are kept.
    std::vector<Printed> feed(const unsigned char* data, std::size_t size);
    std::vector<Printed> feed(const Bytes& data) { return feed(data.data(), data.size()); }

    // Ends a pending text line without LF (Text item, lineFeed false) and returns it; an
    // incomplete command stays pending. Empty when nothing was pending.
    std::vector<Printed> flush();

    // True when no command is half received and no text line is pending.
    bool idle() const { return mPending.empty() && mLine.empty(); }
    // The bytes kept for an incomplete command.
    const Bytes& pending() const { return mPending; }
    // The style in force now.
    const TextStyle& style() const { return mStyle; }

    // Back to the power-on state: default style, nothing pending.
    void reset();

private:
    // Tries to decode one unit at mPending[pos]; returns the bytes it used, or 0 when more
    // bytes are needed.
    std::size_t decodeAt(std::size_t pos, std::vector<Printed>& out);
    void flushLine(std::vector<Printed>& out, bool lineFeed);

    Bytes mPending;           // received, not decoded yet
    Bytes mLine;              // the text line being collected (raw bytes)
    TextStyle mLineStyle;     // style when mLine got its first byte
    TextStyle mStyle;         // style in force
    bool mSwallowNul = false; // a length-prefixed barcode just ended
    int mHri = 0;
    int mHriFont = 0;
    int mBarcodeHeight = 162;
    int mBarcodeModule = 3;
};

} // namespace vprinter
