// EscPos::Driver: the ESC/POS base every printer model driver derives from.
#pragma once

#include <string>
#include <vector>

#include "Log.h"
#include "printers/Driver.h"

namespace zelvo::PrinterManager::Printers::Protocol::EscPos {

// Turns print requests into ESC/POS bytes in a transmit buffer and calls the model's transmit()
// whenever bytes must reach the printer. Owns no device and takes no lock: callers serialise
// every call (the printer manager's driver lock).
//
// Contract with the model: transmit() sends every byte of mBuffer, in order, and leaves mBuffer
// empty. It is also called from write() when the buffer fills, so one command may be split
// across two transmissions. Exceptions thrown by transmit() propagate unchanged.
//
// While the style's reverse (upside-down) attribute is on, text lines and image bands are sent
// last first, so that the receipt reads correctly.
class Driver : public Printers::Driver {
public:
    // Geometry of the model: transmit threshold in bytes (0 reserves nothing), the width of one
    // font A and one font B character cell in dots, and the printable width in dots.
    Driver(unsigned long bufferSize, unsigned long fontADots, unsigned long fontBDots,
           unsigned long maxDots);
    ~Driver() override;

    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // Default style, then ESC @ and ESC { 1, each transmitted on its own.
    void setDefaults() override;
    // Throws std::invalid_argument "Operation not supported.".
    void verify() override;
    // "" (models that can read a serial number override it).
    std::string getSerialNumber() const override;

    // Sends only the attributes that differ from the current style, then transmits (nothing at
    // all for an unchanged style).
    void setStyle(const Types::Style& style) override;
    Types::Style getStyle() override;
    // GS V 0x30 (full) or 0x31 (partial), transmitted.
    void cut(bool full) override;
    // ESC d (lines modulo 256), transmitted.
    void feed(unsigned long lines) override;
    // Lays the code-page bytes out into lines of at most mMaxDots dots (every byte counts as one
    // character); each line ends with LF and is transmitted on its own. Empty input: one LF.
    void printString(const std::string& text) override;
    // Hex digit pairs to bytes (an odd length gets a leading "0"), then printString.
    void printHex(const std::string& text) override;
    // Renders the code as a raster (4 x 4 dots per module) and hands it to printImgBuffer.
    // Throws std::invalid_argument "QR code data too long" when no QR version holds the text;
    // nothing is sent then.
    void printQR(const Types::QrCode& qr) override;
    // Prints the raster in bands of 24 rows. Throws std::out_of_range, before anything is
    // appended or sent, when the width or height is 0 ("Image size must not be zero") or the
    // buffer holds fewer than (width / 8) x height bytes ("Image buffer too short: ..."). The
    // band checks of printImgBufferPart fire after ESC 3 24 has been transmitted.
    void printImgBuffer(const std::vector<unsigned char>& bits, unsigned long width,
                        unsigned long height) override;
    // HRI position, font A, height 162, module width 2, GS k, length, code, 0x00; transmitted.
    void printBarcode(const Types::Barcode& barcode) override;

protected:
    // Appends one byte; transmits when the buffer then holds exactly mBufferSize bytes.
    void write(unsigned char byte);
    // Appends the bytes unchanged, then LF, then transmits. No layout, no reverse ordering.
    void printLine(const std::string& bytes);
    // Prints one band as an ESC * 33 bit image followed by ESC d 0, transmitted. Throws
    // std::out_of_range "Image width must be multiple of 8", "Image height must be multiple of
    // 24" or "Width can not be larger than <mMaxDots>", in that order, before appending.
    // `bits` must hold (width / 8) x height bytes.
    void printImgBufferPart(const unsigned char* bits, unsigned long width, unsigned long height);
    // Width in dots of one character in the current style: (cell + space) x (size + 1).
    unsigned long calculateCharDots() const;
    // "[EscPos::Driver] " + the message, handed to Log.
    void log(Log::Level level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    Types::Style mStyle;                // the style the printer is currently set to
    std::vector<unsigned char> mBuffer; // the transmit buffer
    unsigned long mBufferSize;          // transmit threshold in bytes
    unsigned long mFontADots;           // width of a font A character cell in dots
    unsigned long mFontBDots;           // width of a font B character cell in dots
    unsigned long mMaxDots;             // printable width in dots
};

} // namespace zelvo::PrinterManager::Printers::Protocol::EscPos
