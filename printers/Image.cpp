// Image: PNG (through libpng), BMP (bmpread) and raw raster files to 1-bit rasters.
#include "Image.h"

#include "Log.h"

#include <png.h>

#include <sys/types.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zelvo::PrinterManager::Printers {

namespace {

void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[Image] ", fmt, args);
    va_end(args);
}

// The bytes of one raster row, ceil(width / 8), and of the whole raster; false when a size is
// not above 0 or the raster would exceed ImageMaxRasterBytes. No arithmetic here can overflow.
bool rasterSize(long long width, long long height, std::size_t* rowBytes, std::size_t* total) {
    if (width <= 0 || height <= 0)
        return false;
    const unsigned long long row = (static_cast<unsigned long long>(width) + 7) / 8;
    if (static_cast<unsigned long long>(height) > ImageMaxRasterBytes / row)
        return false;
    *rowBytes = static_cast<std::size_t>(row);
    *total = static_cast<std::size_t>(row * static_cast<unsigned long long>(height));
    return true;
}

inline void setDot(unsigned char* row, std::size_t x) {
    row[x / 8] = static_cast<unsigned char>(row[x / 8] | (0x80u >> (x % 8)));
}

// ---------------------------------------------------------------------------------------------
// Raw rasters.

// The decimal number at `text`, read like strtol in base 10 (0 when there are no digits);
// values beyond the range of long long saturate, which the size checks then reject.
long long decimalAt(const char* text) {
    return std::strtoll(text, nullptr, 10);
}

int openRaw(const char* path, Image* out) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return -1;
    const char* underscore = std::strrchr(path, '_');
    const char* x = std::strrchr(path, 'x');
    if (!underscore || !x) {
        std::fclose(file);
        log(Log::Warning, "Raw file name '%s' without \"_\" or \"x\"", path);
        return -2;
    }
    const long long width = decimalAt(underscore + 1);
    const long long height = decimalAt(x + 1);
    if (width <= 0 || height <= 0) {
        std::fclose(file);
        log(Log::Warning, "Raw file '%s': size %lld x %lld", path, width, height);
        return -2;
    }
    std::size_t rowBytes = 0;
    std::size_t total = 0;
    if (!rasterSize(width, height, &rowBytes, &total)) {
        std::fclose(file);
        log(Log::Warning, "Raw file '%s': %lld x %lld exceeds %zu bytes", path, width, height,
            ImageMaxRasterBytes);
        return -3;
    }
    auto* data = static_cast<unsigned char*>(std::malloc(total));
    if (!data) {
        std::fclose(file);
        return -3;
    }
    // Only the raster is read: a longer file's surplus is never loaded.
    const std::size_t read = std::fread(data, 1, total, file);
    std::fclose(file);
    if (read != total) {
        std::free(data);
        log(Log::Warning, "Raw file '%s': %zu bytes, %lld x %lld needs %zu", path, read, width,
            height, total);
        return -4;
    }
    if (width % 8 != 0) {
        const auto keep = static_cast<unsigned char>(0xFFu << (8 - width % 8));
        for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
            data[y * rowBytes + rowBytes - 1] &= keep;
    }
    out->width = static_cast<std::int32_t>(width);
    out->height = static_cast<std::int32_t>(height);
    out->format = 1;
    out->data = data;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// PNG through libpng.

// Everything the PNG decoding owns; trivially destructible, so it may be reached by longjmp.
// The caller releases it on every path.
struct PngRead {
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    unsigned char* raster = nullptr; // malloc, handed to the Image on success
    unsigned char* row = nullptr;    // malloc, one decoded row
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    char message[160] = "";
    char warning[160] = ""; // the last warning (libpng explains some errors only in warnings)
};

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    if (read)
        std::snprintf(read->message, sizeof read->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp message) {
    auto* read = static_cast<PngRead*>(png_get_error_ptr(png));
    if (read)
        std::snprintf(read->warning, sizeof read->warning, "%s", message ? message : "");
}

// Composites an 8-bit value with 8-bit alpha over white paper.
inline unsigned overWhite(unsigned value, unsigned alpha) {
    return (value * alpha + 255u * (255u - alpha) + 127u) / 255u;
}

inline unsigned luma(unsigned r, unsigned g, unsigned b) {
    return static_cast<unsigned>(0.2126 * r + 0.7152 * g + 0.0722 * b + 0.5);
}

// One decoded row (8 bits per sample, 1 to 4 channels) to raster dots.
void convertRow(const unsigned char* row, png_uint_32 width, int channels, unsigned char* out) {
    for (png_uint_32 x = 0; x < width; ++x) {
        const unsigned char* p = row + static_cast<std::size_t>(x) * channels;
        unsigned grey = 255;
        switch (channels) {
        case 1:
            grey = p[0];
            break;
        case 2:
            grey = overWhite(p[0], p[1]);
            break;
        case 3:
            grey = luma(p[0], p[1], p[2]);
            break;
        default:
            grey = luma(overWhite(p[0], p[3]), overWhite(p[1], p[3]), overWhite(p[2], p[3]));
            break;
        }
        if (grey < 128)
            setDot(out, x);
    }
}

// The part that may longjmp: only trivially destructible locals, and nothing read after the
// jump but `read` (an unchanged parameter) and the memory it points to.
int decodePng(PngRead* read) {
    if (setjmp(png_jmpbuf(read->png)))
        return -2;

    png_structp png = read->png;
    png_infop info = read->info;
    png_init_io(png, read->file);
    // Every row needs at least one raster byte, so the cap bounds the height too.
    png_set_user_limits(png, ImageMaxPngWidth, static_cast<png_uint_32>(ImageMaxRasterBytes));
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, 8u * 1024u * 1024u);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colour = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    bool accepted = false;
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
        accepted = depth <= 8;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        accepted = depth == 8;
        break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        accepted = depth == 8 || depth == 16;
        break;
    default: // palette
        break;
    }
    if (!accepted) {
        std::snprintf(read->message, sizeof read->message,
                      "colour type %d with bit depth %d not supported", colour, depth);
        return -2;
    }
    if (interlace != PNG_INTERLACE_NONE) {
        std::snprintf(read->message, sizeof read->message, "interlaced");
        return -2;
    }
    std::size_t rowBytes = 0;
    std::size_t total = 0;
    if (!rasterSize(width, height, &rowBytes, &total)) {
        std::snprintf(read->message, sizeof read->message, "%lu x %lu exceeds %zu bytes",
                      static_cast<unsigned long>(width), static_cast<unsigned long>(height),
                      ImageMaxRasterBytes);
        return -2;
    }

    // Decoded rows: 8 bits per sample, grey, grey + alpha, RGB or RGBA.
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_scale_16(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t decodedRowBytes = png_get_rowbytes(png, info);
    if (png_get_bit_depth(png, info) != 8 || channels < 1 || channels > 4 ||
        decodedRowBytes < static_cast<std::size_t>(width) * static_cast<std::size_t>(channels)) {
        std::snprintf(read->message, sizeof read->message, "unexpected decoded layout");
        return -2;
    }

    read->raster = static_cast<unsigned char*>(std::calloc(total, 1));
    read->row = static_cast<unsigned char*>(std::malloc(decodedRowBytes));
    if (!read->raster || !read->row) {
        std::snprintf(read->message, sizeof read->message, "no memory");
        return -2;
    }
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, read->row, nullptr);
        convertRow(read->row, width, channels,
                   read->raster + static_cast<std::size_t>(y) * rowBytes);
    }
    // The rest of the stream (end of the compressed data, trailing chunks, IEND) must be sound.
    png_read_end(png, nullptr);
    read->width = width;
    read->height = height;
    return 0;
}

int openPng(const char* path, Image* out) {
    PngRead read;
    read.file = std::fopen(path, "rb");
    if (!read.file) {
        log(Log::Warning, "PNG file '%s' cannot be opened", path);
        return -2;
    }
    unsigned char head[29];
    if (std::fread(head, 1, sizeof head, read.file) != sizeof head ||
        png_sig_cmp(head, 0, 8) != 0 || std::fseek(read.file, 0, SEEK_SET) != 0) {
        std::fclose(read.file);
        log(Log::Warning, "PNG file '%s': too short or no PNG signature", path);
        return -2;
    }
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, pngError, pngWarning);
    if (read.png)
        read.info = png_create_info_struct(read.png);
    if (!read.png || !read.info) {
        png_destroy_read_struct(read.png ? &read.png : nullptr, nullptr, nullptr);
        std::fclose(read.file);
        return -1;
    }

    const int result = decodePng(&read);

    png_destroy_read_struct(&read.png, &read.info, nullptr);
    std::fclose(read.file);
    std::free(read.row);
    if (result != 0) {
        std::free(read.raster);
        log(Log::Warning, "PNG file '%s' rejected: %s%s%s%s", path, read.message,
            read.warning[0] ? " (" : "", read.warning, read.warning[0] ? ")" : "");
        return result;
    }
    out->width = static_cast<std::int32_t>(read.width);
    out->height = static_cast<std::int32_t>(read.height);
    out->format = 1;
    out->data = read.raster;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// BMP.

int openBmp(const char* path, Image* out) {
    bmpread_t bmp;
    if (!bmpread(path, BMPREAD_ANY_SIZE, &bmp))
        return -1;
    std::size_t rowBytes = 0;
    std::size_t total = 0;
    // The reader's own cap (on its 24-bit output) is the stricter one; checked anyway.
    if (!rasterSize(bmp.width, bmp.height, &rowBytes, &total)) {
        bmpread_free(&bmp);
        return -1;
    }
    auto* raster = static_cast<unsigned char*>(std::calloc(total, 1));
    if (!raster) {
        bmpread_free(&bmp);
        return -1;
    }
    const std::size_t width = static_cast<std::size_t>(bmp.width);
    const std::size_t stride = (3 * width + 3) / 4 * 4;
    for (std::size_t y = 0; y < static_cast<std::size_t>(bmp.height); ++y) {
        const unsigned char* pixels = bmp.data + y * stride;
        unsigned char* row = raster + y * rowBytes;
        for (std::size_t x = 0; x < width; ++x)
            if (pixels[3 * x] < 128)
                setDot(row, x);
    }
    out->width = bmp.width;
    out->height = bmp.height;
    out->format = static_cast<std::int32_t>(bmp.flags);
    out->data = raster;
    bmpread_free(&bmp);
    return 0;
}

inline std::uint32_t le16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
inline std::uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}

int bmpFail(const char* check) {
    std::puts(check);
    std::fflush(stdout);
    return 0;
}

bool seekTo(std::FILE* file, unsigned long long offset) {
    if (offset > static_cast<unsigned long long>(std::numeric_limits<off_t>::max()))
        return false;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

constexpr std::size_t BmpFileHeaderBytes = 14;
constexpr std::size_t BmpInfoHeaderBytes = 40; // the BITMAPINFOHEADER fields read

bool isPowerOfTwo(unsigned long long v) {
    return v != 0 && (v & (v - 1)) == 0;
}

int bmpreadFile(std::FILE* file, unsigned int flags, bmpread_t* out) {
    unsigned char header[BmpFileHeaderBytes + BmpInfoHeaderBytes];
    const std::size_t got = std::fread(header, 1, sizeof header, file);
    if (got < 1 || header[0] != 'B')
        return bmpFail("b eroor");
    if (got < 2 || header[1] != 'M')
        return bmpFail("m eroor");
    if (got < sizeof header)
        return bmpFail("validate eroor");

    const std::uint32_t dataOffset = le32(header + 10);
    const std::uint32_t infoSize = le32(header + 14);
    const auto width = static_cast<std::int32_t>(le32(header + 18));
    const auto height = static_cast<std::int32_t>(le32(header + 22));
    const std::uint32_t bits = le16(header + 28);
    const std::uint32_t compression = le32(header + 30);

    if (width <= 0 || height == 0)
        return bmpFail("w/h eroor");
    if (compression != 0)
        return bmpFail("comp eroor");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return bmpFail("info.bits eroor");
    const unsigned long long fileLineLen =
        (static_cast<unsigned long long>(width) * bits + 31) / 32 * 4;
    if (fileLineLen == 0)
        return bmpFail("file_line_len eroor");

    // Validate: a complete information header, the sizes, the palette.
    const unsigned long long rows =
        height < 0 ? static_cast<unsigned long long>(-static_cast<long long>(height))
                   : static_cast<unsigned long long>(height);
    if (infoSize < BmpInfoHeaderBytes)
        return bmpFail("validate eroor");
    if (!(flags & BMPREAD_ANY_SIZE) &&
        (!isPowerOfTwo(static_cast<unsigned long long>(width)) || !isPowerOfTwo(rows)))
        return bmpFail("validate eroor");
    unsigned long long outLineLen = 3ull * static_cast<unsigned long long>(width);
    if (!(flags & BMPREAD_BYTE_ALIGN))
        outLineLen = (outLineLen + 3) / 4 * 4;
    if (rows > ImageMaxRasterBytes / outLineLen)
        return bmpFail("validate eroor");
    unsigned char palette[256 * 4];
    if (bits <= 8) {
        const std::size_t paletteBytes = (std::size_t{1} << bits) * 4;
        if (!seekTo(file, BmpFileHeaderBytes + static_cast<unsigned long long>(infoSize)) ||
            std::fread(palette, 1, paletteBytes, file) != paletteBytes)
            return bmpFail("validate eroor");
    }

    // Decode: every row of pixel data must be there.
    if (fseeko(file, 0, SEEK_END) != 0)
        return bmpFail("decode eroor");
    const off_t fileSize = ftello(file);
    const unsigned long long dataEnd = dataOffset + fileLineLen * rows; // no overflow: capped
    if (fileSize < 0 || dataEnd > static_cast<unsigned long long>(fileSize) ||
        !seekTo(file, dataOffset))
        return bmpFail("decode eroor");
    const std::size_t outBytes = static_cast<std::size_t>(outLineLen * rows);
    auto* data = static_cast<unsigned char*>(std::calloc(outBytes, 1));
    auto* line = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(fileLineLen)));
    if (!data || !line) {
        std::free(data);
        std::free(line);
        return bmpFail("decode eroor");
    }
    const auto pixels = static_cast<std::size_t>(width);
    for (unsigned long long fileRow = 0; fileRow < rows; ++fileRow) {
        if (std::fread(line, 1, static_cast<std::size_t>(fileLineLen), file) != fileLineLen) {
            std::free(data);
            std::free(line);
            return bmpFail("decode eroor");
        }
        // Rows counted from the bottom of the image: a positive height is stored bottom-up.
        const unsigned long long fromBottom = height > 0 ? fileRow : rows - 1 - fileRow;
        const unsigned long long outRow =
            (flags & BMPREAD_TOP_DOWN) ? rows - 1 - fromBottom : fromBottom;
        unsigned char* rgb = data + outRow * outLineLen;
        for (std::size_t x = 0; x < pixels; ++x) {
            const unsigned char* bgr = nullptr;
            if (bits == 24) {
                bgr = line + 3 * x;
            } else {
                const std::size_t bit = x * bits;
                const unsigned index =
                    (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1u);
                bgr = palette + 4 * index;
            }
            rgb[3 * x] = bgr[2];
            rgb[3 * x + 1] = bgr[1];
            rgb[3 * x + 2] = bgr[0];
        }
    }
    std::free(line);
    out->width = width;
    out->height = static_cast<int>(rows);
    out->flags = flags;
    out->data = data;
    return 1;
}

} // namespace

int bmpread(const char* path, unsigned int flags, bmpread_t* out) {
    if (!out)
        return 0;
    *out = bmpread_t{};
    if (!path)
        return 0;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return 0;
    const int result = bmpreadFile(file, flags, out);
    std::fclose(file);
    return result;
}

void bmpread_free(bmpread_t* bmp) {
    if (!bmp)
        return;
    std::free(bmp->data);
    *bmp = bmpread_t{};
}

int Image_open(const char* path, Image* out) {
    if (!out)
        return -1;
    *out = Image{};
    if (!path)
        return -1;
    const char* dot = std::strrchr(path, '.');
    if (!dot)
        return -1;
    const char* extension = dot + 1;
    if (std::strstr(extension, "bin"))
        return openRaw(path, out);
    if (std::strstr(extension, "png"))
        return openPng(path, out);
    if (std::strstr(extension, "bmp"))
        return openBmp(path, out);
    return -1;
}

void Image_close(Image* image) {
    if (!image)
        return;
    std::free(image->data);
    image->data = nullptr;
    image->width = 0;
    image->height = 0;
}

} // namespace zelvo::PrinterManager::Printers
