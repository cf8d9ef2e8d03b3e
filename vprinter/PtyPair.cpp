// vprinter::PtyPair: openpty, raw mode, links.
#include "vprinter/PtyPair.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace vprinter {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        fail("tcsetattr");
}

} // namespace

PtyPair::PtyPair() {
    int master = -1, slave = -1;
    char name[PATH_MAX] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        fail("openpty");
    mMaster = master;
    mSlaveHold = slave;
    mPath = name;
    try {
        makeRaw(mSlaveHold);
        makeRaw(mMaster);
        if (fcntl(mMaster, F_SETFD, FD_CLOEXEC) != 0 || fcntl(mSlaveHold, F_SETFD, FD_CLOEXEC) != 0)
            fail("fcntl");
    } catch (...) {
        close(mMaster);
        close(mSlaveHold);
        throw;
    }
}

PtyPair::~PtyPair() {
    // Only links that still point here: a newer pair may have been linked at the same path.
    for (const auto& link : mLinks) {
        char target[PATH_MAX] = {};
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && mPath == std::string(target, static_cast<std::size_t>(n)))
            unlink(link.c_str());
    }
    closeMaster();
    if (mSlaveHold >= 0)
        close(mSlaveHold);
}

std::string PtyPair::linkAt(const std::string& linkPath) {
    // Atomic replacement: a temporary link renamed over the target.
    const std::string tmp = linkPath + ".vprinter-" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(mPath.c_str(), tmp.c_str()) != 0)
        fail("symlink " + tmp);
    if (rename(tmp.c_str(), linkPath.c_str()) != 0) {
        int saved = errno;
        unlink(tmp.c_str());
        errno = saved;
        fail("rename " + linkPath);
    }
    mLinks.push_back(linkPath);
    return linkPath;
}

int PtyPair::releaseMaster() {
    int fd = mMaster;
    mMaster = -1;
    return fd;
}

void PtyPair::closeMaster() {
    if (mMaster >= 0) {
        close(mMaster);
        mMaster = -1;
    }
}

void PtyPair::flushInput() {
    if (mSlaveHold >= 0)
        tcflush(mSlaveHold, TCIFLUSH);
}

} // namespace vprinter
