// Testbed: an in-process umockdev testbed, a fake /sys and /dev that real libudev and the code
// under test see. The test binary must run under umockdev-wrapper.
//
// Threads: umockdev's preload library is not safe for file calls on its nodes from several
// threads at once (lstat of a node now and then fails an assertion inside it, is_emulated_device),
// so tests look the nodes up from one thread at a time.
#pragma once

#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

class Testbed {
public:
    // True when the process runs under umockdev-wrapper (the preload library is active).
    static bool available();

    // An empty testbed; it becomes the process's /sys and /dev until destroyed.
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // The description (for add) of a USB printer-class device on port `port` of the first bus:
    // the node /dev/usb/lp<port> (180:<port>), bound to usblp, below the printer interface
    // 1-<port>:1.0 with `interfaceAttrs`, below the USB device 1-<port> with `deviceAttrs`
    // (each a run of "A: name=value\n" lines).
    static std::string usbPrinter(int port, const std::string& deviceAttrs,
                                  const std::string& interfaceAttrs);

    // Adds devices from umockdev's description format ("P:", "N:", "E:", "A:", "L:" lines, a
    // blank line between devices, the node's device first). A device node needs "E: DEVNAME=",
    // "E: MAJOR=" and "E: MINOR=" (and "A: dev=MAJ:MIN") for a lookup by device number to
    // find it. Throws std::runtime_error with umockdev's message when the text is rejected.
    void add(const std::string& description);
    // Creates, or moves, the symbolic link `node` (a "/dev/..." path) pointing at `target`,
    // verbatim.
    void addSymlink(const std::string& node, const std::string& target);
    // Creates the regular file `node` (a "/dev/..." path), empty.
    void addFile(const std::string& node);

    // Unplugs the device at `syspath` ("/sys/devices/...") with the node `node`: closes the
    // printer's end of the node, so the program's descriptor reads end of file, and removes
    // the device. The node's name cannot be added again; plug a printer back in under a new
    // name.
    void unplug(const std::string& syspath, const std::string& node);

    // The testbed's root directory: "/dev/x" of the program is root() + "/dev/x".
    std::string root() const;
    // The printer's end of a device node added by add() (owned by the testbed).
    int devFd(const std::string& node);

private:
    UMockdevTestbed* mTestbed; // owned; removing it removes the whole fake tree
    std::string mRoot;         // root directory, fixed at construction
};
