// vprinter::Tl60: a virtual Custom TL60 printer on a file descriptor.
//
// Usage with a pseudo terminal (the driver opens pty.path() or a link made with linkAt()):
//
//     vprinter::PtyPair pty;
//     vprinter::Tl60 printer(pty);                  // takes over the master descriptor
//     Printers::Custom::TL60::Driver driver(pty.path());
//     ... driver.printUtf8Line("Hello"); driver.cut(true);
//     ASSERT_TRUE(printer.waitForItem(vprinter::Printed::Kind::Cut, 2s));
//     auto lines = vprinter::textLines(printer.printed());
//     printer.setPaperOut(true);                   // auto-status frame follows
//     printer.unplug();                            // driver sees EOF / EIO
//
// Any descriptor works, e.g. a umockdev testbed's umockdev_testbed_get_dev_fd(): reads that fail
// with EIO or return 0 (no driver has the node open, or it closed it) are not fatal, the printer
// retries every few ms; answers that cannot be written then are dropped.
//
// Wire behaviour (every answer and frame is written with one write()):
//   - DLE EOT 14 (10 04 14): answers one 6-byte status frame.
//   - GS E0 0F (1D E0 0F): enables automatic status (any n other than 00 does; GS E0 00 disables
//     it), sends a frame at once and then whenever the frame's content changes. ESC @ leaves
//     automatic status as it is.
//   - FS EA 52 (1C EA 52): answers the serial number bytes (default "TL60" 00 "123").
//   - Printing (a Text, Raster, Barcode or Feed item) sets the motor-moving bit; it clears
//     printIdle after the last print item, unless paper is out or the cover open (then the
//     motor does not move at all).
//   - A cut (ESC i, ESC m, GS V) moves the motor and stops it cutStop later; with automatic
//     status that is a frame with the motor stopped within a few ms, sent once more cutRepeat
//     after the cut (so a driver that only starts listening some tens of ms after its cut,
//     like the TL60 driver's waitForPrintRunEnd after its 40 ms sleep, still sees one).
//   - Two messages are at least messageGap apart, so a driver that reads in chunks sees each
//     answer on its own (a frame and a serial number never run together).
//   - While muted: no answers and no frames; received bytes are still recorded and decoded.
//     Unmuting with automatic status on sends a frame if the state changed meanwhile.
//
// Frame: 10 00 b2 b3 b4 b5 with b2: 01 out of paper, 04 paper near end, 80 paper on mark;
// b3: 04 motor moving; b4: 01 head (cover open), 80 mark-detection jam; b5: 01 autocutter.
//
// Threads and locks: one printer thread per Tl60, started by the constructor, joined by unplug()
// and the destructor (prompt: it polls with a short timeout and a wake-up descriptor). One
// mutex guards the state, the history and the knobs; every public member takes it briefly and
// may be called from any thread. The trace callback and waitFor()'s predicate run without the
// mutex held (the trace on the printer thread, the predicate on the waiting thread), so they
// may call the accessors.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vprinter/EscPosDecoder.h"
#include "vprinter/Printed.h"

namespace vprinter {

class PtyPair;

struct Tl60Options {
    // Answer to FS EA 52.
    Bytes serialNumber{'T', 'L', '6', '0', 0x00, '1', '2', '3'};
    // Least time between two messages the printer sends.
    std::chrono::milliseconds messageGap{20};
    // Motor stop after a cut, counted from the cut's arrival.
    std::chrono::milliseconds cutStop{2};
    // The motor-stopped frame after a cut is sent again this long after the cut (0: never).
    std::chrono::milliseconds cutRepeat{80};
    // The motor stops this long after the last print item.
    std::chrono::milliseconds printIdle{100};
    // Called on the printer thread, without the lock, with one line per event:
    //   "<< " + Printed::describe() for each decoded item, ">> " + what was sent
    //   (">> status 10 00 00 04 00 00", ">> serial 54 4c 36 30 00 31 32 33").
    std::function<void(const std::string&)> trace;
};

class Tl60 {
public:
    enum class Ownership { Borrowed, Owned };

    // Works on `fd` (set to non-blocking). Owned: closed by unplug() or the destructor;
    // Borrowed: never closed here (unplug() then only stops the printer; the owner closes it).
    // Throws std::system_error if the thread's wake-up descriptor cannot be made.
    explicit Tl60(int fd, Ownership ownership = Ownership::Borrowed, Tl60Options options = {});
    // Takes the master over from `pty` (pty.releaseMaster()), Owned.
    explicit Tl60(PtyPair& pty, Tl60Options options = {});
    // unplug().
    ~Tl60();

    Tl60(const Tl60&) = delete;
    Tl60& operator=(const Tl60&) = delete;

    // Knobs (take effect at once; with automatic status on, a change sends a frame).
    void setPaperOut(bool on);
    void setPaperNearEnd(bool on);
    void setPaperOnMark(bool on);
    void setCoverOpen(bool on);
    void setMarkJam(bool on);
    void setAutocutterError(bool on);
    void setMute(bool on);
    void setSerialNumber(const Bytes& serial);

    // Stops and joins the printer thread, then closes the descriptor if owned. Idempotent.
    // The history stays readable.
    void unplug();
    bool plugged() const;

    // The frame a status request would get now.
    std::array<unsigned char, 6> statusFrame() const;
    bool autoStatus() const;
    bool motorMoving() const;

    // History since construction or the last clear().
    Bytes received() const;               // every byte read, in order
    std::vector<Printed> printed() const; // decoded items, in order
    std::vector<Bytes> sent() const;      // every message written, in order
    // Forgets the history (received, printed, sent); the printer's state stays.
    void clear();

    // Waits until `predicate(*this)` is true (checked at once and after every event: bytes
    // received, message sent, knob changed, unplug) or the timeout passes; returns the last
    // result. The predicate runs on the calling thread without the lock.
    bool waitFor(const std::function<bool(const Tl60&)>& predicate,
                 std::chrono::milliseconds timeout);
    bool waitForBytes(std::size_t count, std::chrono::milliseconds timeout); // received()
    bool waitForItems(std::size_t count, std::chrono::milliseconds timeout); // printed()
    bool waitForItem(Printed::Kind kind, std::chrono::milliseconds timeout); // one of kind
    bool waitForSent(std::size_t count, std::chrono::milliseconds timeout);  // sent()

private:
    using Clock = std::chrono::steady_clock;
    struct Outgoing {
        std::string what; // "status" or "serial", for the trace
        Bytes bytes;
    };

    void run();
    void wake();
    // With the lock held:
    std::array<unsigned char, 6> frameLocked() const;
    bool motorLocked(Clock::time_point now) const;
    void changedLocked();
    void handleLocked(const Printed& item, Clock::time_point now);
    void tickLocked(Clock::time_point now);
    Clock::time_point nextDeadlineLocked(Clock::time_point now) const;
    // Printer thread, without the lock: writes one message; false if it could not.
    bool writeMessage(const Bytes& bytes);

    const int mFd;
    const Ownership mOwnership;
    const Tl60Options mOptions;
    int mWakeFd = -1;

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    unsigned long mGeneration = 0; // bumped on every event, for waitFor

    // State (mMutex).
    bool mPaperOut = false;
    bool mNearEnd = false;
    bool mOnMark = false;
    bool mCoverOpen = false;
    bool mMarkJam = false;
    bool mCutterError = false;
    bool mMute = false;
    bool mAutoStatus = false;
    bool mStopping = false;
    bool mPlugged = true;
    Bytes mSerial;
    Clock::time_point mPrintUntil{}; // the motor moves until then (printing)
    Clock::time_point mCutUntil{};   // the motor moves until then (cutting)
    Clock::time_point mRepeatAt{};   // the frame is sent again then (after a cut)
    bool mRepeatPending = false;
    bool mMotorWas = false;                    // motor state at the last tick
    std::array<unsigned char, 6> mLastFrame{}; // last frame queued automatically
    bool mLastFrameValid = false;
    std::vector<Outgoing> mQueue;    // messages waiting for their turn
    Clock::time_point mNextSendAt{}; // messageGap after the last message

    // History (mMutex).
    Bytes mReceived;
    std::vector<Printed> mPrinted;
    std::vector<Bytes> mSent;

    // Printer thread only.
    EscPosDecoder mDecoder;
    std::thread mThread;
};

} // namespace vprinter
