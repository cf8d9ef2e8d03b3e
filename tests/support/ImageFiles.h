// ImageFiles: small PNG, BMP and raw image files for tests, written into a scratch directory.
// PNG files are written with libpng (consumers link libpng); BMP files are assembled byte by
// byte, so tests can also build damaged ones.
#pragma once

#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace ImageFiles {

using Bytes = std::vector<unsigned char>;

// A scratch directory under /tmp, removed with everything in it. Its path has neither "_" nor
// "x" in it, so raw raster names (<name>_<width>x<height>.bin) are read from the file name alone.
class TempDir {
public:
    TempDir() {
        for (int n = 0;; ++n) {
            mPath = "/tmp/voltrin-image-" + std::to_string(getpid()) + "-" + std::to_string(n);
            std::error_code ec;
            if (std::filesystem::create_directory(mPath, ec))
                break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The path of `name` inside the directory.
    std::string file(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------------------------
// PNG

// A PNG image: `samples` holds, row after row (top first), each pixel's channel values
// (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA, 1 palette index) in the bit depth's range.
struct Png {
    Png(int width_, int height_, int colourType_, int depth_, std::vector<unsigned> samples_,
        bool interlaced_ = false)
        : width(width_), height(height_), colourType(colourType_), depth(depth_),
          samples(std::move(samples_)), interlaced(interlaced_) {}

    int width;
    int height;
    int colourType;
    int depth;
    std::vector<unsigned> samples;
    bool interlaced;
    std::vector<png_color> palette;            // for PNG_COLOR_TYPE_PALETTE
    const png_color_16* transparent = nullptr; // a tRNS colour key, or none
};

inline int channelsOf(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

// The packed rows of `image`: samples of less than 8 bits leftmost in the high bits, 16-bit
// samples big-endian.
inline std::vector<Bytes> packRows(const Png& image) {
    const std::size_t perRow = static_cast<std::size_t>(image.width) * channelsOf(image.colourType);
    const std::size_t rowBytes = (perRow * image.depth + 7) / 8;
    std::vector<Bytes> rows(image.height, Bytes(rowBytes, 0));
    for (int y = 0; y < image.height; ++y) {
        for (std::size_t i = 0; i < perRow; ++i) {
            const unsigned v = image.samples.at(y * perRow + i);
            Bytes& row = rows[y];
            if (image.depth == 16) {
                row[2 * i] = static_cast<unsigned char>(v >> 8);
                row[2 * i + 1] = static_cast<unsigned char>(v);
            } else if (image.depth == 8) {
                row[i] = static_cast<unsigned char>(v);
            } else {
                const std::size_t bit = i * image.depth;
                row[bit / 8] |= static_cast<unsigned char>(v << (8 - image.depth - bit % 8));
            }
        }
    }
    return rows;
}

// Writes `image` with libpng; false when libpng refuses it.
inline bool writePng(const std::string& path, const Png& image) {
    std::vector<Bytes> rows = packRows(image);
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows)
        pointers.push_back(row.data());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    // Nothing with a destructor is created below this point.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, image.depth, image.colourType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    if (image.transparent)
        png_set_tRNS(png, info, nullptr, 0, image.transparent);
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return true;
}

// The CRC of PNG chunks (ISO 3309), over `type` and `data`.
inline std::uint32_t pngCrc(const Bytes& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void putBe32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

// One chunk: length, type, data, CRC.
inline Bytes pngChunk(const std::string& type, const Bytes& data) {
    Bytes out;
    putBe32(out, static_cast<std::uint32_t>(data.size()));
    Bytes crcInput(type.begin(), type.end());
    crcInput.insert(crcInput.end(), data.begin(), data.end());
    out.insert(out.end(), crcInput.begin(), crcInput.end());
    putBe32(out, pngCrc(crcInput));
    return out;
}

inline Bytes pngSignature() {
    return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
}

// The data of an IHDR chunk.
inline Bytes ihdrData(std::uint32_t width, std::uint32_t height, int depth, int colourType,
                      int compression = 0, int filter = 0, int interlace = 0) {
    Bytes out;
    putBe32(out, width);
    putBe32(out, height);
    for (int v : {depth, colourType, compression, filter, interlace})
        out.push_back(static_cast<unsigned char>(v));
    return out;
}

// ---------------------------------------------------------------------------------------------
// BMP

inline void putLe(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A BMP image: `pixels` holds, row after row with the top row first, palette indices (bits 1,
// 4, 8) or 0xRRGGBB values (bits 24). A negative height writes a top-down file, a positive one
// the usual bottom-up file. The palette (0xRRGGBB) is filled up to 2^bits entries with black.
struct Bmp {
    Bmp(int width_, int height_, int bits_, std::vector<std::uint32_t> pixels_,
        std::vector<std::uint32_t> palette_ = {})
        : width(width_), height(height_), bits(bits_), pixels(std::move(pixels_)),
          palette(std::move(palette_)) {}

    int width;
    int height;
    int bits;
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint32_t> palette;
};

// The file's bytes: a 14-byte file header, a 40-byte information header, the palette, the rows
// (each filled up to 4 bytes).
inline Bytes bmpBytes(const Bmp& image) {
    const std::uint32_t rows =
        static_cast<std::uint32_t>(image.height < 0 ? -image.height : image.height);
    const std::uint32_t paletteEntries = image.bits <= 8 ? 1u << image.bits : 0u;
    const std::uint32_t lineLen =
        (static_cast<std::uint32_t>(image.width) * image.bits + 31) / 32 * 4;
    const std::uint32_t offset = 14 + 40 + 4 * paletteEntries;
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    putLe(out, offset + lineLen * rows, 4);
    putLe(out, 0, 4);
    putLe(out, offset, 4);
    putLe(out, 40, 4);
    putLe(out, static_cast<std::uint32_t>(image.width), 4);
    putLe(out, static_cast<std::uint32_t>(image.height), 4);
    putLe(out, 1, 2);
    putLe(out, static_cast<std::uint32_t>(image.bits), 2);
    putLe(out, 0, 4); // compression
    putLe(out, lineLen * rows, 4);
    putLe(out, 2835, 4);
    putLe(out, 2835, 4);
    putLe(out, 0, 4);
    putLe(out, 0, 4);
    for (std::uint32_t i = 0; i < paletteEntries; ++i) {
        const std::uint32_t c = i < image.palette.size() ? image.palette[i] : 0;
        out.push_back(static_cast<unsigned char>(c));       // blue
        out.push_back(static_cast<unsigned char>(c >> 8));  // green
        out.push_back(static_cast<unsigned char>(c >> 16)); // red
        out.push_back(0);
    }
    for (std::uint32_t fileRow = 0; fileRow < rows; ++fileRow) {
        const std::uint32_t y = image.height > 0 ? rows - 1 - fileRow : fileRow;
        Bytes line(lineLen, 0);
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.pixels.at(y * image.width + x);
            if (image.bits == 24) {
                line[3 * x] = static_cast<unsigned char>(p);
                line[3 * x + 1] = static_cast<unsigned char>(p >> 8);
                line[3 * x + 2] = static_cast<unsigned char>(p >> 16);
            } else {
                const std::size_t bit = static_cast<std::size_t>(x) * image.bits;
                line[bit / 8] |= static_cast<unsigned char>(p << (8 - image.bits - bit % 8));
            }
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

} // namespace ImageFiles
