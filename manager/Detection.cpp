// Printer detection: node resolution, the identification table and the walk of the device's
// ancestry through libudev.
#include "Detection.h"

#include "Helpers.h"
#include "Log.h"
#include "Utils.h"

#include <libudev.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <system_error>

namespace zelvo::PrinterManager {

namespace {

// Detection is a printer manager function and logs under its tag.
void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[PrinterManager] ", fmt, args);
    va_end(args);
}

// strerror's buffer is shared between threads; the category's message is not.
std::string errorText(int err) {
    return std::generic_category().message(err);
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

// The node path to open: `devicePath` itself, or the target of the link it is. Only one level
// of link is followed and nothing is canonicalised: udev rules make /dev/printer a link into
// /dev (relative, "usb/lp0", or absolute), and that target is the node the driver opens.
std::optional<std::string> resolveNode(const std::string& devicePath) {
    if (!Utils::fileExists(devicePath)) {
        log(Log::Error, "Device '%s': No such file or directory", devicePath.c_str());
        return std::nullopt;
    }
    if (!Helpers::isSymlink(devicePath)) {
        log(Log::Info, "Opening device %s", devicePath.c_str());
        return devicePath;
    }
    const auto [ok, target] = Helpers::readSymlink(devicePath);
    if (!ok)
        return std::nullopt; // readSymlink logged why
    const std::string resolved =
        target.find("/dev/") != std::string::npos ? target : "/dev/" + target;
    log(Log::Info, "Opening device %s -> %s", devicePath.c_str(), resolved.c_str());
    return resolved;
}

// Adds to `hits` every attribute of `table` that `device` shows with the required value.
void countMatches(udev_device* device, const std::vector<Identification>& table,
                  std::vector<size_t>& hits) {
    for (size_t i = 0; i < table.size(); ++i) {
        for (const auto& [name, value] : table[i].attributes) {
            const char* actual = udev_device_get_sysattr_value(device, name.c_str());
            if (actual != nullptr && value == actual) {
                log(Log::Info, "udev matched [%d] '%s' = '%s'", static_cast<int>(i), name.c_str(),
                    actual);
                ++hits[i];
            }
        }
    }
}

// The model's driver on `path`. A model whose driver is not written yet is known by name and
// may be identified, but gives no driver.
std::unique_ptr<Printers::Driver> build(const Model& model, const std::string& path) {
    if (!model.factory) {
        log(Log::Error, "Printer model '%.*s' is not supported yet",
            static_cast<int>(model.name.size()), model.name.data());
        return nullptr;
    }
    return model.factory(path);
}

} // namespace

// USB printers are told apart by the USB device's strings and ids and, for the printer class
// interfaces, by the IEEE 1284 identification string; printers on an FTDI quad serial adapter
// by the adapter port's interface number; a legacy serial port by its bound "serial" driver.
// The values are compared byte for byte: the Sanei strings really end in "Printe" and the
// Hengstler string carries a trailing blank.
std::vector<Identification> identificationTable() {
    return {
        {{{"product", "TL60"}, {"manufacturer", "CUSTOM Engineering S.p.A."}}, "tl60"},
        {{{"product", "TL60"}, {"manufacturer", "Custom Engineering S.p.A."}}, "tl60"},
        {{{"interface", "Interface0 Bidirectional"},
          {"idVendor", "0619"},
          {"idProduct", "0116"},
          {"product", "SII LTPDx47 Series."}},
         "capd247"},
        {{{"interface", "Quad RS232-HS"}, {"bInterfaceProtocol", "ff"}, {"bInterfaceNumber", "02"}},
         "capd247"},
        {{{"interface", "Quad RS232-HS"}, {"bInterfaceProtocol", "ff"}, {"bInterfaceNumber", "00"}},
         "mplus2"},
        {{{"ieee1284_id", "MFG:SANEI;MDL: SK Series;CMD:ESCPOS;CLS:Printers;DES:3inch Printe"},
          {"bInterfaceProtocol", "02"},
          {"bInterfaceNumber", "00"}},
         "sk1311"},
        {{{"ieee1284_id", "MFG:SANEI;MDL: SK1-21 Series;CMD:ESCPOS;CLS:Printers;DES:2inch Printe"},
          {"bInterfaceProtocol", "02"},
          {"bInterfaceNumber", "00"}},
         "sk1211"},
        {{{"ieee1284_id", "MFG:HENGSTLER ;CMD:XPM ;MDL:XPM-80 "},
          {"bInterfaceProtocol", "02"},
          {"bInterfaceNumber", "00"}},
         "xpm80"},
        {{{"driver", "serial"}}, "kpm54"},
    };
}

// A row matches when its counter equals its number of attributes exactly: an attribute seen at
// two levels of the ancestry overshoots, and the row does not match at all. The earliest
// complete row wins.
std::optional<size_t> identify(const std::string& devicePath, std::string& resolvedPath) {
    const std::optional<std::string> resolved = resolveNode(devicePath);
    if (!resolved)
        return std::nullopt;
    const std::vector<Identification> table = identificationTable();

    struct stat st {};
    if (stat(resolved->c_str(), &st) != 0) {
        const int err = errno;
        log(Log::Error, "stat(%s) failed: %s", resolved->c_str(), errorText(err).c_str());
        return std::nullopt;
    }

    std::vector<size_t> hits(table.size(), 0);
    {
        UdevPtr context(udev_new());
        UdevDevicePtr device;
        // udev_new fails only without memory; that ends like an unknown device number.
        if (context)
            device.reset(udev_device_new_from_devnum(context.get(), 'c', st.st_rdev));
        if (!device) {
            const int err = errno;
            log(Log::Error, "udev_device_new_from_devnum() failed: %s", errorText(err).c_str());
            return std::nullopt;
        }
        // The parents belong to `device` and go with it.
        for (udev_device* level = device.get(); level != nullptr;
             level = udev_device_get_parent(level))
            countMatches(level, table, hits);
    }

    for (size_t i = 0; i < table.size(); ++i) {
        if (hits[i] == table[i].attributes.size()) {
            resolvedPath = *resolved;
            return i;
        }
    }
    log(Log::Error, "Device not recognised");
    return std::nullopt;
}

std::unique_ptr<Printers::Driver> detectDriver(const std::string& devicePath) {
    std::string resolved;
    const std::optional<size_t> index = identify(devicePath, resolved);
    if (!index)
        return nullptr;
    // Every row names a model of the table; Models.cpp and this file are kept together.
    return build(*findModel(identificationTable()[*index].model), resolved);
}

std::unique_ptr<Printers::Driver> detectDriver(const std::string& devicePath,
                                               std::string_view modelName) {
    const std::optional<Model> model = findModel(modelName);
    if (!model) {
        log(Log::Error, "Unknown printer model '%.*s'", static_cast<int>(modelName.size()),
            modelName.data());
        return nullptr;
    }
    const std::optional<std::string> resolved = resolveNode(devicePath);
    if (!resolved)
        return nullptr;
    return build(*model, *resolved);
}

} // namespace zelvo::PrinterManager
