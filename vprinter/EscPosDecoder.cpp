// vprinter::EscPosDecoder: command table and incremental decoding.
#include "vprinter/EscPosDecoder.h"

#include <cstdio>

namespace vprinter {

namespace {

constexpr unsigned char NUL = 0x00, HT = 0x09, LF = 0x0a, FF = 0x0c, CR = 0x0d, DLE = 0x10,
                        CAN = 0x18, ESC = 0x1b, FS = 0x1c, GS = 0x1d;

unsigned long word(const unsigned char* p) {
    return p[0] + 256ul * p[1];
}

std::string printableName(const char* prefix, unsigned char c) {
    char buf[16];
    if (c > 0x20 && c < 0x7f)
        std::snprintf(buf, sizeof buf, "%s %c", prefix, c);
    else
        std::snprintf(buf, sizeof buf, "%s %02X", prefix, c);
    return buf;
}

} // namespace

void EscPosDecoder::reset() {
    *this = EscPosDecoder();
}

std::vector<Printed> EscPosDecoder::feed(const unsigned char* data, std::size_t size) {
    std::vector<Printed> out;
    mPending.insert(mPending.end(), data, data + size);
    std::size_t pos = 0;
    while (pos < mPending.size()) {
        std::size_t used = decodeAt(pos, out);
        if (used == 0)
            break;
        pos += used;
    }
    mPending.erase(mPending.begin(), mPending.begin() + static_cast<std::ptrdiff_t>(pos));
    return out;
}

std::vector<Printed> EscPosDecoder::flush() {
    std::vector<Printed> out;
    if (!mLine.empty())
        flushLine(out, false);
    return out;
}

void EscPosDecoder::flushLine(std::vector<Printed>& out, bool lineFeed) {
    Printed item;
    item.kind = Printed::Kind::Text;
    item.name = "TEXT";
    item.bytes = mLine;
    item.raw = mLine;
    if (lineFeed)
        item.raw.push_back(LF);
    item.style = mLine.empty() ? mStyle : mLineStyle;
    item.lineFeed = lineFeed;
    out.push_back(std::move(item));
    mLine.clear();
}

std::size_t EscPosDecoder::decodeAt(std::size_t pos, std::vector<Printed>& out) {
    const unsigned char* p = mPending.data() + pos;
    const std::size_t avail = mPending.size() - pos;
    const unsigned char c = p[0];

    if (mSwallowNul) {
        mSwallowNul = false;
        if (c == NUL)
            return 1;
    }

    // Builds an item from the first `len` bytes.
    auto make = [&](Printed::Kind kind, std::string name, std::size_t len, long value = -1) {
        Printed item;
        item.kind = kind;
        item.name = std::move(name);
        item.raw.assign(p, p + len);
        item.style = mStyle;
        item.hasValue = value >= 0;
        item.value = value >= 0 ? static_cast<unsigned long>(value) : 0;
        return item;
    };
    // Flushes a pending line (printing commands print the line buffer first).
    auto printing = [&]() {
        if (!mLine.empty())
            flushLine(out, false);
    };
    auto command = [&](std::string name, std::size_t len, long value = -1) {
        out.push_back(make(Printed::Kind::Command, std::move(name), len, value));
        return len;
    };
    auto style = [&](std::string name, std::size_t len, long value) {
        out.push_back(make(Printed::Kind::Style, std::move(name), len, value));
        return len;
    };
    auto unknown = [&](std::size_t len) {
        out.push_back(make(Printed::Kind::Unknown,
                           len == 1 ? "?"
                                    : printableName(c == ESC  ? "ESC"
                                                    : c == GS ? "GS"
                                                    : c == FS ? "FS"
                                                              : "DLE",
                                                    p[1]),
                           len));
        return len;
    };
    auto cut = [&](std::string name, std::size_t len, bool full, long value = -1) {
        printing();
        Printed item = make(Printed::Kind::Cut, std::move(name), len, value);
        item.full = full;
        out.push_back(std::move(item));
        return len;
    };

    switch (c) {
    case LF:
        flushLine(out, true);
        return 1;
    case NUL:
        return 1;
    case CR:
        return command("CR", 1);
    case FF:
        printing();
        return command("FF", 1);
    case CAN:
        return command("CAN", 1);
    case HT:
        break; // text
    case ESC:
    case GS:
    case FS:
    case DLE:
        if (avail < 2)
            return 0;
        break;
    default:
        if (c < 0x20)
            return unknown(1);
        break;
    }

    if (c != ESC && c != GS && c != FS && c != DLE) {
        if (mLine.empty())
            mLineStyle = mStyle;
        mLine.push_back(c);
        return 1;
    }

    const unsigned char k = p[1];
// Needs `len` bytes before going on.
#define NEED(len)                                                                                  \
    do {                                                                                           \
        if (avail < static_cast<std::size_t>(len))                                                 \
            return 0;                                                                              \
    } while (0)

    if (c == ESC) {
        switch (k) {
        case '@':
            printing();
            mStyle = TextStyle();
            mHri = 0;
            mHriFont = 0;
            mBarcodeHeight = 162;
            mBarcodeModule = 3;
            return command("ESC @", 2);
        case 'd': {
            NEED(3);
            printing();
            Printed item = make(Printed::Kind::Feed, "ESC d", 3, p[2]);
            item.lines = p[2];
            out.push_back(std::move(item));
            return 3;
        }
        case 'J':
        case 'K':
        case 'e':
            NEED(3);
            printing();
            return command(printableName("ESC", k), 3, p[2]);
        case 'a': {
            NEED(3);
            unsigned n = p[2] >= '0' ? p[2] - '0' : p[2];
            mStyle.align = n == 1   ? TextStyle::Align::Center
                           : n == 2 ? TextStyle::Align::Right
                                    : TextStyle::Align::Left;
            return style("ESC a", 3, p[2]);
        }
        case 'E':
        case 'G':
            NEED(3);
            mStyle.bold = p[2] & 1;
            return style(printableName("ESC", k), 3, p[2]);
        case '-':
            NEED(3);
            mStyle.underline = (p[2] & 3) != 0;
            return style("ESC -", 3, p[2]);
        case 'M':
            NEED(3);
            mStyle.font = p[2] & 0x0f;
            return style("ESC M", 3, p[2]);
        case '!':
            NEED(3);
            mStyle.font = p[2] & 1;
            mStyle.bold = p[2] & 0x08;
            mStyle.height = (p[2] & 0x10) ? 2 : 1;
            mStyle.width = (p[2] & 0x20) ? 2 : 1;
            mStyle.underline = p[2] & 0x80;
            return style("ESC !", 3, p[2]);
        case ' ':
            NEED(3);
            mStyle.spacing = p[2];
            return style("ESC SP", 3, p[2]);
        case '{':
            NEED(3);
            mStyle.upsideDown = p[2] & 1;
            return style("ESC {", 3, p[2]);
        case 't':
            NEED(3);
            mStyle.codeTable = p[2];
            return style("ESC t", 3, p[2]);
        case '2':
        case 'L':
        case 'S':
            return command(printableName("ESC", k), 2);
        case FF:
            printing();
            return command("ESC FF", 2);
        case '3':
        case 'x':
        case 'R':
        case 'V':
        case '=':
        case 'U':
        case '%':
        case '?':
        case 'r':
        case 'T':
        case 'B':
        case 'C':
        case 'n':
        case 'u':
        case 'v':
            NEED(3);
            return command(printableName("ESC", k), 3, p[2]);
        case '$':
        case '\\':
            NEED(4);
            return command(printableName("ESC", k), 4, word(p + 2));
        case 'c':
        case 'p':
            NEED(k == 'c' ? 4 : 5);
            return command(printableName("ESC", k), k == 'c' ? 4 : 5, p[2]);
        case 'W':
            NEED(10);
            return command("ESC W", 10);
        case 'D': {
            // Tab positions: up to 32 bytes, NUL-terminated.
            for (std::size_t i = 2; i < avail; ++i)
                if (p[i] == NUL || i == 2 + 32)
                    return command("ESC D", i + 1);
            return 0;
        }
        case 'i':
            return cut("ESC i", 2, true);
        case 'm':
            return cut("ESC m", 2, false);
        case '*': {
            NEED(5);
            const unsigned m = p[2];
            const unsigned long width = word(p + 3);
            std::size_t rows;
            if (m == 0 || m == 1)
                rows = 8;
            else if (m == 32 || m == 33)
                rows = 24;
            else
                return unknown(2);
            const std::size_t perColumn = rows / 8;
            const std::size_t len = 5 + width * perColumn;
            NEED(len);
            printing();
            Printed item = make(Printed::Kind::Raster, "ESC *", len, m);
            item.rasterMode = static_cast<int>(m);
            item.width = width;
            item.height = rows;
            const std::size_t rowBytes = (width + 7) / 8;
            item.bits.assign(rowBytes * rows, 0);
            for (std::size_t x = 0; x < width; ++x)
                for (std::size_t y = 0; y < rows; ++y)
                    if (p[5 + x * perColumn + y / 8] & (0x80 >> (y % 8)))
                        item.bits[y * rowBytes + x / 8] |=
                            static_cast<unsigned char>(0x80 >> (x % 8));
            out.push_back(std::move(item));
            return len;
        }
        default:
            return unknown(2);
        }
    }

    if (c == GS) {
        switch (k) {
        case '!':
            NEED(3);
            mStyle.width = ((p[2] >> 4) & 7) + 1;
            mStyle.height = (p[2] & 7) + 1;
            return style("GS !", 3, p[2]);
        case 'L':
        case 'W':
        case 'P':
        case '$':
        case '\\':
            NEED(4);
            return command(printableName("GS", k), 4, word(p + 2));
        case 'H':
            NEED(3);
            mHri = p[2] >= '0' ? p[2] - '0' : p[2];
            return command("GS H", 3, p[2]);
        case 'f':
            NEED(3);
            mHriFont = p[2];
            return command("GS f", 3, p[2]);
        case 'h':
            NEED(3);
            mBarcodeHeight = p[2];
            return command("GS h", 3, p[2]);
        case 'w':
            NEED(3);
            mBarcodeModule = p[2];
            return command("GS w", 3, p[2]);
        case 'B':
        case 'b':
        case 'a':
        case 'r':
        case 'I':
        case 'T':
        case 'E':
        case '/':
        case 'Z':
            NEED(3);
            return command(printableName("GS", k), 3, p[2]);
        case 0xE0:
            NEED(3);
            return command("GS E0", 3, p[2]);
        case ':':
            return command("GS :", 2);
        case '^':
            NEED(5);
            return command("GS ^", 5, p[2]);
        case 'V': {
            NEED(3);
            const unsigned m = p[2];
            if (m == 0 || m == 48)
                return cut("GS V", 3, true, m);
            if (m == 1 || m == 49)
                return cut("GS V", 3, false, m);
            if (m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104) {
                NEED(4);
                return cut("GS V", 4, (m & 1) == 1, m);
            }
            return unknown(2);
        }
        case 'k': {
            NEED(3);
            const unsigned m = p[2];
            std::size_t dataStart, dataLen, len;
            if (m <= 6) {
                std::size_t i = 3;
                while (i < avail && p[i] != NUL)
                    ++i;
                if (i >= avail)
                    return 0;
                dataStart = 3;
                dataLen = i - 3;
                len = i + 1;
            } else if (m >= 65) {
                NEED(4);
                dataStart = 4;
                dataLen = p[3];
                len = 4 + dataLen;
                NEED(len);
            } else {
                return unknown(2);
            }
            printing();
            Printed item = make(Printed::Kind::Barcode, "GS k", len, m);
            item.barcodeType = static_cast<int>(m);
            item.bytes.assign(p + dataStart, p + dataStart + dataLen);
            item.hri = mHri;
            item.hriFont = mHriFont;
            item.barcodeHeight = mBarcodeHeight;
            item.barcodeModule = mBarcodeModule;
            out.push_back(std::move(item));
            mSwallowNul = m >= 65;
            return len;
        }
        case 'v': {
            NEED(3);
            if (p[2] != '0')
                return unknown(2);
            NEED(8);
            const unsigned long xBytes = word(p + 4), rows = word(p + 6);
            const std::size_t len = 8 + xBytes * rows;
            NEED(len);
            printing();
            Printed item = make(Printed::Kind::Raster, "GS v 0", len, p[3]);
            item.rasterMode = p[3];
            item.width = xBytes * 8;
            item.height = rows;
            item.bits.assign(p + 8, p + len);
            out.push_back(std::move(item));
            return len;
        }
        case '(': {
            NEED(5);
            const std::size_t len = 5 + word(p + 3);
            NEED(len);
            return command(printableName("GS (", p[2]), len, p[2]);
        }
        case '8': {
            NEED(3);
            if (p[2] != 'L')
                return unknown(2);
            NEED(7);
            const std::size_t len = 7 + (p[3] | (std::size_t(p[4]) << 8) |
                                         (std::size_t(p[5]) << 16) | (std::size_t(p[6]) << 24));
            NEED(len);
            return command("GS 8 L", len);
        }
        case '*': {
            NEED(4);
            const std::size_t len = 4 + std::size_t(p[2]) * p[3] * 8;
            NEED(len);
            return command("GS *", len);
        }
        default:
            return unknown(2);
        }
    }

    if (c == FS) {
        switch (k) {
        case '%':
            NEED(3);
            return command("FS %", 3, p[2]);
        case 0xEA:
            NEED(3);
            return command("FS EA", 3, p[2]);
        case '.':
        case '&':
            return command(printableName("FS", k), 2);
        case 'C':
        case '!':
        case '-':
        case 'W':
            NEED(3);
            return command(printableName("FS", k), 3, p[2]);
        case 'S':
        case 'p':
            NEED(4);
            return command(printableName("FS", k), 4, p[2]);
        default:
            return unknown(2);
        }
    }

    // DLE
    switch (k) {
    case 0x04: {
        NEED(3);
        const std::size_t len = (p[2] == 7 || p[2] == 8) ? 4 : 3;
        NEED(len);
        return command("DLE EOT", len, p[2]);
    }
    case 0x05:
        NEED(3);
        return command("DLE ENQ", 3, p[2]);
    case 0x14:
        NEED(5);
        return command("DLE DC4", 5, p[2]);
    default:
        return unknown(2);
    }
#undef NEED
}

} // namespace vprinter
