// Testbed: umockdev's testbed behind a small RAII class; files in its dev/ are made directly,
// since umockdev only creates the nodes of devices it knows.
#include "Testbed.h"

#include <unistd.h>

#include <umockdev.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

// umockdev_in_mock_environment() answers false under umockdev-wrapper here, so the process's
// own mappings are asked whether the preload library is loaded.
bool Testbed::available() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("libumockdev-preload.so") != std::string::npos)
            return true;
    return false;
}

Testbed::Testbed() : mTestbed(umockdev_testbed_new()) {
    gchar* root = umockdev_testbed_get_root_dir(mTestbed);
    mRoot = root;
    g_free(root);
}

Testbed::~Testbed() {
    g_object_unref(mTestbed);
}

std::string Testbed::usbPrinter(int port, const std::string& deviceAttrs,
                                const std::string& interfaceAttrs) {
    const std::string n = std::to_string(port);
    const std::string dev = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + n;
    const std::string intf = dev + "/1-" + n + ":1.0";
    return "P: " + intf + "/usbmisc/lp" + n + "\nN: usb/lp" + n + "\nE: DEVNAME=/dev/usb/lp" + n +
           "\nE: SUBSYSTEM=usbmisc\nE: MAJOR=180\nE: MINOR=" + n + "\nA: dev=180:" + n +
           "\n\nP: " + intf +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=07\n" +
           interfaceAttrs + "L: driver=../../../../../../bus/usb/drivers/usblp\n\nP: " + dev +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + deviceAttrs;
}

void Testbed::add(const std::string& description) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(mTestbed, description.c_str(), &error)) {
        const std::string text = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev rejected the device description: " + text);
    }
}

namespace {

// The testbed path of the program's "/dev/..." path, its directories created.
std::filesystem::path prepare(const std::string& root, const std::string& node) {
    if (node.rfind("/dev/", 0) != 0)
        throw std::invalid_argument("not a /dev path: " + node);
    const std::filesystem::path path = std::filesystem::path(root) / node.substr(1);
    std::filesystem::create_directories(path.parent_path());
    return path;
}

} // namespace

// A new link is made beside the old one and renamed over it, so the program never sees the
// link missing while it is moved to another node.
void Testbed::addSymlink(const std::string& node, const std::string& target) {
    const std::string path = prepare(mRoot, node);
    const std::string fresh = path + ".new";
    std::filesystem::create_symlink(target, fresh);
    std::filesystem::rename(fresh, path);
}

void Testbed::addFile(const std::string& node) {
    std::ofstream out(prepare(mRoot, node));
    if (!out)
        throw std::runtime_error("cannot create " + node + " in the testbed");
}

std::string Testbed::root() const {
    return mRoot;
}

// umockdev keeps a map from pseudo-terminal names to device numbers in dev/.ptymap. Once the
// printer's end is closed its pseudo-terminal number is free again; a printer plugged in later
// may get it, and umockdev aborts on the stale entry. So the entries of the unplugged node go
// with it, and the node itself.
void Testbed::unplug(const std::string& syspath, const std::string& node) {
    std::string majmin;
    std::ifstream(mRoot + syspath + "/dev") >> majmin;
    const int fd = umockdev_testbed_get_dev_fd(mTestbed, node.c_str());
    if (fd >= 0)
        ::close(fd);
    umockdev_testbed_remove_device(mTestbed, syspath.c_str());
    std::error_code ignored;
    const std::filesystem::path ptymap = mRoot + "/dev/.ptymap";
    for (const auto& entry : std::filesystem::directory_iterator(ptymap, ignored))
        if (std::filesystem::read_symlink(entry.path(), ignored) == majmin)
            std::filesystem::remove(entry.path(), ignored);
    std::filesystem::remove(mRoot + node, ignored);
}

int Testbed::devFd(const std::string& node) {
    return umockdev_testbed_get_dev_fd(mTestbed, node.c_str());
}
