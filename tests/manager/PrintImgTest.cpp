// Tests of PrinterManager::printImg: image files through the front end to the driver's
// printImgBuffer, checked on the ESC/POS bytes a recording driver keeps.
#include "PrinterManager.h"
#include "RecordingDriver.h"

#include "Expect.h"
#include "ImageFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

using namespace zelvo::PrinterManager;
using namespace ImageFiles;

namespace {

// A started manager whose "detection" builds one RecordingDriver.
struct Rig {
    RecordingDriver* driver = nullptr;
    PrinterManager manager{"/dev/recorder", "/nonexistent/voltrin-test.json",
                           [this](const std::string&) -> std::unique_ptr<Printers::Driver> {
                               auto d = std::make_unique<RecordingDriver>();
                               driver = d.get();
                               return d;
                           }};
    Rig() { manager.start(); }
    ~Rig() { manager.stop(); }
};

// The raster the ESC/POS base sent: the ESC * 33 bands decoded back into rows of width / 8
// bytes, in the driver's raster order (the bands of an upside-down style go out last first).
struct SentRaster {
    unsigned long width = 0;
    std::vector<Bytes> rows;
};

SentRaster decodeSent(const Bytes& bytes, bool reverse) {
    SentRaster sent;
    std::vector<std::vector<Bytes>> bands;
    std::size_t i = 0;
    auto need = [&](std::size_t n) {
        if (i + n > bytes.size())
            throw std::runtime_error("truncated command at " + std::to_string(i));
    };
    while (i < bytes.size()) {
        need(2);
        if (bytes[i] != 0x1B)
            throw std::runtime_error("unexpected byte at " + std::to_string(i));
        const unsigned char command = bytes[i + 1];
        if (command == '2') {
            i += 2;
        } else if (command == '3' || command == 'd') {
            need(3);
            i += 3;
        } else if (command == '*') {
            need(5);
            if (bytes[i + 2] != 33)
                throw std::runtime_error("not a 24-dot bit image");
            const unsigned long width = bytes[i + 3] | bytes[i + 4] << 8;
            i += 5;
            need(width * 3);
            if (sent.width != 0 && sent.width != width)
                throw std::runtime_error("bands of different widths");
            sent.width = width;
            std::vector<Bytes> band(24, Bytes((width + 7) / 8, 0));
            for (unsigned long x = 0; x < width; ++x)
                for (unsigned long k = 0; k < 3; ++k) {
                    const unsigned char packed = bytes[i + x * 3 + k];
                    for (unsigned long bit = 0; bit < 8; ++bit)
                        if (packed & (0x80 >> bit))
                            band[k * 8 + bit][x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
                }
            i += width * 3;
            bands.push_back(std::move(band));
        } else {
            throw std::runtime_error("unexpected command at " + std::to_string(i));
        }
    }
    if (reverse)
        std::reverse(bands.begin(), bands.end());
    for (const auto& band : bands)
        sent.rows.insert(sent.rows.end(), band.begin(), band.end());
    return sent;
}

class PrintImgTest : public ::testing::Test {
protected:
    TempDir dir;
    Rig rig;

    SentRaster sent() {
        return decodeSent(rig.driver->allBytes(), rig.manager.getStyle().getReverse());
    }
};

} // namespace

TEST_F(PrintImgTest, UndecodableFilesFailWithTheirPath) {
    const std::vector<std::string> paths = {
        "/nonexistent/photo.jpg",   dir.file("photo.jpg"),
        dir.file("logo.bin"), // no "_": -2
        dir.file("missing.png"),
        dir.file("short_16x4.bin"), // shorter than its raster
        dir.file("bad.bmp"),        // not starting with "BM"
        dir.file("palette.png"),    dir.file("interlaced.png"),
    };
    writeBytes(dir.file("photo.jpg"), Bytes(100, 0xFF));
    writeBytes(dir.file("logo.bin"), Bytes(100, 0xFF));
    writeBytes(dir.file("short_16x4.bin"), Bytes(7, 0xFF));
    writeBytes(dir.file("bad.bmp"), Bytes(100, 'X'));
    Png palette{2, 1, PNG_COLOR_TYPE_PALETTE, 8, {0, 1}};
    palette.palette = {{0, 0, 0}, {255, 255, 255}};
    ASSERT_TRUE(writePng(dir.file("palette.png"), palette));
    Png interlaced{8, 8, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(64, 0), true};
    ASSERT_TRUE(writePng(dir.file("interlaced.png"), interlaced));

    for (const std::string& path : paths) {
        testing::internal::CaptureStdout(); // the BMP reader's reason
        expectThrowWithText<std::runtime_error>([&] { rig.manager.printImg(path); },
                                                "Could not open image file: " + path);
        testing::internal::GetCapturedStdout();
    }
    EXPECT_TRUE(rig.driver->mTransmissions.empty());
}

TEST_F(PrintImgTest, DecodingComesBeforeTheDriverGuard) {
    rig.manager.stop();
    expectThrowWithText<std::runtime_error>([&] { rig.manager.printImg("/nonexistent/a.jpg"); },
                                            "Could not open image file: /nonexistent/a.jpg");
    ASSERT_TRUE(
        writePng(dir.file("ok.png"), {8, 1, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(8, 0)}));
    expectThrowWithText<std::invalid_argument>([&] { rig.manager.printImg(dir.file("ok.png")); },
                                               "Driver not active");
}

TEST_F(PrintImgTest, A12DotWidePngPrintsAs16DotsWide) {
    Png image{12, 24, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(12 * 24, 0)};
    ASSERT_TRUE(writePng(dir.file("twelve.png"), image));
    rig.manager.printImg(dir.file("twelve.png"));

    Bytes band = {0x1B, '*', 33, 16, 0};
    for (int x = 0; x < 16; ++x)
        band.insert(band.end(), 3, x < 12 ? 0xFF : 0x00);
    band.insert(band.end(), {0x1B, 'd', 0});
    EXPECT_EQ(rig.driver->mTransmissions,
              (std::vector<Bytes>{{0x1B, '3', 24}, band, {0x1B, '2', 0x1B, 'd', 0}}));

    const SentRaster raster = sent();
    EXPECT_EQ(raster.width, 16u);
    EXPECT_EQ(raster.rows, std::vector<Bytes>(24, (Bytes{0xFF, 0xF0})));
}

TEST_F(PrintImgTest, AMultipleOf8WidthIsUnchanged) {
    Bytes content(2 * 24);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i * 37 + 1);
    writeBytes(dir.file("logo_16x24.bin"), content);
    rig.manager.printImg(dir.file("logo_16x24.bin"));
    const SentRaster raster = sent();
    EXPECT_EQ(raster.width, 16u);
    ASSERT_EQ(raster.rows.size(), 24u);
    for (std::size_t y = 0; y < 24; ++y)
        EXPECT_EQ(raster.rows[y], Bytes(content.begin() + 2 * y, content.begin() + 2 * y + 2)) << y;
}

TEST_F(PrintImgTest, ABmpGoesToTheDriverBottomRowFirst) {
    // 8 x 48: the top half has one dot per row (at x = y % 8), the bottom half all dots but one.
    auto black = [](int x, int y) { return y < 24 ? x == y % 8 : x != y % 8; };
    Bmp image{8, 48, 24, {}};
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 8; ++x)
            image.pixels.push_back(black(x, y) ? 0x000000 : 0xFFFFFF);
    writeBytes(dir.file("picture.bmp"), bmpBytes(image));
    rig.manager.printImg(dir.file("picture.bmp"));

    const SentRaster raster = sent();
    EXPECT_EQ(raster.width, 8u);
    ASSERT_EQ(raster.rows.size(), 48u);
    for (int row = 0; row < 48; ++row) {
        const int imageRow = 47 - row; // the first raster rows are the image's last rows
        unsigned char expected = 0;
        for (int x = 0; x < 8; ++x)
            if (black(x, imageRow))
                expected |= static_cast<unsigned char>(0x80 >> x);
        EXPECT_EQ(raster.rows[row], Bytes{expected}) << "raster row " << row;
    }
    // The first band holds the bottom half: nearly all black.
    EXPECT_EQ(raster.rows[0], Bytes{static_cast<unsigned char>(~(0x80 >> (47 % 8)))});
}

TEST_F(PrintImgTest, ThePrinterStatusGateRefusesAfterDecoding) {
    ASSERT_TRUE(
        writePng(dir.file("ok.png"), {8, 1, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(8, 0)}));
    rig.driver->mStatusToReport.fromBitset(std::bitset<32>((1u << 18) | (1u << 4)));
    expectThrowWithText<std::runtime_error>([&] { rig.manager.printImg(dir.file("ok.png")); },
                                            "0x00040010");
    EXPECT_TRUE(rig.driver->mTransmissions.empty());
}

TEST_F(PrintImgTest, DriverErrorsPropagateAndReleaseTheLock) {
    ASSERT_TRUE(writePng(dir.file("wide.png"),
                         {420, 1, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned>(420, 0)}));
    expectThrowWithText<std::out_of_range>([&] { rig.manager.printImg(dir.file("wide.png")); },
                                           "Width can not be larger than 412");
    rig.driver->mTransmissions.clear();
    rig.manager.feed(1);
    EXPECT_EQ(rig.driver->allBytes(), (Bytes{0x1B, 'd', 1}));
}
