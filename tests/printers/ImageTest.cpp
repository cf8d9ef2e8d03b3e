// Tests of the image front end: source type by extension, raw rasters, PNG through
// libpng, the BMP reader, and the size cap.
#include "printers/Image.h"

#include "ImageFiles.h"
#include "Log.h"
#include "StderrCapture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace zelvo::PrinterManager::Printers;
using namespace ImageFiles;

namespace {

// What Image_open gave, with the image already closed again.
struct Opened {
    int code = 0;
    int width = 0;
    int height = 0;
    int format = 0;
    Bytes data; // ceil(width / 8) x height bytes
};

Opened openImage(const std::string& path) {
    Image image;
    Opened result;
    result.code = Image_open(path.c_str(), &image);
    result.width = image.width;
    result.height = image.height;
    result.format = image.format;
    if (result.code == 0) {
        EXPECT_NE(image.data, nullptr);
        const std::size_t bytes = (static_cast<std::size_t>(image.width) + 7) / 8 *
                                  static_cast<std::size_t>(image.height);
        result.data.assign(image.data, image.data + bytes);
    } else {
        EXPECT_EQ(image.data, nullptr);
    }
    Image_close(&image);
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    return result;
}

// Image_open of `path` with what it printed on standard output.
std::pair<int, std::string> openCapturingStdout(const std::string& path) {
    testing::internal::CaptureStdout();
    const int code = openImage(path).code;
    return {code, testing::internal::GetCapturedStdout()};
}

Png rgb8(int width, int height, unsigned r, unsigned g, unsigned b) {
    Png png{width, height, PNG_COLOR_TYPE_RGB, 8, {}};
    for (int i = 0; i < width * height; ++i)
        png.samples.insert(png.samples.end(), {r, g, b});
    return png;
}

class ImageTest : public ::testing::Test {
protected:
    TempDir dir;

    std::string png(const std::string& name, const Png& image) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(writePng(path, image)) << name;
        return path;
    }
    std::string bmp(const std::string& name, const Bmp& image) {
        const std::string path = dir.file(name);
        writeBytes(path, bmpBytes(image));
        return path;
    }
    std::string bytes(const std::string& name, const Bytes& content) {
        const std::string path = dir.file(name);
        writeBytes(path, content);
        return path;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Source type

TEST_F(ImageTest, SourceTypeComesFromTheExtension) {
    const std::string valid = png("a.png", rgb8(8, 1, 0, 0, 0));
    const Bytes pngBytes = readBytes(valid);

    EXPECT_EQ(openImage(bytes("photo.jpg", pngBytes)).code, -1);
    EXPECT_EQ(openImage(bytes("file.PNG", pngBytes)).code, -1); // case-sensitive
    EXPECT_EQ(openImage(bytes("file.BMP", bmpBytes({1, 1, 24, {0}}))).code, -1);
    EXPECT_EQ(openImage(dir.file("nodot")).code, -1);
    EXPECT_EQ(openImage("").code, -1);
    EXPECT_EQ(Image_open(nullptr, nullptr), -1);
    Image image;
    EXPECT_EQ(Image_open(nullptr, &image), -1);

    // "png" / "bmp" / "bin" anywhere after the last ".".
    EXPECT_EQ(openImage(bytes("picture.xpngx", pngBytes)).code, 0);
    EXPECT_EQ(openImage(bytes("picture.mybmp", bmpBytes({1, 1, 24, {0}}))).code, 0);
    // "bin" wins over the others; the text before the last "." does not count.
    EXPECT_EQ(openImage(bytes("logo.png_8x1.binpng", {0xFF})).code, 0);
    EXPECT_EQ(openImage(bytes("image.png.jpg", pngBytes)).code, -1);
}

// ---------------------------------------------------------------------------------------------
// Raw rasters

TEST_F(ImageTest, RawSizeComesFromTheName) {
    Bytes content(48 * 120);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i * 7);
    const Opened logo = openImage(bytes("logo_384x120.bin", content));
    ASSERT_EQ(logo.code, 0);
    EXPECT_EQ(logo.width, 384);
    EXPECT_EQ(logo.height, 120);
    EXPECT_EQ(logo.format, 1);
    EXPECT_EQ(logo.data, content);

    const Opened data = openImage(bytes("data_16x2.bin2", {1, 2, 3, 4}));
    ASSERT_EQ(data.code, 0);
    EXPECT_EQ(data.width, 16);
    EXPECT_EQ(data.height, 2);
    EXPECT_EQ(data.data, (Bytes{1, 2, 3, 4}));

    // The last "_" and the last "x" anywhere in the path; only the leading digits count.
    const Opened last = openImage(bytes("a_1x1_8x3dots.bin", {9, 8, 7}));
    ASSERT_EQ(last.code, 0);
    EXPECT_EQ(last.width, 8);
    EXPECT_EQ(last.height, 3);

    // A longer file: only the raster is taken.
    const Opened longer = openImage(bytes("pad_8x2.bin", {0xAA, 0x55, 0x11, 0x22}));
    ASSERT_EQ(longer.code, 0);
    EXPECT_EQ(longer.data, (Bytes{0xAA, 0x55}));
}

TEST_F(ImageTest, RawNamesWithoutSizeAreRejected) {
    EXPECT_EQ(openImage(bytes("logo.bin", Bytes(100, 0))).code, -2);       // no "_", no "x"
    EXPECT_EQ(openImage(bytes("logo_384.bin", Bytes(100, 0))).code, -2);   // no "x"
    EXPECT_EQ(openImage(bytes("logo384x2.bin", Bytes(100, 0))).code, -2);  // no "_"
    EXPECT_EQ(openImage(bytes("logo_0x8.bin", Bytes(100, 0))).code, -2);   // width 0
    EXPECT_EQ(openImage(bytes("logo_8x0.bin", Bytes(100, 0))).code, -2);   // height 0
    EXPECT_EQ(openImage(bytes("logo_8x-1.bin", Bytes(100, 0))).code, -2);  // negative height
    EXPECT_EQ(openImage(bytes("logo_abcx8.bin", Bytes(100, 0))).code, -2); // no digits: 0
    // A missing raw file fails before its name is looked at.
    EXPECT_EQ(openImage(dir.file("missing.bin")).code, -1);
    EXPECT_EQ(openImage(dir.file("missing_8x8.bin")).code, -1);
}

TEST_F(ImageTest, RawFileShorterThanItsRasterIsRejected) {
    EXPECT_EQ(openImage(bytes("short_16x4.bin", Bytes(7, 0xFF))).code, -4);
    EXPECT_EQ(openImage(bytes("empty_8x1.bin", {})).code, -4);
    EXPECT_EQ(openImage(bytes("exact_16x4.bin", Bytes(8, 0xFF))).code, 0);
    // A directory opens but cannot be read.
    std::filesystem::create_directory(dir.file("dir_8x1.bin"));
    EXPECT_EQ(openImage(dir.file("dir_8x1.bin")).code, -4);
}

TEST_F(ImageTest, RawRowsOfAWidthNotMultipleOf8HaveTheirPaddingCleared) {
    const Opened raw = openImage(bytes("odd_12x2.bin", {0xFF, 0xFF, 0xAB, 0xCD}));
    ASSERT_EQ(raw.code, 0);
    EXPECT_EQ(raw.width, 12);
    EXPECT_EQ(raw.data, (Bytes{0xFF, 0xF0, 0xAB, 0xC0}));
}

TEST_F(ImageTest, OversizeRawIsRejectedBeforeReading) {
    // 12500 x 100000 bytes would be needed; -3 (refused), not -4 (read and found short).
    EXPECT_EQ(openImage(bytes("huge_100000x100000.bin", Bytes(10, 0))).code, -3);
    EXPECT_EQ(openImage(bytes("huge_99999999999999999999x1.bin", Bytes(10, 0))).code, -3);
    // The cap itself: 64 MiB is the largest raster.
    EXPECT_EQ(openImage(bytes("edge_8x67108865.bin", Bytes(10, 0))).code, -3);
    EXPECT_EQ(openImage(bytes("edge_8x67108864.bin", Bytes(10, 0))).code, -4);
}

// ---------------------------------------------------------------------------------------------
// PNG

TEST_F(ImageTest, EveryAcceptedPngColourTypeAndDepthConverts) {
    struct Case {
        const char* name;
        int colourType;
        int depth;
        int width;
        std::vector<unsigned> samples; // one row
        Bytes expected;
    };
    const Case cases[] = {
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, 2, {0, 1}, {0x80}},
        {"grey1-light-dark", PNG_COLOR_TYPE_GRAY, 1, 2, {1, 0}, {0x40}},
        // 2-bit levels 0, 1, 2, 3 are 0, 85, 170, 255.
        {"grey2", PNG_COLOR_TYPE_GRAY, 2, 4, {0, 1, 2, 3}, {0xC0}},
        // 4-bit 7 is 119 (black), 8 is 136 (white).
        {"grey4", PNG_COLOR_TYPE_GRAY, 4, 4, {0, 7, 8, 15}, {0xC0}},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8, 4, {0, 127, 128, 255}, {0xC0}},
        // Grey + alpha over white: opaque black, transparent black, alpha 200 (55), alpha 100
        // (155).
        {"grey-alpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 4, {0, 255, 0, 0, 0, 200, 0, 100}, {0xA0}},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, 2, {0, 0, 0, 255, 255, 255}, {0x80}},
        // 16-bit scaled to 8: 32639 is 127, 32896 is 128.
        {"rgb16",
         PNG_COLOR_TYPE_RGB,
         16,
         4,
         {0, 0, 0, 65535, 65535, 65535, 32639, 32639, 32639, 32896, 32896, 32896},
         {0xA0}},
        // RGBA over white: opaque black, transparent black, opaque white, half-transparent red
        // (over white R 255, G and B 127: grey 154).
        {"rgba8",
         PNG_COLOR_TYPE_RGB_ALPHA,
         8,
         4,
         {0, 0, 0, 255, 0, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 128},
         {0x80}},
        {"rgba16",
         PNG_COLOR_TYPE_RGB_ALPHA,
         16,
         3,
         {0, 0, 0, 65535, 0, 0, 0, 0, 65535, 0, 0, 65535},
         {0xA0}},
    };
    for (const Case& c : cases) {
        Png image{c.width, 1, c.colourType, c.depth, c.samples};
        const Opened opened = openImage(png(std::string(c.name) + ".png", image));
        ASSERT_EQ(opened.code, 0) << c.name;
        EXPECT_EQ(opened.width, c.width) << c.name;
        EXPECT_EQ(opened.height, 1) << c.name;
        EXPECT_EQ(opened.format, 1) << c.name;
        EXPECT_EQ(opened.data, c.expected) << c.name;
    }
}

TEST_F(ImageTest, PngTransparencyKeyIsWhite) {
    png_color_16 key{};
    key.gray = 0;
    Png grey{3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 10, 255}};
    grey.transparent = &key;
    const Opened g = openImage(png("key-grey.png", grey));
    ASSERT_EQ(g.code, 0);
    EXPECT_EQ(g.data, (Bytes{0x40}));

    png_color_16 rgbKey{};
    rgbKey.red = 1;
    rgbKey.green = 2;
    rgbKey.blue = 3;
    Png rgb{2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 1, 2, 4}};
    rgb.transparent = &rgbKey;
    const Opened c = openImage(png("key-rgb.png", rgb));
    ASSERT_EQ(c.code, 0);
    EXPECT_EQ(c.data, (Bytes{0x40}));
}

TEST_F(ImageTest, PngRowsAreTopFirst) {
    Png image{8, 3, PNG_COLOR_TYPE_GRAY, 8, {}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x)
            image.samples.push_back(x == y ? 0 : 255);
    const Opened opened = openImage(png("rows.png", image));
    ASSERT_EQ(opened.code, 0);
    EXPECT_EQ(opened.data, (Bytes{0x80, 0x40, 0x20}));
}

TEST_F(ImageTest, PngGrey128IsWhiteAnd127Black) {
    const Opened white = openImage(png("grey128.png", rgb8(384, 24, 128, 128, 128)));
    ASSERT_EQ(white.code, 0);
    EXPECT_EQ(white.width, 384);
    EXPECT_EQ(white.height, 24);
    EXPECT_EQ(white.data, Bytes(48 * 24, 0x00));
    const Opened black = openImage(png("grey127.png", rgb8(384, 24, 127, 127, 127)));
    ASSERT_EQ(black.code, 0);
    EXPECT_EQ(black.data, Bytes(48 * 24, 0xFF));
}

TEST_F(ImageTest, PureRedIsBlackInPngAndWhiteInBmp) {
    const Opened fromPng = openImage(png("red.png", rgb8(1, 1, 255, 0, 0)));
    ASSERT_EQ(fromPng.code, 0);
    EXPECT_EQ(fromPng.data, (Bytes{0x80})); // grey 54
    const Opened fromBmp = openImage(bmp("red.bmp", {1, 1, 24, {0xFF0000}}));
    ASSERT_EQ(fromBmp.code, 0);
    EXPECT_EQ(fromBmp.data, (Bytes{0x00})); // red 255
}

TEST_F(ImageTest, PngWidthNotMultipleOf8HasWhitePadding) {
    const Opened opened = openImage(png("twelve.png", rgb8(12, 2, 0, 0, 0)));
    ASSERT_EQ(opened.code, 0);
    EXPECT_EQ(opened.width, 12);
    EXPECT_EQ(opened.data, (Bytes{0xFF, 0xF0, 0xFF, 0xF0}));
    const Opened one = openImage(png("one.png", rgb8(1, 2, 0, 0, 0)));
    ASSERT_EQ(one.code, 0);
    EXPECT_EQ(one.data, (Bytes{0x80, 0x80}));
}

TEST_F(ImageTest, PaletteInterlacedAndOtherDepthsAreRejected) {
    Png palette8{2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}};
    palette8.palette = {{0, 0, 0}, {255, 255, 255}};
    EXPECT_EQ(openImage(png("palette8.png", palette8)).code, -2);
    Png palette1{2, 1, PNG_COLOR_TYPE_PALETTE, 1, {0, 1}};
    palette1.palette = {{0, 0, 0}, {255, 255, 255}};
    EXPECT_EQ(openImage(png("palette1.png", palette1)).code, -2);

    Png interlaced = rgb8(16, 16, 0, 0, 0);
    interlaced.interlaced = true;
    EXPECT_EQ(openImage(png("interlaced.png", interlaced)).code, -2);
    Png interlacedGrey{2, 2, PNG_COLOR_TYPE_GRAY, 8, {0, 0, 0, 0}, true};
    EXPECT_EQ(openImage(png("interlaced-grey.png", interlacedGrey)).code, -2);

    // Depths outside the accepted table: 16-bit grey and 16-bit grey + alpha.
    EXPECT_EQ(openImage(png("grey16.png", {1, 1, PNG_COLOR_TYPE_GRAY, 16, {0}})).code, -2);
    EXPECT_EQ(openImage(png("ga16.png", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0, 65535}})).code,
              -2);
    // Grey + alpha below 8 bits is not a valid PNG: libpng refuses the header.
    Bytes ga2 = pngSignature();
    for (const Bytes& chunk : {pngChunk("IHDR", ihdrData(1, 1, 2, 4)), pngChunk("IEND", {})})
        ga2.insert(ga2.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(openImage(bytes("ga2.png", ga2)).code, -2);
}

TEST_F(ImageTest, DamagedPngIsRejected) {
    const std::string good = png("good.png", rgb8(64, 64, 10, 200, 30));
    ASSERT_EQ(openImage(good).code, 0);
    const Bytes file = readBytes(good);
    ASSERT_GT(file.size(), 60u);

    // Shorter than 29 bytes, even with the signature.
    EXPECT_EQ(openImage(bytes("short.png", Bytes(file.begin(), file.begin() + 28))).code, -2);
    EXPECT_EQ(openImage(bytes("empty.png", {})).code, -2);
    // No signature.
    Bytes unsigned_ = file;
    unsigned_[1] = 'X';
    EXPECT_EQ(openImage(bytes("nosig.png", unsigned_)).code, -2);
    // Cut in the middle of the image data, and just before IEND.
    EXPECT_EQ(openImage(bytes("cut.png", Bytes(file.begin(), file.begin() + file.size() / 2))).code,
              -2);
    EXPECT_EQ(openImage(bytes("noend.png", Bytes(file.begin(), file.end() - 12))).code, -2);
    // A changed byte inside IDAT (its zlib check and CRC no longer match).
    Bytes crc = file;
    crc[file.size() - 20] ^= 0x5A;
    EXPECT_EQ(openImage(bytes("crc.png", crc)).code, -2);
    // Garbage image data with a correct CRC: the zlib stream is damaged.
    Bytes garbage = pngSignature();
    for (const Bytes& chunk : {pngChunk("IHDR", ihdrData(8, 8, 8, 2)),
                               pngChunk("IDAT", Bytes(40, 0xA7)), pngChunk("IEND", {})})
        garbage.insert(garbage.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(openImage(bytes("garbage.png", garbage)).code, -2);
    // Missing file.
    EXPECT_EQ(openImage(dir.file("missing.png")).code, -2);
}

TEST_F(ImageTest, PngHeaderRulesAreEnforced) {
    auto withHeader = [&](const std::string& name, const std::vector<Bytes>& chunks) {
        Bytes out = pngSignature();
        for (const Bytes& chunk : chunks)
            out.insert(out.end(), chunk.begin(), chunk.end());
        return openImage(bytes(name, out)).code;
    };
    const Bytes idat = pngChunk("IDAT", Bytes(20, 0));
    const Bytes iend = pngChunk("IEND", {});
    EXPECT_EQ(
        withHeader("compression.png", {pngChunk("IHDR", ihdrData(8, 1, 8, 2, 1)), idat, iend}), -2);
    EXPECT_EQ(withHeader("filter.png", {pngChunk("IHDR", ihdrData(8, 1, 8, 2, 0, 1)), idat, iend}),
              -2);
    EXPECT_EQ(withHeader("notfirst.png", {pngChunk("tEXt", {'a', 0, 'b'}),
                                          pngChunk("IHDR", ihdrData(8, 1, 8, 2)), idat, iend}),
              -2);
    EXPECT_EQ(withHeader("rgb4.png", {pngChunk("IHDR", ihdrData(8, 1, 4, 2)), idat, iend}), -2);
}

TEST_F(ImageTest, OversizePngIsRejectedAtTheHeader) {
    Log::open("voltrin-imagetest", true, false);
    Log::setLevel(Log::Debug);
    auto header = [&](const std::string& name, std::uint32_t width, std::uint32_t height) {
        Bytes out = pngSignature();
        for (const Bytes& chunk : {pngChunk("IHDR", ihdrData(width, height, 8, 6)),
                                   pngChunk("IDAT", Bytes(20, 0)), pngChunk("IEND", {})})
            out.insert(out.end(), chunk.begin(), chunk.end());
        return bytes(name, out);
    };
    {
        // 8192 x 8193 raster bytes: one row beyond the cap.
        StderrCapture capture;
        EXPECT_EQ(openImage(header("cap.png", 65536, 8193)).code, -2);
        EXPECT_NE(capture.text().find("65536 x 8193 exceeds 67108864 bytes"), std::string::npos);
    }
    {
        // libpng's own limits: refused while reading IHDR, before any row buffer exists. (Under
        // AddressSanitizer an attempt to allocate rows for these sizes would abort the test.)
        StderrCapture capture;
        EXPECT_EQ(openImage(header("wide.png", 2000000, 1)).code, -2);
        EXPECT_EQ(openImage(header("tall.png", 8, 0x7FFFFFFF)).code, -2);
        EXPECT_EQ(openImage(header("both.png", 0x7FFFFFFF, 0x7FFFFFFF)).code, -2);
        const std::string text = capture.text();
        EXPECT_NE(text.find("exceeds user limit"), std::string::npos) << text;
    }
    Log::setLevel(Log::Error);
    Log::close();
}

// ---------------------------------------------------------------------------------------------
// BMP

TEST_F(ImageTest, BmpIsDeliveredBottomRowFirst) {
    // Image rows, top first: a dot at x 0, 1, 2.
    Bmp image{8, 3, 24, {}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x)
            image.pixels.push_back(x == y ? 0x000000 : 0xFFFFFF);
    const Opened bottomUp = openImage(bmp("bottomup.bmp", image));
    ASSERT_EQ(bottomUp.code, 0);
    EXPECT_EQ(bottomUp.width, 8);
    EXPECT_EQ(bottomUp.height, 3);
    EXPECT_EQ(bottomUp.format, static_cast<int>(BMPREAD_ANY_SIZE));
    EXPECT_EQ(bottomUp.data, (Bytes{0x20, 0x40, 0x80}));

    image.height = -3; // the same picture stored top-down
    const Opened topDown = openImage(bmp("topdown.bmp", image));
    ASSERT_EQ(topDown.code, 0);
    EXPECT_EQ(topDown.height, 3);
    EXPECT_EQ(topDown.data, (Bytes{0x20, 0x40, 0x80}));
}

TEST_F(ImageTest, BmpOfEveryBitDepth) {
    // 1 bit, 10 wide: palette 0 black, 1 white; padding bits of the second byte stay 0.
    Bmp one{10, 2, 1, {}, {0x000000, 0xFFFFFF}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x)
            one.pixels.push_back(y == 0 ? 0u : static_cast<std::uint32_t>(x % 2));
    const Opened o = openImage(bmp("one.bmp", one));
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o.width, 10);
    EXPECT_EQ(o.data, (Bytes{0xAA, 0x80, 0xFF, 0xC0})); // bottom row (alternating) first

    // 4 bit: entry i has red 17 i, green and blue opposite; only red decides.
    Bmp four{4, 1, 4, {0, 7, 8, 15}, {}};
    for (std::uint32_t i = 0; i < 16; ++i)
        four.palette.push_back((17 * i) << 16 | (255 - 17 * i) << 8 | (255 - 17 * i));
    const Opened f = openImage(bmp("four.bmp", four));
    ASSERT_EQ(f.code, 0);
    EXPECT_EQ(f.data, (Bytes{0xC0}));

    // 8 bit: entry i has red i.
    Bmp eight{5, 1, 8, {0, 127, 128, 255, 126}, {}};
    for (std::uint32_t i = 0; i < 256; ++i)
        eight.palette.push_back(i << 16 | (255 - i) << 8 | (255 - i));
    const Opened e = openImage(bmp("eight.bmp", eight));
    ASSERT_EQ(e.code, 0);
    EXPECT_EQ(e.data, (Bytes{0xC8}));

    // 24 bit: red 127 with green and blue 255 is black, red 128 with green and blue 0 white.
    const Opened t = openImage(bmp("t.bmp", {3, 1, 24, {0x7FFFFF, 0x800000, 0x000000}}));
    ASSERT_EQ(t.code, 0);
    EXPECT_EQ(t.data, (Bytes{0xA0}));
}

TEST_F(ImageTest, OneDotWide24BitBmp) {
    const Opened opened =
        openImage(bmp("thin.bmp", {1, 4, 24, {0x000000, 0xFFFFFF, 0x000000, 0x7F7F7F}}));
    ASSERT_EQ(opened.code, 0);
    EXPECT_EQ(opened.width, 1);
    EXPECT_EQ(opened.height, 4);
    // Bottom row first.
    EXPECT_EQ(opened.data, (Bytes{0x80, 0x80, 0x00, 0x80}));
}

TEST_F(ImageTest, BmpReaderDeliversRgbRowsFilledTo4Bytes) {
    const std::string path = bmp("rgb.bmp", {2, 2, 24, {0x010203, 0x040506, 0x0A0B0C, 0x0D0E0F}});
    bmpread_t out;
    ASSERT_EQ(bmpread(path.c_str(), BMPREAD_ANY_SIZE, &out), 1);
    EXPECT_EQ(out.width, 2);
    EXPECT_EQ(out.height, 2);
    EXPECT_EQ(out.flags, BMPREAD_ANY_SIZE);
    EXPECT_EQ(Bytes(out.data, out.data + 16),
              (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
    bmpread_free(&out);
    EXPECT_EQ(out.data, nullptr);

    ASSERT_EQ(bmpread(path.c_str(), BMPREAD_TOP_DOWN | BMPREAD_BYTE_ALIGN, &out), 1);
    EXPECT_EQ(Bytes(out.data, out.data + 12),
              (Bytes{1, 2, 3, 4, 5, 6, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}));
    bmpread_free(&out);

    // Without the any-size flag only powers of two pass.
    const std::string odd = bmp("odd.bmp", {3, 3, 24, std::vector<std::uint32_t>(9, 0)});
    testing::internal::CaptureStdout();
    EXPECT_EQ(bmpread(odd.c_str(), 0, &out), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "validate eroor\n");
    EXPECT_EQ(out.data, nullptr);
}

TEST_F(ImageTest, BmpRejectionsNameTheFailedCheck) {
    const Bytes good = bmpBytes({4, 2, 24, std::vector<std::uint32_t>(8, 0)});
    const Bytes eightBit = bmpBytes({4, 1, 8, {0, 1, 2, 3}, {}});
    auto changedIn = [](const Bytes& base, std::size_t offset, const Bytes& value) {
        Bytes out = base;
        for (std::size_t i = 0; i < value.size(); ++i)
            out[offset + i] = value[i];
        return out;
    };
    auto changed = [&](std::size_t offset, const Bytes& value) {
        return changedIn(good, offset, value);
    };
    struct Case {
        const char* name;
        Bytes content;
        const char* message;
    };
    const Case cases[] = {
        {"empty", {}, "b eroor\n"},
        {"b", changed(0, {'X'}), "b eroor\n"},
        {"m", changed(1, {'X'}), "m eroor\n"},
        {"only-b", {'B'}, "m eroor\n"},
        {"width0", changed(18, {0, 0, 0, 0}), "w/h eroor\n"},
        {"width-negative", changed(18, {0xFF, 0xFF, 0xFF, 0xFF}), "w/h eroor\n"},
        {"height0", changed(22, {0, 0, 0, 0}), "w/h eroor\n"},
        {"compressed", changed(30, {1}), "comp eroor\n"},
        {"bits16", changed(28, {16}), "info.bits eroor\n"},
        {"bits32", changed(28, {32}), "info.bits eroor\n"},
        {"bits0", changed(28, {0}), "info.bits eroor\n"},
        {"header-short", Bytes(good.begin(), good.begin() + 30), "validate eroor\n"},
        {"info-header-12", changed(14, {12, 0, 0, 0}), "validate eroor\n"},
        {"palette-short", Bytes(eightBit.begin(), eightBit.begin() + 54 + 500), "validate eroor\n"},
        {"palette-far", changedIn(eightBit, 14, {0xF0, 0xFF, 0xFF, 0xFF}), "validate eroor\n"},
        {"pixels-short", Bytes(good.begin(), good.end() - 1), "decode eroor\n"},
        {"offset-far", changed(10, {0xFF, 0xFF, 0xFF, 0x7F}), "decode eroor\n"},
        // 30000 x 30000 24-bit pixels would be 2.7 GB: refused before the pixel data is looked
        // for (which is missing, so a reader without the cap would report "decode eroor").
        {"oversize", changed(18, {0x30, 0x75, 0, 0, 0x30, 0x75, 0, 0}), "validate eroor\n"},
        {"oversize-top-down", changed(18, {0x30, 0x75, 0, 0, 0, 0, 0, 0x80}), "validate eroor\n"},
    };
    for (const Case& c : cases) {
        const auto [code, out] =
            openCapturingStdout(bytes(std::string(c.name) + ".bmp", c.content));
        EXPECT_EQ(code, -1) << c.name;
        EXPECT_EQ(out, c.message) << c.name;
    }
    // A file that cannot be opened is rejected without a message.
    const auto [code, out] = openCapturingStdout(dir.file("missing.bmp"));
    EXPECT_EQ(code, -1);
    EXPECT_EQ(out, "");
    // The unchanged file passes, silently.
    const auto [goodCode, goodOut] = openCapturingStdout(bytes("good.bmp", good));
    EXPECT_EQ(goodCode, 0);
    EXPECT_EQ(goodOut, "");
}

TEST_F(ImageTest, CloseIsSafeOnAnEmptyRecord) {
    Image image;
    Image_close(&image);
    Image_close(nullptr);
    EXPECT_EQ(image.data, nullptr);
    bmpread_free(nullptr);
}
