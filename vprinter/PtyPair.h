// vprinter::PtyPair: a pseudo-terminal pair standing in for a printer's device node.
//
// The driver opens path() (the slave's name, e.g. "/dev/pts/7"), or a symbolic link made with
// linkAt(); the virtual printer works on masterFd(). Both ends are in raw mode (cfmakeraw), so
// bytes pass unchanged in both directions and nothing is echoed.
//
// The pair keeps one descriptor of the slave open itself (opened O_NOCTTY, never read), so
//   - the master never reads EIO because no one has the slave open (before the driver opens
//     it, between two drivers), and the raw settings stay in force across the driver's closes;
//   - bytes the printer writes while no driver has the node open wait in the slave's input
//     queue; flushInput() drops them (e.g. before a new driver opens the node).
// Closing the master (closeMaster(), or Tl60::unplug() once the Tl60 owns it) hangs the slave
// up: the driver's reads then return 0 (EOF) or fail with EIO and its writes fail with EIO,
// like a USB printer that vanished.
//
// Ownership: the pair owns the master until releaseMaster() hands it over (vprinter::Tl60's
// PtyPair constructor does that). The destructor closes whatever the pair still owns and
// removes the links it made. Not thread-safe: one owner thread.
#pragma once

#include <string>
#include <vector>

namespace vprinter {

class PtyPair {
public:
    // openpty, cfmakeraw on both ends. Throws std::system_error on failure.
    PtyPair();
    ~PtyPair();

    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The slave's name: what the driver opens.
    const std::string& path() const { return mPath; }
    // The printer's end, -1 after releaseMaster() or closeMaster().
    int masterFd() const { return mMaster; }

    // Makes (or atomically replaces) a symbolic link at `linkPath` pointing to path(); returns
    // `linkPath`. Removed by the destructor if it still points to this pair. A test that "re-plugs"
    // a printer makes a new PtyPair and links it at the same path. Throws std::system_error on
    // failure.
    std::string linkAt(const std::string& linkPath);

    // Hands the master descriptor over; the pair no longer closes it. -1 if already gone.
    int releaseMaster();
    // Closes the master if the pair still owns it (the driver's end is hung up).
    void closeMaster();
    // Drops bytes waiting in the slave's input queue (written by the printer, not read yet).
    void flushInput();

private:
    int mMaster = -1;
    int mSlaveHold = -1;
    std::string mPath;
    std::vector<std::string> mLinks;
};

} // namespace vprinter
