// Tests of the ESC/POS base driver: the bytes of every operation and where transmissions end.
#include "RecordingDriver.h"

#include <gtest/gtest.h>
#include <qrcodegen/qrcodegen.hpp>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using zelvo::PrinterManager::Types::Barcode;
using zelvo::PrinterManager::Types::QrCode;
using zelvo::PrinterManager::Types::Style;
using Bytes = RecordingDriver::Bytes;
using Transmissions = std::vector<Bytes>;

namespace {

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes LineSpacing24{0x1B, 0x33, 0x18};
const Bytes ImageEnd{0x1B, 0x32, 0x1B, 0x64, 0x00};

// ---- Style ------------------------------------------------------------------------------------

TEST(EscPosStyle, UnchangedStyleSendsNothing) {
    RecordingDriver driver;
    driver.setStyle(Style());
    EXPECT_TRUE(driver.mTransmissions.empty());
    EXPECT_TRUE(driver.pending().empty());
}

struct StyleCase {
    const char* what;
    std::function<void(Style&)> change;
    Bytes expected;
};

TEST(EscPosStyle, EachAttributeAloneSendsOneCommand) {
    const std::vector<StyleCase> cases = {
        {"font B", [](Style& s) { s.setType(Style::FontB); }, {0x1B, 0x4D, 0x01}},
        {"unknown font",
         [](Style& s) { s.setType(static_cast<Style::FontType>(5)); },
         {0x1B, 0x4D, 0x00}},
        {"space 3", [](Style& s) { s.setSpace(3); }, {0x1B, 0x20, 0x03}},
        {"space 0x1FF: low 8 bits", [](Style& s) { s.setSpace(0x1FF); }, {0x1B, 0x20, 0xFF}},
        {"size 1", [](Style& s) { s.setSize(1); }, {0x1D, 0x21, 0x11}},
        {"size 7", [](Style& s) { s.setSize(7); }, {0x1D, 0x21, 0x77}},
        {"size 16: low 8 bits of 0x110", [](Style& s) { s.setSize(16); }, {0x1D, 0x21, 0x10}},
        {"center", [](Style& s) { s.setAlign(Style::Center); }, {0x1B, 0x61, 0x01}},
        {"right", [](Style& s) { s.setAlign(Style::Right); }, {0x1B, 0x61, 0x02}},
        {"unknown align",
         [](Style& s) { s.setAlign(static_cast<Style::Align>(9)); },
         {0x1B, 0x61, 0x00}},
        {"bold", [](Style& s) { s.setBold(true); }, {0x1B, 0x45, 0x01}},
        {"underlined", [](Style& s) { s.setUnderlined(true); }, {0x1B, 0x2D, 0x01}},
        {"reverse off", [](Style& s) { s.setReverse(false); }, {0x1B, 0x7B, 0x00}},
    };
    for (const StyleCase& c : cases) {
        RecordingDriver driver;
        Style style;
        c.change(style);
        driver.setStyle(style);
        EXPECT_EQ(driver.mTransmissions, Transmissions{c.expected}) << c.what;
        EXPECT_EQ(driver.getStyle().toJson(), style.toJson()) << c.what;
    }
}

TEST(EscPosStyle, AllChangesGoInFixedOrderInOneTransmission) {
    RecordingDriver driver;
    Style style;
    style.setReverse(false);
    style.setUnderlined(true);
    style.setBold(true);
    style.setAlign(Style::Right);
    style.setSize(2);
    style.setSpace(4);
    style.setType(Style::FontB);
    driver.setStyle(style);
    const Bytes expected{0x1B, 0x4D, 0x01, 0x1B, 0x20, 0x04, 0x1D, 0x21, 0x22, 0x1B, 0x61,
                         0x02, 0x1B, 0x45, 0x01, 0x1B, 0x2D, 0x01, 0x1B, 0x7B, 0x00};
    EXPECT_EQ(driver.mTransmissions, Transmissions{expected});
}

TEST(EscPosStyle, OnlyDifferencesFromTheLastStyleAreSent) {
    RecordingDriver driver;
    Style style;
    style.setBold(true);
    driver.setStyle(style);
    driver.setStyle(style); // nothing new
    style.setBold(false);
    style.setUnderlined(true);
    driver.setStyle(style); // bold back off, underline on
    EXPECT_EQ(driver.mTransmissions,
              (Transmissions{{0x1B, 0x45, 0x01}, {0x1B, 0x45, 0x00, 0x1B, 0x2D, 0x01}}));
}

TEST(EscPosStyle, SetDefaultsResetsPrinterAndStyle) {
    RecordingDriver driver;
    Style style;
    style.setBold(true);
    style.setReverse(false);
    driver.setStyle(style);
    driver.mTransmissions.clear();

    driver.setDefaults();
    EXPECT_EQ(driver.mTransmissions, (Transmissions{{0x1B, 0x40}, {0x1B, 0x7B, 0x01}}));
    EXPECT_EQ(driver.getStyle().toJson(), Style().toJson());
    driver.setStyle(Style()); // the printer already is in the default style
    EXPECT_EQ(driver.mTransmissions.size(), 2U);
}

// ---- Feed, cut, barcode, identity -----------------------------------------------------------

TEST(EscPosCommands, FeedAndCut) {
    RecordingDriver driver;
    driver.feed(300);
    driver.feed(3);
    driver.cut(true);
    driver.cut(false);
    EXPECT_EQ(driver.mTransmissions,
              (Transmissions{
                  {0x1B, 0x64, 0x2C}, {0x1B, 0x64, 0x03}, {0x1D, 0x56, 0x30}, {0x1D, 0x56, 0x31}}));
}

TEST(EscPosCommands, Barcode) {
    RecordingDriver driver;
    driver.printBarcode(Barcode("12345", Barcode::CODE128, Barcode::Under));
    driver.printBarcode(Barcode("7", static_cast<Barcode::Type>(99), static_cast<Barcode::HRI>(7)));
    const Bytes code128{0x1D, 0x48, 0x02, 0x1D, 0x66, 0x00, 0x1D, 0x68, 0xA2, 0x1D, 0x77,
                        0x02, 0x1D, 0x6B, 0x49, 0x05, 0x31, 0x32, 0x33, 0x34, 0x35, 0x00};
    const Bytes unknown{0x1D, 0x48, 0x00, 0x1D, 0x66, 0x00, 0x1D, 0x68, 0xA2,
                        0x1D, 0x77, 0x02, 0x1D, 0x6B, 0x00, 0x01, 0x37, 0x00};
    EXPECT_EQ(driver.mTransmissions, (Transmissions{code128, unknown}));
}

TEST(EscPosCommands, VerifyUnsupportedAndNoSerialNumber) {
    RecordingDriver driver;
    try {
        driver.verify();
        ADD_FAILURE() << "verify() returned";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Operation not supported.");
    }
    EXPECT_EQ(driver.getSerialNumber(), "");
}

// ---- Buffer ---------------------------------------------------------------------------------

TEST(EscPosBuffer, FullBufferTransmitsMidCommand) {
    RecordingDriver driver(4);
    driver.printLine("abcdef");
    EXPECT_EQ(driver.mTransmissions, (Transmissions{text("abcd"), text("ef\n")}));

    // Exactly full: the threshold fires on the LF, and the closing transmit sends nothing.
    driver.mTransmissions.clear();
    driver.printLine("xyz");
    EXPECT_EQ(driver.mTransmissions, (Transmissions{text("xyz\n"), {}}));
}

TEST(EscPosBuffer, ZeroSizeNeverTransmitsOnItsOwn) {
    RecordingDriver driver(0);
    driver.write('a');
    driver.write('b');
    EXPECT_TRUE(driver.mTransmissions.empty());
    driver.printLine("c");
    EXPECT_EQ(driver.mTransmissions, Transmissions{text("abc\n")});
}

// ---- Line layout ----------------------------------------------------------------------------

// SK1311 geometry: font A 12 dots, font B 8 dots, 576 dots wide.
TEST(EscPosLayout, FortyEightCharactersFitFortyNineBreak) {
    const std::string full(48, 'a');
    {
        RecordingDriver driver(1024, 12, 8, 576);
        driver.printString(full);
        EXPECT_EQ(driver.mTransmissions, Transmissions{text(full + "\n")});
    }
    {
        // Upside down (the default): the last line goes first.
        RecordingDriver driver(1024, 12, 8, 576);
        driver.printString(full + "b");
        EXPECT_EQ(driver.mTransmissions, (Transmissions{text("b\n"), text(full + "\n")}));
    }
    {
        RecordingDriver driver(1024, 12, 8, 576);
        Style upright;
        upright.setReverse(false);
        driver.setStyle(upright);
        driver.mTransmissions.clear();
        driver.printString(full + "b");
        EXPECT_EQ(driver.mTransmissions, (Transmissions{text(full + "\n"), text("b\n")}));
    }
}

TEST(EscPosLayout, EmptyStringPrintsOneLineFeed) {
    RecordingDriver driver;
    driver.printString("");
    EXPECT_EQ(driver.mTransmissions, Transmissions{{0x0A}});
}

struct WidthCase {
    const char* what;
    std::function<void(Style&)> change;
    size_t perLine; // characters that fit in 576 dots
};

TEST(EscPosLayout, CharactersPerLineFollowFontSpaceAndSize) {
    const std::vector<WidthCase> cases = {
        {"font B, 8 dots", [](Style& s) { s.setType(Style::FontB); }, 72},
        {"space 4: 16 dots", [](Style& s) { s.setSpace(4); }, 36},
        {"size 1: 24 dots", [](Style& s) { s.setSize(1); }, 24},
        {"font B, space 1, size 2: 27 dots",
         [](Style& s) {
             s.setType(Style::FontB);
             s.setSpace(1);
             s.setSize(2);
         },
         21},
    };
    for (const WidthCase& c : cases) {
        RecordingDriver driver(1024, 12, 8, 576);
        Style style;
        style.setReverse(false);
        c.change(style);
        driver.setStyle(style);
        driver.mTransmissions.clear();

        // Control bytes count as characters like any other byte.
        const std::string line(c.perLine - 1, 'x');
        driver.printString(line + "\n" + "yz");
        EXPECT_EQ(driver.mTransmissions, (Transmissions{text(line + "\n\n"), text("yz\n")}))
            << c.what;
    }
}

TEST(EscPosLayout, HexGoesThroughLayout) {
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"1b40", {0x1B, 0x40, 0x0A}},
        {"1B40", {0x1B, 0x40, 0x0A}},
        {"abc", {0x0A, 0xBC, 0x0A}},
    };
    for (const auto& [hex, expected] : cases) {
        RecordingDriver driver;
        driver.printHex(hex);
        EXPECT_EQ(driver.mTransmissions, Transmissions{expected}) << hex;
    }
    // 30 bytes on a 412-dot TL60 with 18-dot font A: 22 per line, upside down.
    RecordingDriver driver;
    driver.printHex(std::string(60, 'f'));
    EXPECT_EQ(driver.mTransmissions,
              (Transmissions{Bytes(8, 0xFF) + Bytes{0x0A}, Bytes(22, 0xFF) + Bytes{0x0A}}));
}

// ---- Images ---------------------------------------------------------------------------------

// A raster as rows of dots, true = black.
using Dots = std::vector<std::vector<bool>>;

// One ESC * 33 band transmission back to 24 rows of dots; fails the test on a malformed band.
Dots decodeBand(const Bytes& band) {
    const Bytes head{0x1B, 0x2A, 0x21};
    const Bytes tail{0x1B, 0x64, 0x00};
    const unsigned long width = band.size() >= 8 ? band[3] | (band[4] << 8) : 0;
    if (band.size() < 8 || band.size() != 5 + width * 3 + 3 ||
        !std::equal(head.begin(), head.end(), band.begin()) ||
        !std::equal(tail.begin(), tail.end(), band.end() - 3)) {
        ADD_FAILURE() << "malformed band of " << band.size() << " bytes";
        return {};
    }
    Dots dots(24, std::vector<bool>(width));
    for (unsigned long x = 0; x < width; ++x)
        for (unsigned long y = 0; y < 24; ++y)
            dots[y][x] = band[5 + x * 3 + y / 8] & (0x80 >> (y % 8));
    return dots;
}

// The whole image of one printImgBuffer call: line spacing, bands, end; bands in paper order.
Dots decodeImage(const Transmissions& tx, bool bottomFirst) {
    if (tx.size() < 2 || tx.front() != LineSpacing24 || tx.back() != ImageEnd) {
        ADD_FAILURE() << "not an image print";
        return {};
    }
    std::vector<Dots> bands;
    for (size_t i = 1; i + 1 < tx.size(); ++i)
        bands.push_back(decodeBand(tx[i]));
    if (bottomFirst)
        std::reverse(bands.begin(), bands.end());
    Dots image;
    for (const Dots& band : bands)
        image.insert(image.end(), band.begin(), band.end());
    return image;
}

// Packs rows of dots into the 1-bit source format: row-major, MSB leftmost.
Bytes pack(const Dots& dots) {
    Bytes out;
    for (const auto& row : dots) {
        for (size_t x = 0; x < row.size(); x += 8) {
            unsigned char b = 0;
            for (size_t i = 0; i < 8; ++i)
                b |= row[x + i] ? 0x80 >> i : 0;
            out.push_back(b);
        }
    }
    return out;
}

TEST(EscPosImage, BandColumnsTopDotFirst) {
    // 8 x 24, one black dot top left and one bottom right.
    Bytes bits(24, 0x00);
    bits[0] = 0x80;
    bits[23] = 0x01;
    RecordingDriver driver;
    driver.printImgBufferPart(bits.data(), 8, 24);
    Bytes expected{0x1B, 0x2A, 0x21, 0x08, 0x00};
    expected = expected + Bytes{0x80, 0x00, 0x00} + Bytes(18, 0x00) + Bytes{0x00, 0x00, 0x01} +
               Bytes{0x1B, 0x64, 0x00};
    EXPECT_EQ(driver.mTransmissions, Transmissions{expected});
}

TEST(EscPosImage, SixteenByThirtyPrintsAsTwoBands) {
    // A diagonal plus a full last row, so both the order and the white padding show.
    Dots source(30, std::vector<bool>(16));
    for (size_t y = 0; y < 30; ++y)
        source[y][y % 16] = true;
    for (size_t x = 0; x < 16; ++x)
        source[29][x] = true;
    Dots expected = source;
    expected.resize(48, std::vector<bool>(16));

    for (bool reverse : {true, false}) {
        RecordingDriver driver;
        Style style;
        style.setReverse(reverse);
        driver.setStyle(style);
        driver.mTransmissions.clear();

        driver.printImgBuffer(pack(source), 16, 30);
        ASSERT_EQ(driver.mTransmissions.size(), 4U) << reverse;
        EXPECT_EQ(decodeImage(driver.mTransmissions, reverse), expected) << reverse;
        // Upside down the band holding row 29 (the full row) goes first.
        const Dots first = decodeBand(driver.mTransmissions[1]);
        EXPECT_EQ(first[reverse ? 5 : 0], reverse ? expected[29] : expected[0]) << reverse;
    }
}

TEST(EscPosImage, ExtraBufferBytesAreNotPrinted) {
    // 8 x 10 with a buffer twice that long: the padding rows stay white.
    Bytes bits(20, 0xFF);
    RecordingDriver driver;
    driver.printImgBuffer(bits, 8, 10);
    const Dots image = decodeImage(driver.mTransmissions, true);
    ASSERT_EQ(image.size(), 24U);
    for (size_t y = 0; y < 24; ++y)
        EXPECT_EQ(image[y], std::vector<bool>(8, y < 10)) << "row " << y;
}

struct ImageError {
    const char* what;
    unsigned long width;
    unsigned long height;
    size_t bytes;
    std::string message;
};

// Rejected before a byte is appended, so the printer's line spacing is untouched.
TEST(EscPosImage, BadBuffersAreRejectedBeforeSending) {
    const std::vector<ImageError> cases = {
        {"zero width", 0, 24, 0, "Image size must not be zero"},
        {"zero height", 8, 0, 0, "Image size must not be zero"},
        {"buffer one byte short", 16, 30, 59, "Image buffer too short: 59 bytes for 16 x 30"},
        {"empty buffer", 8, 24, 0, "Image buffer too short: 0 bytes for 8 x 24"},
        {"size overflowing 64 bits", 1UL << 40, 1UL << 40, 16,
         "Image buffer too short: 16 bytes for 1099511627776 x 1099511627776"},
    };
    for (const ImageError& c : cases) {
        RecordingDriver driver;
        try {
            driver.printImgBuffer(Bytes(c.bytes, 0xFF), c.width, c.height);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
        EXPECT_TRUE(driver.mTransmissions.empty()) << c.what;
        EXPECT_TRUE(driver.pending().empty()) << c.what;
    }
}

TEST(EscPosImage, BandSizeErrorsInCheckOrder) {
    const std::vector<ImageError> cases = {
        {"width 12", 12, 24, 0, "Image width must be multiple of 8"},
        {"width checked before height", 12, 30, 0, "Image width must be multiple of 8"},
        {"height 30", 16, 30, 0, "Image height must be multiple of 24"},
        {"height 32, whole bytes but not whole bands", 16, 32, 0,
         "Image height must be multiple of 24"},
        {"height checked before the printable width", 416, 30, 0,
         "Image height must be multiple of 24"},
        {"wider than a TL60", 416, 24, 0, "Width can not be larger than 412"},
    };
    for (const ImageError& c : cases) {
        RecordingDriver driver;
        const Bytes bits((c.width / 8 + 1) * c.height, 0xFF);
        try {
            driver.printImgBufferPart(bits.data(), c.width, c.height);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
        EXPECT_TRUE(driver.mTransmissions.empty()) << c.what;
        EXPECT_TRUE(driver.pending().empty()) << c.what;
    }
}

// Through printImgBuffer a band error comes after the line spacing went out.
TEST(EscPosImage, BandErrorsFromAWholeImage) {
    for (unsigned long width : {12UL, 416UL}) {
        RecordingDriver driver;
        EXPECT_THROW(driver.printImgBuffer(Bytes(width / 8 * 24, 0xFF), width, 24),
                     std::out_of_range)
            << width;
        EXPECT_EQ(driver.mTransmissions, Transmissions{LineSpacing24}) << width;
        EXPECT_TRUE(driver.pending().empty()) << width;
    }
}

// ---- QR codes -------------------------------------------------------------------------------

qrcodegen::QrCode::Ecc ecc(QrCode::ErrorCorrection level) {
    return static_cast<qrcodegen::QrCode::Ecc>(level);
}

TEST(EscPosQr, VersionOneIs88By96InFourBands) {
    RecordingDriver driver;
    driver.printQR(QrCode("voltrin", QrCode::Low));
    const qrcodegen::QrCode reference = qrcodegen::QrCode::encodeText("voltrin", ecc(QrCode::Low));
    ASSERT_EQ(reference.getSize(), 21);

    ASSERT_EQ(driver.mTransmissions.size(), 6U); // spacing, four bands, end
    for (size_t i = 1; i <= 4; ++i)
        EXPECT_EQ(driver.mTransmissions[i].size(), 5U + 88 * 3 + 3) << "band " << i;
    const Dots image = decodeImage(driver.mTransmissions, true);
    ASSERT_EQ(image.size(), 96U);
    for (size_t y = 0; y < 96; ++y) {
        for (size_t x = 0; x < 88; ++x) {
            const bool dark = x < 84 && y < 84 &&
                              reference.getModule(static_cast<int>(x / 4), static_cast<int>(y / 4));
            ASSERT_EQ(image[y][x], dark) << "dot " << x << "," << y;
        }
    }
}

TEST(EscPosQr, ErrorCorrectionAndLargerVersions) {
    const std::string longText(120, 'q');
    const std::vector<std::pair<std::string, QrCode::ErrorCorrection>> cases = {
        {"12345", QrCode::Medium},
        {"https://example.com/receipt/0042", QrCode::Quartile},
        {longText, QrCode::High},
        {longText, QrCode::Low},
    };
    for (const auto& [code, level] : cases) {
        RecordingDriver driver(1024, 12, 8, 576);
        Style upright;
        upright.setReverse(false);
        driver.setStyle(upright);
        driver.mTransmissions.clear();
        driver.printQR(QrCode(code, level));

        const qrcodegen::QrCode reference = qrcodegen::QrCode::encodeText(code.c_str(), ecc(level));
        const size_t dots = static_cast<size_t>(reference.getSize()) * 4;
        const Dots image = decodeImage(driver.mTransmissions, false);
        ASSERT_EQ(image.size(), (dots + 23) / 24 * 24) << code;
        ASSERT_EQ(image[0].size(), (dots + 7) / 8 * 8) << code;
        bool same = true;
        for (size_t y = 0; y < image.size(); ++y)
            for (size_t x = 0; x < image[y].size(); ++x)
                same = same && image[y][x] == (x < dots && y < dots &&
                                               reference.getModule(static_cast<int>(x / 4),
                                                                   static_cast<int>(y / 4)));
        EXPECT_TRUE(same) << code << " level " << level;
    }
}

TEST(EscPosQr, TooLongForAnyVersionSendsNothing) {
    RecordingDriver driver;
    try {
        driver.printQR(QrCode(std::string(8000, 'x'), QrCode::Low));
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "QR code data too long");
    }
    EXPECT_TRUE(driver.mTransmissions.empty());
    EXPECT_TRUE(driver.pending().empty());
}

} // namespace
