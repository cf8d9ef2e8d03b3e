// vprinter::Tl60: the virtual Custom TL60's printer thread and state.
#include "vprinter/Tl60.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

#include "vprinter/PtyPair.h"

namespace vprinter {

namespace {

// Longest poll: bounds how long stop or a missed wake-up can take.
constexpr std::chrono::milliseconds MaxPoll{10};
// Pause after a read found no one at the other end (EIO, EOF, hang-up).
constexpr std::chrono::milliseconds DeadRetry{5};
// How long a write may wait for room before the message is dropped.
constexpr int WriteTimeoutMs = 200;

int takeMaster(PtyPair& pty) {
    int fd = pty.releaseMaster();
    if (fd < 0)
        throw std::invalid_argument("vprinter::Tl60: the PtyPair has no master any more");
    return fd;
}

} // namespace

Tl60::Tl60(PtyPair& pty, Tl60Options options)
    : Tl60(takeMaster(pty), Ownership::Owned, std::move(options)) {}

Tl60::Tl60(int fd, Ownership ownership, Tl60Options options)
    : mFd(fd), mOwnership(ownership), mOptions(std::move(options)), mSerial(mOptions.serialNumber) {
    mWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mWakeFd < 0) {
        int saved = errno;
        if (mOwnership == Ownership::Owned && mFd >= 0)
            close(mFd);
        throw std::system_error(saved, std::generic_category(), "eventfd");
    }
    int flags = fcntl(mFd, F_GETFL);
    if (flags >= 0)
        fcntl(mFd, F_SETFL, flags | O_NONBLOCK);
    mThread = std::thread(&Tl60::run, this);
}

Tl60::~Tl60() {
    unplug();
    if (mWakeFd >= 0)
        close(mWakeFd);
}

void Tl60::wake() {
    uint64_t one = 1;
    ssize_t n = ::write(mWakeFd, &one, sizeof one);
    (void)n;
}

void Tl60::changedLocked() {
    ++mGeneration;
    mChanged.notify_all();
}

void Tl60::unplug() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStopping = true;
    }
    wake();
    if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id())
        mThread.join();
    std::lock_guard<std::mutex> lock(mMutex);
    if (mPlugged) {
        mPlugged = false;
        if (mOwnership == Ownership::Owned && mFd >= 0)
            close(mFd);
        changedLocked();
    }
}

bool Tl60::plugged() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mPlugged;
}

#define VPRINTER_KNOB(method, member)                                                              \
    void Tl60::method(bool on) {                                                                   \
        {                                                                                          \
            std::lock_guard<std::mutex> lock(mMutex);                                              \
            member = on;                                                                           \
            changedLocked();                                                                       \
        }                                                                                          \
        wake();                                                                                    \
    }
VPRINTER_KNOB(setPaperOut, mPaperOut)
VPRINTER_KNOB(setPaperNearEnd, mNearEnd)
VPRINTER_KNOB(setPaperOnMark, mOnMark)
VPRINTER_KNOB(setCoverOpen, mCoverOpen)
VPRINTER_KNOB(setMarkJam, mMarkJam)
VPRINTER_KNOB(setAutocutterError, mCutterError)
VPRINTER_KNOB(setMute, mMute)
#undef VPRINTER_KNOB

void Tl60::setSerialNumber(const Bytes& serial) {
    std::lock_guard<std::mutex> lock(mMutex);
    mSerial = serial;
}

bool Tl60::motorLocked(Clock::time_point now) const {
    return now < mPrintUntil || now < mCutUntil;
}

std::array<unsigned char, 6> Tl60::frameLocked() const {
    std::array<unsigned char, 6> f{0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
    if (mPaperOut)
        f[2] |= 0x01;
    if (mNearEnd)
        f[2] |= 0x04;
    if (mOnMark)
        f[2] |= 0x80;
    if (motorLocked(Clock::now()))
        f[3] |= 0x04;
    if (mCoverOpen)
        f[4] |= 0x01;
    if (mMarkJam)
        f[4] |= 0x80;
    if (mCutterError)
        f[5] |= 0x01;
    return f;
}

std::array<unsigned char, 6> Tl60::statusFrame() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return frameLocked();
}

bool Tl60::autoStatus() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mAutoStatus;
}

bool Tl60::motorMoving() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return motorLocked(Clock::now());
}

Bytes Tl60::received() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mReceived;
}

std::vector<Printed> Tl60::printed() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mPrinted;
}

std::vector<Bytes> Tl60::sent() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSent;
}

void Tl60::clear() {
    std::lock_guard<std::mutex> lock(mMutex);
    mReceived.clear();
    mPrinted.clear();
    mSent.clear();
    changedLocked();
}

bool Tl60::waitFor(const std::function<bool(const Tl60&)>& predicate,
                   std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        unsigned long generation;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            generation = mGeneration;
        }
        if (predicate(*this))
            return true;
        std::unique_lock<std::mutex> lock(mMutex);
        if (!mChanged.wait_until(lock, deadline, [&] { return mGeneration != generation; })) {
            lock.unlock();
            return predicate(*this);
        }
    }
}

bool Tl60::waitForBytes(std::size_t count, std::chrono::milliseconds timeout) {
    return waitFor([count](const Tl60& p) { return p.received().size() >= count; }, timeout);
}

bool Tl60::waitForItems(std::size_t count, std::chrono::milliseconds timeout) {
    return waitFor([count](const Tl60& p) { return p.printed().size() >= count; }, timeout);
}

bool Tl60::waitForItem(Printed::Kind kind, std::chrono::milliseconds timeout) {
    return waitFor(
        [kind](const Tl60& p) {
            auto items = p.printed();
            return std::any_of(items.begin(), items.end(),
                               [kind](const Printed& i) { return i.kind == kind; });
        },
        timeout);
}

bool Tl60::waitForSent(std::size_t count, std::chrono::milliseconds timeout) {
    return waitFor([count](const Tl60& p) { return p.sent().size() >= count; }, timeout);
}

void Tl60::handleLocked(const Printed& item, Clock::time_point now) {
    using Kind = Printed::Kind;
    switch (item.kind) {
    case Kind::Text:
    case Kind::Raster:
    case Kind::Barcode:
    case Kind::Feed:
        if (!mPaperOut && !mCoverOpen)
            mPrintUntil = now + mOptions.printIdle;
        mRepeatPending = false; // a new print run: its own end will be reported
        break;
    case Kind::Cut:
        mPrintUntil = {};
        if (!mPaperOut && !mCoverOpen)
            mCutUntil = now + mOptions.cutStop;
        if (mOptions.cutRepeat.count() > 0) {
            mRepeatAt = now + mOptions.cutRepeat;
            mRepeatPending = true;
        }
        break;
    case Kind::Command:
        if (item.name == "DLE EOT" && item.value == 0x14) {
            auto f = frameLocked();
            mQueue.push_back({"status", Bytes(f.begin(), f.end())});
        } else if (item.name == "GS E0") {
            mAutoStatus = item.value != 0;
            if (mAutoStatus) {
                // At once, in order with the answers around it.
                auto f = frameLocked();
                mQueue.push_back({"status", Bytes(f.begin(), f.end())});
                mLastFrame = f;
                mLastFrameValid = true;
            }
        } else if (item.name == "FS EA" && item.value == 0x52) {
            mQueue.push_back({"serial", mSerial});
        }
        break;
    default:
        break;
    }
}

void Tl60::tickLocked(Clock::time_point now) {
    const bool motor = motorLocked(now);
    if (motor != mMotorWas) {
        mMotorWas = motor;
        changedLocked(); // wakes waitFor() predicates on motorMoving()
    }
    if (mMute) {
        mQueue.clear();
        mRepeatPending = false;
        return;
    }
    if (!mAutoStatus) {
        mRepeatPending = false;
        return;
    }
    auto f = frameLocked();
    bool repeat = mRepeatPending && now >= mRepeatAt && !motorLocked(now);
    if (!mLastFrameValid || f != mLastFrame || repeat) {
        mQueue.push_back({"status", Bytes(f.begin(), f.end())});
        mLastFrame = f;
        mLastFrameValid = true;
        if (repeat)
            mRepeatPending = false;
    }
}

Tl60::Clock::time_point Tl60::nextDeadlineLocked(Clock::time_point now) const {
    auto next = now + MaxPoll;
    auto consider = [&](Clock::time_point t) {
        if (t > now && t < next)
            next = t;
    };
    consider(mPrintUntil);
    consider(mCutUntil);
    if (mRepeatPending)
        consider(mRepeatAt);
    if (!mQueue.empty())
        next = std::min(next, std::max(now, mNextSendAt));
    return next;
}

bool Tl60::writeMessage(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(mFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{mFd, POLLOUT, 0};
            if (poll(&pfd, 1, WriteTimeoutMs) > 0 && (pfd.revents & POLLOUT))
                continue;
        }
        return false; // EIO (no one there), closed, or no room in time
    }
    return true;
}

void Tl60::run() {
    bool dead = false; // the other end is not there: pause before reading again
    std::vector<unsigned char> buf(4096);
    for (;;) {
        Clock::time_point deadline;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (mStopping)
                break;
            deadline = nextDeadlineLocked(Clock::now());
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int timeoutMs = static_cast<int>(std::clamp<long>(wait.count(), 0, MaxPoll.count()));
        if (deadline > Clock::now() && timeoutMs == 0)
            timeoutMs = 1;
        if (dead)
            timeoutMs = std::min<int>(timeoutMs, static_cast<int>(DeadRetry.count()));
        pollfd pfds[2] = {{mWakeFd, POLLIN, 0}, {dead ? -1 : mFd, POLLIN, 0}};
        int ready = poll(pfds, 2, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            dead = true; // e.g. a descriptor closed under us; keep the loop prompt
        }
        if (ready > 0 && (pfds[0].revents & POLLIN)) {
            uint64_t count;
            ssize_t n = ::read(mWakeFd, &count, sizeof count);
            (void)n;
        }

        // Read everything there is.
        Bytes chunk;
        bool tryRead = dead || (ready > 0 && pfds[1].revents != 0);
        dead = false;
        while (tryRead) {
            ssize_t n = ::read(mFd, buf.data(), buf.size());
            if (n > 0) {
                chunk.insert(chunk.end(), buf.begin(), buf.begin() + n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (n < 0 && errno != EAGAIN))
                dead = chunk.empty(); // EOF / EIO: no driver on the other end
            break;
        }

        std::vector<Printed> items;
        if (!chunk.empty())
            items = mDecoder.feed(chunk);

        std::vector<Outgoing> toSend;
        std::vector<std::string> trace;
        const auto now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mMutex);
            if (!chunk.empty()) {
                mReceived.insert(mReceived.end(), chunk.begin(), chunk.end());
                changedLocked();
            }
            for (const auto& item : items) {
                handleLocked(item, now);
                if (mOptions.trace)
                    trace.push_back("<< " + item.describe());
                mPrinted.push_back(item);
            }
            tickLocked(now);
            if (!mQueue.empty() && now >= mNextSendAt) {
                toSend.push_back(std::move(mQueue.front()));
                mQueue.erase(mQueue.begin());
                mNextSendAt = now + mOptions.messageGap;
            }
        }
        for (const auto& message : toSend) {
            bool ok = writeMessage(message.bytes);
            {
                std::lock_guard<std::mutex> lock(mMutex);
                if (ok)
                    mSent.push_back(message.bytes);
                changedLocked();
            }
            if (mOptions.trace)
                trace.push_back(">> " + message.what + " " + hex(message.bytes) +
                                (ok ? "" : " (dropped)"));
        }
        for (const auto& line : trace)
            mOptions.trace(line);
    }
}

} // namespace vprinter
