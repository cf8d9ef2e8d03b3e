// Custom::TL60::Driver: the Custom TL60 USB ticket printer (auto-status, serial number, margins).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Log.h"
#include "Signal.h"
#include "printers/custom/tl60/Config.h"
#include "printers/escpos/Driver.h"
#include "types/Status.h"

namespace zelvo::PrinterManager::Printers::Custom::TL60 {

// Owns the device descriptor and one reader thread. The reader thread receives everything the
// printer sends: 6-byte auto-status frames update mStatus, any other chunk goes to the waiting
// request (rpc). Device writes are POSIX AIO requests on the non-blocking descriptor.
//
// Threads: the caller's (one call at a time, under the printer manager's driver lock) and the
// reader thread, started by the constructor and joined by the destructor (or by the constructor
// when it fails).
class Driver : public Protocol::EscPos::Driver {
public:
    // Opens `path`, starts the reader, then requests the status, enables auto-status, reads the
    // serial number and brings the printer to the defaults and the stored configuration. Takes
    // about one second. An unopenable device makes the first write (and so the constructor) throw.
    explicit Driver(std::string path);
    // Stops and joins the reader thread, then closes the device.
    ~Driver() override;

    // Throws std::invalid_argument "Operation not supported.".
    void reset() override;
    // The base's defaults, the margins, then ESC t <code table> (left in the buffer).
    void setDefaults() override;
    // A copy of the last known status; active false once contact is lost.
    Types::Status getStatus() override;
    nlohmann::json getConfig() override;
    // Merges the section, then sends upside-down mode, code table and font, and the margins.
    void setConfig(nlohmann::json config) override;

    std::string getModel() const override;
    ConnectionType getConnectionType() const override;
    std::string getFirmwareVersion() const override;
    std::string getManufacturer() const override;
    // Read once at construction; empty when the printer did not answer.
    std::string getSerialNumber() const override;

    // The base's setStyle, then the margins and ESC x 02.
    void setStyle(const Types::Style& style) override;
    // ESC i (full) or ESC m (partial), then waits for the print run to end (up to 10 s) and for
    // an error report (500 ms). Returns normally whatever status arrives.
    void cut(bool full) override;
    // UTF-8 to the configured code page, then printString.
    void printUtf8Line(const std::string& text) override;
    // Writes and empties the buffer. Throws std::runtime_error "Incomplete write (<written> of
    // <buffered>)" when not every byte reached the device, or the AIO error texts.
    void transmit() override;

private:
    // Test access: stops the reader thread so that writes can be observed with mRunning false.
    friend struct DriverTestAccess;

    // One AIO write of at most 2048 bytes under mWriteMutex; the number of bytes written, 0 when
    // the reader is not running.
    unsigned long write_device(int fd, const char* data, unsigned long size);
    void listenerFunction();
    void onBytesReceived(std::vector<unsigned char> bytes);
    void parseAutoStatus(std::vector<unsigned char> bytes);
    // Sends `request` and waits for the next non-status chunk; its size, or 0 on time-out
    // (`response` unchanged then). The wait is extended while the motor is moving.
    unsigned long rpc(const std::vector<unsigned char>& request,
                      std::vector<unsigned char>& response, std::chrono::milliseconds timeout);
    void readSerialNumber();
    // The first status showing the motor stopped or an error, else a copy of mStatus.
    Types::Status waitForPrintRunEnd(const std::chrono::milliseconds& timeout);
    // The first status with an error, else a copy of mStatus.
    Types::Status waitForError(const std::chrono::milliseconds& timeout);
    // The first status `accept` takes within `timeout` (polled every 5 ms), if any.
    std::optional<Types::Status>
    waitForStatus(const std::chrono::milliseconds& timeout,
                  const std::function<bool(const Types::Status&)>& accept, bool logDropped,
                  const char* waiting, const char* waited);
    void reqStatus();
    void activateAutoStatus();
    // Left margin 18 dots and printing area 412 dots, transmitted.
    void increaseMargins();
    // ESC t with the low 8 bits of the configured code table.
    void writeCodeTable();
    // Ends the reader thread and closes the device.
    void stop();

    Types::Status status() const;
    void setActive(bool active);
    // Sleeps up to `duration`, returning early once mRunning is false.
    void pause(std::chrono::milliseconds duration) const;

    // "[Customm::TL60::Driver] " + the message, handed to Log.
    void log(Log::Level level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Locks, in the order they may nest: mRpcMutex (a whole exchange, caller's thread), then
    // mWriteMutex (one device write) or a signal's own lock (connect/disconnect), then
    // mStatusMutex, which is always taken last and only for a copy. The reader thread never
    // holds mStatusMutex while it emits, and the slots take only a lock local to their waiter.
    int mFd;                         // device descriptor, -1 when opening failed; fixed after open
    Config mConfig;                  // caller's thread only
    mutable std::mutex mStatusMutex; // guards mStatus
    Types::Status mStatus;           // last known status: written by the reader, read by callers
    std::string mSerialNumber;       // fixed after construction
    std::atomic<bool> mRunning;      // the reader thread runs; cleared to stop it and all waits
    std::thread mListenerThread;     // the reader; joined by stop()
    std::mutex mRpcMutex;            // held for one whole request/response exchange
    std::mutex mWriteMutex;          // held for one device write
    // Emitted on the reader thread with every chunk that is not a status frame.
    Signal<std::vector<unsigned char>> mDataReceived;
    // Emitted on the reader thread with every decoded status frame.
    Signal<Types::Status> mStatusReceived;
};

} // namespace zelvo::PrinterManager::Printers::Custom::TL60
