// PrinterManager: lifecycle and the facade that guards every driver call.
#include "PrinterManager.h"

#include "String.h"
#include "printers/Image.h"

#include <cstdarg>
#include <stdexcept>

namespace zelvo::PrinterManager {

PrinterManager::PrinterManager(const std::string& devicePath, const std::string& configFile,
                               DriverFactory factory)
    : mDevicePath(devicePath), mConfigFile(configFile), mFactory(std::move(factory)),
      mStatusTimer(Timer::Periodic, &PrinterManager::statusFunction, this) {}

PrinterManager::~PrinterManager() {
    // The timer is stopped and its worker finished before any member it reaches goes away.
    stop();
}

void PrinterManager::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[PrinterManager] ", fmt, args);
    va_end(args);
}

std::unique_ptr<Printers::Driver> PrinterManager::driverFactory(const std::string& devicePath) {
    if (mFactory)
        return mFactory(devicePath);
    return detectDriver(devicePath);
}

void PrinterManager::replaceDriver(std::unique_ptr<Printers::Driver> driver) {
    std::unique_ptr<Printers::Driver> old;
    {
        std::lock_guard<std::mutex> identity(mIdentityMutex);
        old = std::move(mDriver);
    }
    // The old driver closes its device before a new one opens it.
    old.reset();
    std::lock_guard<std::mutex> identity(mIdentityMutex);
    mDriver = std::move(driver);
}

void PrinterManager::start() {
    std::lock_guard<std::mutex> config(mConfigMutex);
    startLocked();
}

void PrinterManager::startLocked() {
    if (mStarted)
        return;
    log(Log::Info, "Starting...");
    mStarted = true;
    log(Log::Info, "Detecting printer type of '%s'", mDevicePath.c_str());
    {
        std::lock_guard<std::mutex> lock(mDriverMutex);
        mMonitoring = true;
        replaceDriver(nullptr);
        // A printer that cannot be opened or configured now (busy, no permission, not
        // answering) is not an error of start: the status monitor retries detection.
        try {
            replaceDriver(driverFactory(mDevicePath));
            if (mDriver) {
                log(Log::Info, "--- PRINTER INFO --------------------");
                log(Log::Info, " Model        : %s", mDriver->getModel().c_str());
                log(Log::Info, " Manufacturer : %s", mDriver->getManufacturer().c_str());
                log(Log::Info, " Firmware Ver : %s", mDriver->getFirmwareVersion().c_str());
                log(Log::Info, " Serial #     : %s", mDriver->getSerialNumber().c_str());
                log(Log::Info, "-------------------------------------");
            }
            const nlohmann::json settings = mConfig.toJson();
            if (mDriver && settings.is_object() && settings.contains("printer")) {
                log(Log::Info, "Setting printer's config");
                mDriver->setConfig(settings["printer"]);
            }
        } catch (const std::exception& e) {
            log(Log::Error, "Could not start the printer: %s", e.what());
        }
    }
    mStatusTimer.start(statusPeriodMs());
    log(Log::Info, "Started");
}

void PrinterManager::stop() {
    std::lock_guard<std::mutex> config(mConfigMutex);
    stopLocked();
}

void PrinterManager::stopLocked() {
    if (!mStarted)
        return;
    log(Log::Info, "Stopping...");
    mStarted = false;
    mStatusTimer.stop();
    {
        std::lock_guard<std::mutex> lock(mDriverMutex);
        mMonitoring = false;
        replaceDriver(nullptr);
    }
    log(Log::Info, "Stopped!");
}

void PrinterManager::restart() {
    std::lock_guard<std::mutex> config(mConfigMutex);
    log(Log::Info, "Restarting...");
    if (mStarted) {
        stopLocked();
        startLocked();
    }
    log(Log::Info, "Restarted!");
}

bool PrinterManager::active() const {
    std::lock_guard<std::mutex> identity(mIdentityMutex);
    return mDriver != nullptr;
}

std::string PrinterManager::getDevice() const {
    return mDevicePath;
}

void PrinterManager::checkDriver() const {
    if (!active())
        throw std::invalid_argument("Driver not active");
}

void PrinterManager::check() {
    checkDriver();
    const Types::Status status = mDriver->getStatus();
    if (status.hasError()) {
        log(Log::Error, "status: %s", status.toJson().dump().c_str());
        throw std::runtime_error(
            String::format("0x%08lx", static_cast<unsigned long>(status.toBitset().to_ulong())));
    }
}

Types::Status PrinterManager::status() {
    std::lock_guard<std::mutex> lock(mDriverMutex);
    if (!mDriver)
        return Types::Status();
    try {
        return mDriver->getStatus();
    } catch (const std::exception&) {
        return Types::Status();
    }
}

template <typename Call> auto PrinterManager::withIdentity(Call call) const {
    std::lock_guard<std::mutex> identity(mIdentityMutex);
    if (!mDriver)
        throw std::invalid_argument("Driver not active");
    return call(*mDriver);
}

std::string PrinterManager::getModel() const {
    return withIdentity([](const Printers::Driver& d) { return d.getModel(); });
}

std::string PrinterManager::getFirmware() const {
    return withIdentity([](const Printers::Driver& d) { return d.getFirmwareVersion(); });
}

std::string PrinterManager::getManufacturer() const {
    return withIdentity([](const Printers::Driver& d) { return d.getManufacturer(); });
}

std::string PrinterManager::getSerialNumber() const {
    return withIdentity([](const Printers::Driver& d) { return d.getSerialNumber(); });
}

std::string PrinterManager::getType() const {
    switch (withIdentity([](const Printers::Driver& d) { return d.getConnectionType(); })) {
    case Printers::Driver::Serial:
        return "Serial";
    case Printers::Driver::USB:
        return "USB";
    default:
        return "Undefined";
    }
}

std::string PrinterManager::getConnectionType() const {
    switch (withIdentity([](const Printers::Driver& d) { return d.getConnectionType(); })) {
    case Printers::Driver::Serial:
        return "serial";
    case Printers::Driver::USB:
        return "usb";
    default:
        return "";
    }
}

// Operations guarded by checkDriver alone; the guard runs again under the lock, because the
// status monitor may have dropped the driver in between.
template <typename Call> auto PrinterManager::withDriver(Call call) {
    checkDriver();
    std::lock_guard<std::mutex> lock(mDriverMutex);
    checkDriver();
    return call(*mDriver);
}

// Print operations: the lock is taken before the printer-status gate, so the status checked is
// the one the printer has when the bytes go out.
template <typename Call> void PrinterManager::printing(Call call) {
    std::lock_guard<std::mutex> lock(mDriverMutex);
    check();
    call(*mDriver);
}

Types::Style PrinterManager::getStyle() {
    return withDriver([](Printers::Driver& d) { return d.getStyle(); });
}
void PrinterManager::defaults() {
    withDriver([](Printers::Driver& d) { d.setDefaults(); });
}
void PrinterManager::reset() {
    withDriver([](Printers::Driver& d) { d.reset(); });
}
void PrinterManager::verify() {
    withDriver([](Printers::Driver& d) { d.verify(); });
}

void PrinterManager::setStyle(const Types::Style& style) {
    printing([&](Printers::Driver& d) { d.setStyle(style); });
}
void PrinterManager::feed(unsigned long lines) {
    printing([&](Printers::Driver& d) { d.feed(lines); });
}
void PrinterManager::cut(bool full) {
    printing([&](Printers::Driver& d) { d.cut(full); });
}
void PrinterManager::printHex(const std::string& text) {
    printing([&](Printers::Driver& d) { d.printHex(text); });
}
void PrinterManager::printQR(const Types::QrCode& code) {
    printing([&](Printers::Driver& d) { d.printQR(code); });
}
void PrinterManager::printBarcode(const Types::Barcode& code) {
    printing([&](Printers::Driver& d) { d.printBarcode(code); });
}
void PrinterManager::printImgBuffer(const std::vector<unsigned char>& bits, unsigned long width,
                                    unsigned long height) {
    printing([&](Printers::Driver& d) { d.printImgBuffer(bits, width, height); });
}

// The raster rows hold ceil(width / 8) bytes; the driver gets the width rounded up to whole
// bytes, so the padding dots (white) print and a width that is not a multiple of 8 is no error.
void PrinterManager::printImg(const std::string& path) {
    Printers::Image image;
    const int result = Printers::Image_open(path.c_str(), &image);
    struct Closer {
        Printers::Image* image;
        ~Closer() { Printers::Image_close(image); }
    } closer{&image};
    if (result < 0)
        throw std::runtime_error(String::format("Could not open image file: %s", path.c_str()));
    const unsigned long rowBytes = (static_cast<unsigned long>(image.width) + 7) / 8;
    const unsigned long width = rowBytes * 8;
    const unsigned long height = static_cast<unsigned long>(image.height);
    const std::vector<unsigned char> bits(image.data, image.data + rowBytes * height);
    printing([&](Printers::Driver& d) { d.printImgBuffer(bits, width, height); });
}

// The lock is held across all pieces, so the lines of concurrent callers never interleave.
void PrinterManager::printLine(const std::string& text) {
    printing([&](Printers::Driver& d) {
        if (text.empty()) {
            d.feed(1);
            return;
        }
        for (const auto& piece : String::tokenizeV(text, "\n"))
            d.printString(piece);
    });
}

void PrinterManager::printUtf8Line(const std::string& text) {
    printing([&](Printers::Driver& d) {
        for (const auto& piece : String::tokenizeV(text, "\n"))
            d.printUtf8Line(piece);
    });
}

} // namespace zelvo::PrinterManager
