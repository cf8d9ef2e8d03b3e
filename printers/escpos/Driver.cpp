// EscPos::Driver: styles, text layout, images, QR codes and barcodes as ESC/POS bytes.
#include "printers/escpos/Driver.h"

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <utility>

#include <qrcodegen/qrcodegen.hpp>

#include "Helpers.h"
#include "String.h"

namespace zelvo::PrinterManager::Printers::Protocol::EscPos {

namespace {

constexpr unsigned char Esc = 0x1B;
constexpr unsigned char Gs = 0x1D;
constexpr unsigned char Lf = 0x0A;

constexpr unsigned long BandRows = 24;         // rows of one ESC * 33 bit-image band
constexpr unsigned char BitImage24Dots = 0x21; // ESC * mode 33: 24-dot double density
constexpr unsigned long QrDotsPerModule = 4;   // each QR module prints as 4 x 4 dots

constexpr unsigned char CutFull = 0x30;
constexpr unsigned char CutPartial = 0x31;

constexpr unsigned char BarcodeHriFontA = 0x00;
constexpr unsigned char BarcodeHeightDots = 162;
constexpr unsigned char BarcodeModuleWidth = 2;

// GS k m: the symbology byte for each barcode type; any other type sends 0.
unsigned char barcodeSystem(Types::Barcode::Type type) {
    switch (type) {
    case Types::Barcode::UPCA:
        return 65;
    case Types::Barcode::UPCE:
        return 66;
    case Types::Barcode::JAN13:
        return 67;
    case Types::Barcode::JAN8:
        return 68;
    case Types::Barcode::CODE39:
        return 69;
    case Types::Barcode::ITF:
        return 70;
    case Types::Barcode::CODABAR:
        return 71;
    case Types::Barcode::CODE93:
        return 72;
    case Types::Barcode::CODE128:
        return 73;
    case Types::Barcode::CODE32:
        return 90;
    }
    return 0;
}

// GS H n: where the readable digits go; any other value prints none.
unsigned char barcodeHri(Types::Barcode::HRI hri) {
    switch (hri) {
    case Types::Barcode::None:
    case Types::Barcode::Over:
    case Types::Barcode::Under:
    case Types::Barcode::Both:
        return static_cast<unsigned char>(hri);
    }
    return 0;
}

qrcodegen::QrCode::Ecc qrEcc(Types::QrCode::ErrorCorrection level) {
    switch (level) {
    case Types::QrCode::Low:
        return qrcodegen::QrCode::Ecc::LOW;
    case Types::QrCode::Medium:
        return qrcodegen::QrCode::Ecc::MEDIUM;
    case Types::QrCode::Quartile:
        return qrcodegen::QrCode::Ecc::QUARTILE;
    case Types::QrCode::High:
        return qrcodegen::QrCode::Ecc::HIGH;
    }
    return qrcodegen::QrCode::Ecc::MEDIUM;
}

unsigned long roundUp(unsigned long value, unsigned long step) {
    return (value + step - 1) / step * step;
}

} // namespace

Driver::Driver(unsigned long bufferSize, unsigned long fontADots, unsigned long fontBDots,
               unsigned long maxDots)
    : mBufferSize(bufferSize), mFontADots(fontADots), mFontBDots(fontBDots), mMaxDots(maxDots) {
    mBuffer.reserve(bufferSize);
}

Driver::~Driver() = default;

void Driver::write(unsigned char byte) {
    mBuffer.push_back(byte);
    if (mBuffer.size() == mBufferSize)
        transmit();
}

// ESC @ brings the printer to its power-on state, which prints upright; ESC { 1 then matches the
// default style's upside-down printing.
void Driver::setDefaults() {
    log(Log::Debug, "Setting defaults...");
    mStyle.setDefaults();
    write(Esc);
    write('@');
    transmit();
    write(Esc);
    write('{');
    write(1);
    transmit();
    log(Log::Debug, "Set defaults.");
}

void Driver::verify() {
    throw std::invalid_argument("Operation not supported.");
}

std::string Driver::getSerialNumber() const {
    return "";
}

// mStyle mirrors what the printer was last told, so only the differences go out.
void Driver::setStyle(const Types::Style& style) {
    log(Log::Debug, "Setting style...");
    if (style.getType() != mStyle.getType()) {
        write(Esc);
        write('M');
        write(style.getType() == Types::Style::FontB ? 1 : 0);
    }
    if (style.getSpace() != mStyle.getSpace()) {
        write(Esc);
        write(' ');
        write(static_cast<unsigned char>(style.getSpace()));
    }
    if (style.getSize() != mStyle.getSize()) {
        // Width magnification in the high nibble, height in the low one: size s prints s + 1
        // times as wide and as high.
        write(Gs);
        write('!');
        write(static_cast<unsigned char>((style.getSize() << 4) | style.getSize()));
    }
    if (style.getAlign() != mStyle.getAlign()) {
        write(Esc);
        write('a');
        const Types::Style::Align align = style.getAlign();
        write(align == Types::Style::Center ? 1 : align == Types::Style::Right ? 2 : 0);
    }
    if (style.getBold() != mStyle.getBold()) {
        write(Esc);
        write('E');
        write(style.getBold() ? 1 : 0);
    }
    if (style.getUnderlined() != mStyle.getUnderlined()) {
        write(Esc);
        write('-');
        write(style.getUnderlined() ? 1 : 0);
    }
    if (style.getReverse() != mStyle.getReverse()) {
        write(Esc);
        write('{');
        write(style.getReverse() ? 1 : 0);
    }
    mStyle = style;
    if (!mBuffer.empty())
        transmit();
    log(Log::Debug, "Set style.");
}

Types::Style Driver::getStyle() {
    return mStyle;
}

void Driver::feed(unsigned long lines) {
    log(Log::Debug, "Feeding %lu lines...", lines);
    write(Esc);
    write('d');
    write(static_cast<unsigned char>(lines % 256));
    transmit();
    log(Log::Debug, "Fed %lu lines.", lines);
}

void Driver::cut(bool full) {
    log(Log::Debug, "Cutting paper...");
    write(Gs);
    write('V');
    write(full ? CutFull : CutPartial);
    transmit();
    log(Log::Debug, "Cut paper.");
}

// Every byte counts as one character cell, control bytes included: the text is already in the
// printer's code page and the base knows nothing about its encoding. A line is closed when the
// next character would pass the printable width. The printer rotates each line on its own when
// printing upside down, so the lines then go out last first.
void Driver::printString(const std::string& text) {
    log(Log::Debug, "Printing: String");
    const unsigned long dots = calculateCharDots();

    // Line boundaries as offsets into `text`; the lines themselves are never copied.
    std::vector<std::pair<size_t, size_t>> lines; // {first byte, length}
    if (dots == 0)
        lines.reserve(1);
    else if (dots <= mMaxDots)
        lines.reserve(text.size() / (mMaxDots / dots) + 1);
    else
        lines.reserve(text.size() + 1); // an empty first line, then one character per line
    lines.emplace_back(0, 0);
    unsigned long width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        width += dots;
        if (width > mMaxDots) {
            lines.emplace_back(i, 0);
            width = dots;
        }
        ++lines.back().second;
    }

    const std::string_view view(text);
    auto send = [&](const std::pair<size_t, size_t>& line) {
        for (char c : view.substr(line.first, line.second))
            write(static_cast<unsigned char>(c));
        write(Lf);
        transmit();
    };
    if (mStyle.getReverse()) {
        for (auto it = lines.rbegin(); it != lines.rend(); ++it)
            send(*it);
    } else {
        for (const auto& line : lines)
            send(line);
    }
    log(Log::Debug, "Printed: String");
}

void Driver::printLine(const std::string& bytes) {
    for (char c : bytes)
        write(static_cast<unsigned char>(c));
    write(Lf);
    transmit();
}

void Driver::printHex(const std::string& text) {
    const std::vector<unsigned char> bytes = Helpers::hexToBytes(text);
    const std::string data(bytes.begin(), bytes.end());
    log(Log::Debug, "Converting HEX (%s -> %s)", text.c_str(), data.c_str());
    printString(data);
}

void Driver::printBarcode(const Types::Barcode& barcode) {
    log(Log::Debug, "Printing: Barcode (code: %s)", barcode.code().c_str());
    write(Gs);
    write('H');
    write(barcodeHri(barcode.hri()));
    write(Gs);
    write('f');
    write(BarcodeHriFontA);
    write(Gs);
    write('h');
    write(BarcodeHeightDots);
    write(Gs);
    write('w');
    write(BarcodeModuleWidth);
    write(Gs);
    write('k');
    write(barcodeSystem(barcode.type()));
    write(static_cast<unsigned char>(barcode.code().size() % 256));
    for (char c : barcode.code())
        write(static_cast<unsigned char>(c));
    write(0x00);
    transmit();
    log(Log::Debug, "Printed: Barcode");
}

// The symbol is drawn straight into the packed raster: each module is 4 x 4 dots, so one module
// row is one nibble per module in a single dot row, copied into the three rows below it. The
// width is padded to whole bytes and the height to whole 24-row bands with white; no quiet zone
// is added (the paper margin serves as one).
void Driver::printQR(const Types::QrCode& qr) {
    const qrcodegen::QrCode symbol = [&] {
        try {
            return qrcodegen::QrCode::encodeText(qr.code().c_str(), qrEcc(qr.errorCorrection()));
        } catch (const qrcodegen::data_too_long&) {
            throw std::invalid_argument("QR code data too long");
        }
    }();

    const auto modules = static_cast<unsigned long>(symbol.getSize());
    const unsigned long dots = modules * QrDotsPerModule; // a multiple of 4
    const unsigned long width = roundUp(dots, 8);
    const unsigned long height = roundUp(dots, BandRows);
    const unsigned long rowBytes = width / 8;

    std::vector<unsigned char> image(rowBytes * height, 0x00);
    for (unsigned long my = 0; my < modules; ++my) {
        unsigned char* row = image.data() + my * QrDotsPerModule * rowBytes;
        for (unsigned long mx = 0; mx < modules; ++mx) {
            if (symbol.getModule(static_cast<int>(mx), static_cast<int>(my)))
                row[mx / 2] |= (mx % 2 == 0) ? 0xF0 : 0x0F;
        }
        for (unsigned long copy = 1; copy < QrDotsPerModule; ++copy)
            std::memcpy(row + copy * rowBytes, row, rowBytes);
    }
    printImgBuffer(image, width, height);
}

// The image goes out in bands of 24 rows, each an ESC * bit image; line spacing 24 dots makes
// the bands meet without a gap. The height is padded with white rows to whole bands: the
// source rows are used in place and only an image whose height is not a multiple of 24 is
// copied once, to add the padding. Upside down, the printer rotates each band on its own, so
// the bands go out bottom first.
void Driver::printImgBuffer(const std::vector<unsigned char>& bits, unsigned long width,
                            unsigned long height) {
    log(Log::Debug, "Printing: Image buffer (width: %lu, height: %lu, length: %zu)...", width,
        height, bits.size());
    // Rejected before anything is sent, so the printer is never left in bit-image line spacing
    // by a request that could not have printed.
    if (width == 0 || height == 0)
        throw std::out_of_range("Image size must not be zero");
    const unsigned long rowBytes = width / 8;
    if (rowBytes != 0 && height > bits.size() / rowBytes)
        throw std::out_of_range(String::format("Image buffer too short: %zu bytes for %lu x %lu",
                                               bits.size(), width, height));

    write(Esc);
    write('3');
    write(BandRows);
    transmit();

    const unsigned long paddedHeight = roundUp(height, BandRows);
    std::vector<unsigned char> padded;
    const unsigned char* image = bits.data();
    if (paddedHeight != height) {
        padded.reserve(rowBytes * paddedHeight);
        padded.assign(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(rowBytes * height));
        padded.resize(rowBytes * paddedHeight, 0x00);
        image = padded.data();
    }

    const unsigned long bandBytes = rowBytes * BandRows;
    const unsigned long bands = paddedHeight / BandRows;
    for (unsigned long b = 0; b < bands; ++b) {
        const unsigned long band = mStyle.getReverse() ? bands - 1 - b : b;
        log(Log::Debug, "Printing: Image buffer (part[%lu], height: %lu)...", b, BandRows);
        printImgBufferPart(image + band * bandBytes, width, BandRows);
    }

    write(Esc);
    write('2');
    write(Esc);
    write('d');
    write(0);
    transmit();
}

// ESC * sends the image column by column, each column top dot first, eight dots per byte.
void Driver::printImgBufferPart(const unsigned char* bits, unsigned long width,
                                unsigned long height) {
    log(Log::Debug, "Printing: Image buffer part (width: %lu, height: %lu)...", width, height);
    if (width % 8 != 0)
        throw std::out_of_range("Image width must be multiple of 8");
    if (height % BandRows != 0)
        throw std::out_of_range("Image height must be multiple of 24");
    if (width > mMaxDots)
        throw std::out_of_range("Width can not be larger than " + std::to_string(mMaxDots));

    write(Esc);
    write('*');
    write(BitImage24Dots);
    write(static_cast<unsigned char>(width & 0xFF));
    write(static_cast<unsigned char>((width >> 8) & 0xFF));

    const unsigned long rowBytes = width / 8;
    for (unsigned long x = 0; x < width; ++x) {
        const unsigned char* column = bits + x / 8;
        const unsigned char mask = static_cast<unsigned char>(0x80 >> (x % 8));
        // height is a multiple of 24, so every column ends on a whole byte.
        for (unsigned long y = 0; y < height; y += 8) {
            unsigned char packed = 0;
            for (unsigned long bit = 0; bit < 8; ++bit) {
                packed = static_cast<unsigned char>(packed << 1);
                if (column[(y + bit) * rowBytes] & mask)
                    packed |= 1;
            }
            write(packed);
        }
    }

    write(Esc);
    write('d');
    write(0);
    transmit();
}

unsigned long Driver::calculateCharDots() const {
    unsigned long cell = 0;
    if (mStyle.getType() == Types::Style::FontA)
        cell = mFontADots;
    else if (mStyle.getType() == Types::Style::FontB)
        cell = mFontBDots;
    return (cell + mStyle.getSpace()) * (mStyle.getSize() + 1);
}

void Driver::log(Log::Level level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Log::vprintTagged(level, "[EscPos::Driver] ", format, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager::Printers::Protocol::EscPos
