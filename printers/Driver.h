// Printers::Driver: the abstract interface every printer model driver implements.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "types/Barcode.h"
#include "types/QrCode.h"
#include "types/Status.h"
#include "types/Style.h"

namespace zelvo::PrinterManager::Printers {

// Ownership: the printer manager owns the one driver through a std::unique_ptr; only printer
// detection creates drivers, and every driver is constructed from one argument, the device node
// path (`std::string`, by value). The interface has no data members and so no constructor.
//
// Threads: operations 1-6 and 12-22 are called one at a time under the manager's driver lock
// (never concurrently with each other); the identity getters 7-11 may run concurrently with
// anything and must only read data fixed at construction.
//
// Failures are standard exceptions (std::invalid_argument, std::out_of_range,
// std::runtime_error or derived); their text reaches remote clients. An operation a model lacks
// throws std::invalid_argument "Operation not supported.".
class Driver {
public:
    // The result of getConnectionType().
    enum ConnectionType : int32_t { Serial = 0, USB = 1 };

    // Releases the device and ends every thread the driver started.
    virtual ~Driver();

    // 1. Resets the printer; a model without a reset throws "Operation not supported.".
    virtual void reset() = 0;
    // 2. Brings the printer to the driver's default state (default style, configured code page
    //    and font).
    virtual void setDefaults() = 0;
    // 3. A snapshot of the printer state. Lost contact gives active false, never an
    //    exception; called on the status monitor's thread, so it must not block for long.
    virtual Types::Status getStatus() = 0;
    // 4. The model's settings as a JSON object, the "printer" section of the configuration file.
    virtual nlohmann::json getConfig() = 0;
    // 5. Applies a "printer" section (a copy); unknown keys are the model's business.
    virtual void setConfig(nlohmann::json config) = 0;
    // 6. A model-specific check of the printer; the ESC/POS base throws "Operation not supported.".
    virtual void verify() = 0;
    // 7. The model name.
    virtual std::string getModel() const = 0;
    // 8. How the printer is attached: Serial (0) or USB (1).
    virtual ConnectionType getConnectionType() const = 0;
    // 9. The firmware version text.
    virtual std::string getFirmwareVersion() const = 0;
    // 10. The maker name.
    virtual std::string getManufacturer() const = 0;
    // 11. The serial number text (empty when the model has none).
    virtual std::string getSerialNumber() const = 0;
    // 12. Makes `style` the current style.
    virtual void setStyle(const Types::Style& style) = 0;
    // 13. The current style.
    virtual Types::Style getStyle() = 0;
    // 14. Cuts the paper: a full cut when `full`, else a partial cut.
    virtual void cut(bool full) = 0;
    // 15. Feeds `lines` lines.
    virtual void feed(unsigned long lines) = 0;
    // 16. Prints bytes already in the printer's code page, as one or more lines.
    virtual void printString(const std::string& text) = 0;
    // 17. Prints UTF-8 text converted to the printer's code page.
    virtual void printUtf8Line(const std::string& text) = 0;
    // 18. Prints the bytes written as hexadecimal digits in `text`.
    virtual void printHex(const std::string& text) = 0;
    // 19. Prints a QR code.
    virtual void printQR(const Types::QrCode& qr) = 0;
    // 20. Prints a 1-bit raster: row-major, MSB leftmost, 1 = black, rows of width / 8 bytes.
    virtual void printImgBuffer(const std::vector<unsigned char>& bits, unsigned long width,
                                unsigned long height) = 0;
    // 21. Prints a barcode.
    virtual void printBarcode(const Types::Barcode& barcode) = 0;
    // 22. Sends everything buffered so far to the printer.
    virtual void transmit() = 0;
};

} // namespace zelvo::PrinterManager::Printers
