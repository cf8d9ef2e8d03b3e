// Image: the image front end. Turns a PNG file, a BMP file or a raw raster file into
// a 1-bit raster (1 = black dot) for Driver::printImgBuffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvo::PrinterManager::Printers {

// The largest raster the front end builds: ceil(width / 8) x height bytes. Larger images (and
// BMP files whose decoded pixels would exceed it) are rejected before anything is allocated.
inline constexpr std::size_t ImageMaxRasterBytes = 64u * 1024u * 1024u;
// The widest PNG accepted (libpng's user limit; bounds libpng's row buffers).
inline constexpr std::uint32_t ImageMaxPngWidth = 1000000;

// The front end's record, filled by Image_open and released by Image_close.
struct Image {
    std::int32_t width = 0;        // dots per row
    std::int32_t height = 0;       // rows
    std::int32_t format = 0;       // 1 for raw and PNG sources, the BMP reader's flags for BMP
    unsigned char* data = nullptr; // row after row, each row ceil(width / 8) bytes, MSB leftmost,
                                   // 1 = black, the bits beyond the width 0; owned (malloc)
};

// Loads `path` into `out` (which is reset first, so Image_close is safe after a failure).
// The source type is chosen from the text after the last "." of the path: containing "bin" is a
// raw raster named <...>_<width>x<height>, else "png" a PNG, else "bmp" a BMP (case-sensitive).
// Returns 0, or:
//   -1  no "." / extension not recognised / raw file cannot be opened / PNG decoder cannot be
//       created / BMP file rejected by the reader
//   -2  raw file name without "_" or "x", or with a width or height not above 0; PNG file
//       rejected (also when it cannot be opened, or its raster would exceed the cap)
//   -3  no memory for a raw file's contents, or its raster would exceed ImageMaxRasterBytes
//   -4  a raw file shorter than its raster, ceil(width / 8) x height bytes
// Only the raster's bytes are read from a raw file; the padding bits of each row are cleared.
int Image_open(const char* path, Image* out);

// Frees the data, sets width and height to 0 and the data pointer to null.
void Image_close(Image* image);

// The BMP reader. Flags of bmpread:
inline constexpr unsigned int BMPREAD_TOP_DOWN = 1u;   // deliver the top row first
inline constexpr unsigned int BMPREAD_BYTE_ALIGN = 2u; // rows not filled up to 4-byte groups
inline constexpr unsigned int BMPREAD_ANY_SIZE = 4u;   // allow sizes that are not powers of two

// What bmpread delivers: width x height pixels as R, G, B bytes; each row filled up with zero
// bytes to a multiple of 4 bytes (unless BMPREAD_BYTE_ALIGN); the bottom image row first
// (unless BMPREAD_TOP_DOWN), whether the file is stored bottom-up or top-down.
struct bmpread_t {
    int width = 0;
    int height = 0;         // always above 0
    unsigned int flags = 0; // the flags the file was read with
    unsigned char* data = nullptr;
};

// Reads an uncompressed 1, 4, 8 or 24-bit BMP file. Returns 1 on success, 0 on rejection (with
// one line on standard output naming the failed check: "b eroor", "m eroor", "w/h eroor",
// "comp eroor", "info.bits eroor", "file_line_len eroor", "validate eroor", "decode eroor";
// a file that cannot be opened prints nothing). Decoded data above ImageMaxRasterBytes is
// rejected ("validate eroor"). `out` is reset first.
int bmpread(const char* path, unsigned int flags, bmpread_t* out);
// Frees the data and resets the record.
void bmpread_free(bmpread_t* bmp);

} // namespace zelvo::PrinterManager::Printers
