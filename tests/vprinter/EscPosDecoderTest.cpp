// vprinter::EscPosDecoder: a table of byte streams, each decoded whole, split at every position
// into two feeds, and fed one byte at a time; all three must give the same items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vprinter/EscPosDecoder.h"

using vprinter::Bytes;
using vprinter::EscPosDecoder;
using vprinter::Printed;

namespace {

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::vector<std::string> describe(const std::vector<Printed>& items) {
    std::vector<std::string> out;
    for (const auto& item : items)
        out.push_back(item.describe());
    return out;
}

// An ESC * 33 band of 8 columns: column x has only row x (a diagonal) and row 23 set.
Bytes diagonalBand() {
    Bytes b{0x1b, 0x2a, 0x21, 0x08, 0x00};
    for (int x = 0; x < 8; ++x) {
        unsigned char col[3] = {0, 0, 0x01}; // row 23: last bit of the third byte
        col[0] |= static_cast<unsigned char>(0x80 >> x);
        b.insert(b.end(), col, col + 3);
    }
    return b;
}

struct Row {
    const char* name;
    Bytes input;
    std::vector<std::string> expected;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        {"margins split anywhere",
         {0x1d, 0x4c, 0x12, 0x00, 0x1d, 0x57, 0x9c, 0x01},
         {"COMMAND GS L 18", "COMMAND GS W 412"}},
        {"raster band",
         Bytes{0x1b, 0x33, 0x18} + diagonalBand() + Bytes{0x1b, 0x64, 0x00, 0x1b, 0x32},
         {"COMMAND ESC 3 24", "RASTER 8x24 (ESC * 33)", "FEED 0", "COMMAND ESC 2"}},
        {"text with style changes",
         Bytes{0x1b, 0x45, 0x01} + str("Bold\n") + Bytes{0x1b, 0x45, 0x00, 0x1b, 0x61, 0x01} +
             str("Mid\n") + Bytes{0x1d, 0x21, 0x11, 0x1b, 0x4d, 0x01, 0x1b, 0x7b, 0x01} + str("\n"),
         {"STYLE ESC E 1 [bold]", "TEXT \"Bold\" [bold]", "STYLE ESC E 0 [plain]",
          "STYLE ESC a 1 [align=center]", "TEXT \"Mid\" [align=center]",
          "STYLE GS ! 17 [align=center size=2x2]", "STYLE ESC M 1 [align=center font=B size=2x2]",
          "STYLE ESC { 1 [align=center font=B size=2x2 upside-down]",
          "TEXT \"\" [align=center font=B size=2x2 upside-down]"}},
        {"CODE128 barcode and its trailing 00",
         Bytes{0x1d, 0x48, 0x02, 0x1d, 0x66, 0x00, 0x1d, 0x68, 0xa2, 0x1d, 0x77,
               0x02, 0x1d, 0x6b, 0x49, 0x05, 0x31, 0x32, 0x33, 0x34, 0x35, 0x00} +
             str("A\n"),
         {"COMMAND GS H 2", "COMMAND GS f 0", "COMMAND GS h 162", "COMMAND GS w 2",
          "BARCODE m=73 hri=2 \"12345\"", "TEXT \"A\" [plain]"}},
        {"NUL-terminated barcode (unknown type m = 0)",
         {0x1d, 0x6b, 0x00, 0x03, 0x41, 0x42, 0x43, 0x00},
         {"BARCODE m=0 hri=0 \"\\x03ABC\""}},
        {"cuts",
         {0x1b, 0x69, 0x1b, 0x6d, 0x1d, 0x56, 0x30, 0x1d, 0x56, 0x31, 0x1d, 0x56, 0x41, 0x03},
         {"CUT full (ESC i)", "CUT partial (ESC m)", "CUT full (GS V)", "CUT partial (GS V)",
          "CUT full (GS V)"}},
        {"pending line ended by a cut",
         str("ab") + Bytes{0x1b, 0x69},
         {"TEXT \"ab\" [plain] (no LF)", "CUT full (ESC i)"}},
        {"unknown bytes",
         Bytes{0x1b, 0x99} + str("A\n") + Bytes{0x01, 0x1d, 0x01, 0x0a},
         {"UNKNOWN 1b 99", "TEXT \"A\" [plain]", "UNKNOWN 01", "UNKNOWN 1d 01",
          "TEXT \"\" [plain]"}},
        {"TL60 commands",
         {0x10, 0x04, 0x14, 0x1d, 0xe0, 0x0f, 0x1c, 0xea, 0x52, 0x1b, 0x78, 0x02,
          0x1c, 0x25, 0x00, 0x1b, 0x74, 0x13, 0x1b, 0x40, 0x1b, 0x64, 0x03},
         {"COMMAND DLE EOT 20", "COMMAND GS E0 15", "COMMAND FS EA 82", "COMMAND ESC x 2",
          "COMMAND FS % 0", "STYLE ESC t 19 [table=19]", "COMMAND ESC @", "FEED 3"}},
        {"GS v 0 raster",
         {0x1d, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0xf0, 0x0f},
         {"RASTER 8x2 (GS v 0 0)"}},
        {"CR and code-page bytes",
         Bytes{0x41, 0x0d, 0x80, 0xff, 0x0a},
         {"COMMAND CR", "TEXT \"A\\x80\\xff\" [plain]"}},
    };
    return table;
}

std::vector<std::string> feedSplit(const Bytes& input, std::size_t at) {
    EscPosDecoder d;
    auto items = d.feed(input.data(), at);
    auto rest = d.feed(input.data() + at, input.size() - at);
    items.insert(items.end(), rest.begin(), rest.end());
    EXPECT_TRUE(d.idle()) << "split at " << at;
    return describe(items);
}

} // namespace

TEST(EscPosDecoder, TableWholeSplitAndBytewise) {
    for (const auto& row : rows()) {
        SCOPED_TRACE(row.name);
        EscPosDecoder whole;
        EXPECT_EQ(describe(whole.feed(row.input)), row.expected);
        for (std::size_t at = 0; at <= row.input.size(); ++at)
            ASSERT_EQ(feedSplit(row.input, at), row.expected) << "split at " << at;
        EscPosDecoder bytewise;
        std::vector<Printed> items;
        for (unsigned char b : row.input) {
            auto got = bytewise.feed(&b, 1);
            items.insert(items.end(), got.begin(), got.end());
        }
        EXPECT_EQ(describe(items), row.expected);
    }
}

TEST(EscPosDecoder, RasterBandBitsAreRowMajor) {
    EscPosDecoder d;
    auto items = d.feed(diagonalBand());
    ASSERT_EQ(items.size(), 1u);
    const auto& r = items[0];
    ASSERT_EQ(r.bits.size(), 24u); // 1 byte per row, 24 rows
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(r.bits[y], 0x80 >> y) << "row " << y;
    for (int y = 8; y < 23; ++y)
        EXPECT_EQ(r.bits[y], 0) << "row " << y;
    EXPECT_EQ(r.bits[23], 0xff);
    EXPECT_EQ(r.raw.size(), 5u + 24u);
}

TEST(EscPosDecoder, IncompleteCommandWaitsAndFlushEndsPendingLine) {
    EscPosDecoder d;
    EXPECT_TRUE(d.feed(Bytes{0x1b, 0x2a, 0x21, 0x08}).empty());
    EXPECT_EQ(d.pending().size(), 4u);
    EXPECT_TRUE(d.feed(str("")).empty());
    EscPosDecoder t;
    EXPECT_TRUE(t.feed(str("abc")).empty());
    EXPECT_FALSE(t.idle());
    auto items = t.flush();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text(), "abc");
    EXPECT_FALSE(items[0].lineFeed);
    EXPECT_TRUE(t.idle());
}

TEST(EscPosDecoder, LineKeepsStyleOfItsFirstByteAndEscAtResets) {
    EscPosDecoder d;
    auto items = d.feed(Bytes{0x1b, 0x7b, 0x01, 0x41, 0x1b, 0x45, 0x01, 0x42, 0x0a, 0x1b, 0x40});
    auto lines = vprinter::ofKind(items, Printed::Kind::Text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text(), "AB");
    EXPECT_TRUE(lines[0].style.upsideDown);
    EXPECT_FALSE(lines[0].style.bold);
    EXPECT_EQ(d.style(), vprinter::TextStyle());
}
