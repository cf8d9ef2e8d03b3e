// Testbed: umockdev's testbed behind a small RAII class; files in its dev/ are made directly,
// since umockdev only creates the nodes of devices it knows.
#include "Testbed.h"

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

void Testbed::addSymlink(const std::string& node, const std::string& target) {
    std::filesystem::create_symlink(target, prepare(mRoot, node));
}

void Testbed::addFile(const std::string& node) {
    std::ofstream out(prepare(mRoot, node));
    if (!out)
        throw std::runtime_error("cannot create " + node + " in the testbed");
}

std::string Testbed::root() const {
    return mRoot;
}

int Testbed::devFd(const std::string& node) {
    return umockdev_testbed_get_dev_fd(mTestbed, node.c_str());
}
