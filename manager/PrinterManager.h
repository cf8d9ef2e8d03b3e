// PrinterManager: the one object through which the daemon reaches the printer.
#pragma once

#include "Config.h"
#include "Detection.h"
#include "Log.h"
#include "Signal.h"
#include "Timer.h"
#include "printers/Driver.h"
#include "types/Barcode.h"
#include "types/QrCode.h"
#include "types/Status.h"
#include "types/Style.h"

#include <nlohmann/json.hpp>

#include <bitset>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelvo::PrinterManager {

class PrinterManager {
public:
    // Builds the driver for a device node; returns none when no supported printer is there.
    using DriverFactory = std::function<std::unique_ptr<Printers::Driver>(const std::string&)>;

    // `factory` replaces printer detection (tests hand the manager their own printers this
    // way); an empty one selects detection through the device database.
    PrinterManager(const std::string& devicePath, const std::string& configFile,
                   DriverFactory factory = {});
    virtual ~PrinterManager();
    PrinterManager(const PrinterManager&) = delete;
    PrinterManager& operator=(const PrinterManager&) = delete;

    // Lifecycle: detection, driver configuration and the status monitor.
    void start();
    void stop();
    void restart();

    bool active() const;
    std::string getDevice() const;
    // Throws std::invalid_argument "Driver not active" without a driver.
    void checkDriver() const;
    // checkDriver, then refuses (std::runtime_error "0x" + 8 hex digits) a printer in error.
    // The caller holds the driver lock.
    void check();
    // The driver's status, or an inactive default status; never throws.
    Types::Status status();

    // Identity of the current printer (no driver lock; see mIdentityMutex).
    std::string getModel() const;
    std::string getFirmware() const;
    std::string getManufacturer() const;
    std::string getSerialNumber() const;
    std::string getType() const;
    std::string getConnectionType() const;

    Types::Style getStyle();
    void defaults();
    void reset();
    void verify();

    // Print operations: driver lock, printer-status gate, then the driver.
    void setStyle(const Types::Style& style);
    void feed(unsigned long lines);
    void cut(bool full);
    void printHex(const std::string& text);
    void printQR(const Types::QrCode& code);
    void printBarcode(const Types::Barcode& code);
    void printImgBuffer(const std::vector<unsigned char>& bits, unsigned long width,
                        unsigned long height);
    // Decodes the image file without the driver lock, then prints its raster with the
    // width rounded up to whole bytes. Throws std::runtime_error "Could not open image file: "
    // + path when the file cannot be decoded.
    void printImg(const std::string& path);
    // One driver line per line-feed-separated piece; the empty text feeds one line.
    void printLine(const std::string& text);
    // One converted line per piece; the empty text prints nothing.
    void printUtf8Line(const std::string& text);

    // The configuration document and its file.
    nlohmann::json getConfig();
    void setConfig(const nlohmann::json& document);
    void readConfigFile();
    void writeConfigFile();
    void addGetConfigCallback(const std::string& name, std::function<nlohmann::json()> callback);
    void addSetConfigCallback(const std::string& name,
                              std::function<void(nlohmann::json)> callback);

    // Status changes, emitted by the status monitor on the timer's thread while the driver
    // lock is held (lock order: mDriverMutex, then the signal's own mutex).
    Signal<const Types::Status&> mStatusSignal;

private:
    std::unique_ptr<Printers::Driver> driverFactory(const std::string& devicePath);
    // Installs `driver` (possibly none) and destroys the previous one; the caller holds
    // mDriverMutex.
    void replaceDriver(std::unique_ptr<Printers::Driver> driver);
    // Runs `call` on the driver under mIdentityMutex only (for the identity getters).
    template <typename Call> auto withIdentity(Call call) const;
    template <typename Call> auto withDriver(Call call);
    template <typename Call> void printing(Call call);
    void startLocked();
    void stopLocked();
    // The document: Config as nested JSON with the driver's and the services' sections.
    nlohmann::json mergedConfig(bool verbose);
    int statusPeriodMs() const;
    // Merges `document` into mConfig; the caller holds mConfigMutex.
    void storeDocument(const nlohmann::json& document);
    // Writes `document` with an indent of 4 through a temporary file renamed over the old one.
    bool writeDocument(const nlohmann::json& document);
    static void statusFunction(void* manager);
    void statusFunction();
    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // Between start and stop; guarded by mConfigMutex.
    bool mStarted = false;
    // Whether status ticks may run; changed under mDriverMutex, read by the tick under it.
    bool mMonitoring = false;
    // The last published status bits, read and written by the tick under mDriverMutex.
    std::bitset<32> mPreviousStatus;
    // The text of the last tick's failure (empty after a good tick); timer thread only.
    std::string mLastMonitorFailure;
    const std::string mDevicePath;
    const std::string mConfigFile;
    std::unique_ptr<Printers::Driver> mDriver;
    // The driver lock: serialises every driver call and every change of mDriver; a multi-line
    // print holds it across all its lines. Non-recursive: no driver call may call back into
    // the manager. Lock order: mDriverMutex, then mIdentityMutex, then any Signal's mutex.
    std::mutex mDriverMutex;
    // Guards the value of mDriver for the identity getters, which must not wait for a print
    // job. Writers hold mDriverMutex as well, so code under the driver lock reads mDriver
    // without it.
    mutable std::mutex mIdentityMutex;
    // The manager's settings and the stored configuration document. Changed by
    // readConfigFile and setConfig, read by getConfig and writeConfigFile; guarded by
    // mConfigMutex (taken before mDriverMutex wherever both are held).
    Config mConfig;
    std::mutex mConfigMutex;
    std::map<std::string, std::function<nlohmann::json()>> mGetConfigCallbacks;
    std::map<std::string, std::function<void(nlohmann::json)>> mSetConfigCallbacks;
    DriverFactory mFactory;
    // Drives the status monitor; its handler runs on the timer's own thread.
    Timer mStatusTimer;
};

} // namespace zelvo::PrinterManager
