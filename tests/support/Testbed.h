// Testbed: an in-process umockdev testbed, a fake /sys and /dev that real libudev and the code
// under test see. The test binary must run under umockdev-wrapper.
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

    // Adds devices from umockdev's description format ("P:", "N:", "E:", "A:", "L:" lines, a
    // blank line between devices, the node's device first). A device node needs "E: DEVNAME=",
    // "E: MAJOR=" and "E: MINOR=" (and "A: dev=MAJ:MIN") for a lookup by device number to
    // find it. Throws std::runtime_error with umockdev's message when the text is rejected.
    void add(const std::string& description);
    // Creates the symbolic link `node` (a "/dev/..." path) pointing at `target`, verbatim.
    void addSymlink(const std::string& node, const std::string& target);
    // Creates the regular file `node` (a "/dev/..." path), empty.
    void addFile(const std::string& node);

    // The testbed's root directory: "/dev/x" of the program is root() + "/dev/x".
    std::string root() const;
    // The printer's end of a device node added by add() (owned by the testbed).
    int devFd(const std::string& node);

private:
    UMockdevTestbed* mTestbed; // owned; removing it removes the whole fake tree
    std::string mRoot;         // root directory, fixed at construction
};
