// Custom::TL60::Driver: device access, reader thread, auto-status and the TL60's commands.
#include "printers/custom/tl60/Driver.h"

#include <aio.h>
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "Helpers.h"
#include "String.h"

namespace zelvo::PrinterManager::Printers::Custom::TL60 {

namespace {

using namespace std::chrono_literals;

constexpr unsigned long BufferSize = 512;
constexpr unsigned long FontADots = 18;
constexpr unsigned long FontBDots = 14;
constexpr unsigned long MaxDots = 412;

constexpr unsigned char Dle = 0x10;
constexpr unsigned char Esc = 0x1B;
constexpr unsigned char Gs = 0x1D;
constexpr unsigned char Fs = 0x1C;

constexpr unsigned char StatusRequest[] = {Dle, 0x04, 0x14};
constexpr unsigned char AutoStatusEnable[] = {Gs, 0xE0, 0x0F};
constexpr unsigned char SerialNumberRequest[] = {Fs, 0xEA, 0x52};
constexpr unsigned char LeftMargin18Dots[] = {Gs, 0x4C, 0x12, 0x00};
constexpr unsigned char PrintingArea412Dots[] = {Gs, 0x57, 0x9C, 0x01};
constexpr unsigned char AfterStyleChange[] = {Esc, 0x78, 0x02};
constexpr unsigned char CodeTable = 0x74;          // ESC t n
constexpr unsigned char UpsideDown = 0x7B;         // ESC { n
constexpr unsigned char FontSelect[] = {Fs, 0x25}; // FS % n
constexpr unsigned char FullCut[] = {Esc, 0x69};
constexpr unsigned char PartialCut[] = {Esc, 0x6D};

constexpr const char* Model = "Custom TL60";
constexpr const char* Manufacturer = "Custom";

constexpr auto StartUpSettle = 1000ms; // lets the reader start before the first request
constexpr auto AfterStatusRequest = 10ms;
constexpr auto SerialNumberTimeout = 5000ms;
constexpr auto PrintRunTimeout = 10000ms; // a cut waits this long for the motor to stop
constexpr auto TimeToCut = 500ms;         // then this long for an error report
constexpr auto MotorIdleSettle = 40ms;    // lets a motor that is about to start report it
constexpr auto StatusPoll = 5ms;

constexpr auto SelectTimeout = 50ms;
constexpr auto IdleSleep = 10ms;
constexpr auto ErrorSleep = 1000ms; // after a failed wait or read, and while the device is gone
constexpr size_t ReadChunk = 512;

constexpr unsigned long MaxAioBytes = 2048;
constexpr auto AioRetry = 50ms;
constexpr time_t AioWaitSeconds = 10;
constexpr long AioWaitNanoseconds = 1;

// Auto-status frame: 6 bytes, the first DLE; bytes 1 to 5 carry the state.
constexpr size_t StatusFrameSize = 6;
struct StatusBitRule {
    size_t byte;        // index in the frame
    unsigned char mask; // the bit is set when byte & mask is not 0
    unsigned char bit;  // Types::Status bit number
};
constexpr StatusBitRule StatusBits[] = {
    {3, 0x04, Types::Status::BitMotorMoving},
    {4, 0x80, Types::Status::BitMarkDetectionPaperJam},
    {5, 0x01, Types::Status::BitAutocutter},
    {4, 0x01, Types::Status::BitHead},
    {4, 0xFF, Types::Status::BitAutomaticRecovery}, // any recoverable error reported in byte 4
    {2, 0x04, Types::Status::BitPaperNearEnd},
    {2, 0x01, Types::Status::BitOutOfPaper},
    {2, 0x80, Types::Status::BitPaperOnMark},
};

std::string hex(const std::vector<unsigned char>& bytes) {
    return Helpers::bytesToHex(bytes);
}

} // namespace

Driver::Driver(std::string path)
    : Protocol::EscPos::Driver(BufferSize, FontADots, FontBDots, MaxDots), mFd(-1),
      mRunning(false) {
    log(Log::Info, "Opening device %s...", path.c_str());
    // O_NOCTTY: a pseudo-terminal or serial node must never become the daemon's controlling
    // terminal. A failed open is not reported here; the first write fails instead.
    mFd = ::open(path.c_str(), O_RDWR | O_EXCL | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);

    // mRunning is raised before the thread exists (the reader raises it again when it starts):
    // a stop request can then never be overwritten by a reader that starts late.
    mRunning = true;
    try {
        mListenerThread = std::thread(&Driver::listenerFunction, this);
    } catch (...) {
        mRunning = false;
        stop();
        throw;
    }

    try {
        std::this_thread::sleep_for(StartUpSettle);
        log(Log::Info, "Opened device %s.", path.c_str());
        reqStatus();
        std::this_thread::sleep_for(AfterStatusRequest);
        activateAutoStatus();
        readSerialNumber();
        Driver::setDefaults();
        Driver::setConfig(mConfig.toJson()); // sends the pending ESC t first
        Driver::setStyle(Types::Style(mStyle));
    } catch (...) {
        stop();
        throw;
    }
}

Driver::~Driver() {
    log(Log::Info, "Closing device...");
    stop();
    log(Log::Info, "Closed device.");
}

void Driver::stop() {
    mRunning = false;
    if (mListenerThread.joinable())
        mListenerThread.join();
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
}

void Driver::reset() {
    throw std::invalid_argument("Operation not supported.");
}

void Driver::setDefaults() {
    Protocol::EscPos::Driver::setDefaults();
    increaseMargins();
    writeCodeTable();
}

Types::Status Driver::getStatus() {
    return status();
}

nlohmann::json Driver::getConfig() {
    return mConfig.toJson();
}

void Driver::setConfig(nlohmann::json config) {
    log(Log::Debug, "Setting config...");
    mConfig.updateFromJson(config);
    const bool reverse = mConfig.reverse();
    write(Esc);
    write(UpsideDown);
    write(reverse ? 1 : 0);
    // The printer now prints in this orientation, so the base must order lines to match.
    mStyle.setReverse(reverse);
    writeCodeTable();
    for (unsigned char byte : FontSelect)
        write(byte);
    write(static_cast<unsigned char>(mConfig.fontType()));
    transmit();
    increaseMargins();
}

std::string Driver::getModel() const {
    return Model;
}

Printers::Driver::ConnectionType Driver::getConnectionType() const {
    return USB;
}

std::string Driver::getFirmwareVersion() const {
    return "";
}

std::string Driver::getManufacturer() const {
    return Manufacturer;
}

std::string Driver::getSerialNumber() const {
    return mSerialNumber;
}

void Driver::setStyle(const Types::Style& style) {
    Protocol::EscPos::Driver::setStyle(style);
    // The printer drops its margins on a style change; they are sent again every time.
    increaseMargins();
    for (unsigned char byte : AfterStyleChange)
        write(byte);
    transmit();
}

// The cut command only starts the print run: the printer reports the motor stopped when the
// paper has left, and an autocutter fault shortly after. Neither result is turned into an
// exception: the printer's state reaches the manager through getStatus(), which refuses the next
// print while an error flag is set. An error seen here is logged.
void Driver::cut(bool full) {
    log(Log::Debug, "Cutting paper...");
    for (unsigned char byte : full ? FullCut : PartialCut)
        write(byte);
    transmit();
    waitForPrintRunEnd(PrintRunTimeout);
    const Types::Status after = waitForError(TimeToCut);
    if (after.hasError())
        log(Log::Warning, "Printer reported an error after the cut: 0x%08lx",
            after.toBitset().to_ulong());
    log(Log::Debug, "Cut paper.");
}

void Driver::printUtf8Line(const std::string& text) {
    const std::string bytes = Helpers::utf8ToIbmCcsid(text, mConfig.ibmCcsid());
    log(Log::Debug, "UTF8 conversion (%s -> [%s])", text.c_str(),
        hex(std::vector<unsigned char>(bytes.begin(), bytes.end())).c_str());
    printString(bytes);
}

// The buffer is emptied whatever happens: after a failure its bytes are lost and the next
// operation starts clean.
void Driver::transmit() {
    const unsigned long size = mBuffer.size();
    log(Log::Debug, "Transmitting %lu bytes...", size);
    unsigned long written = 0;
    try {
        if (size > 0)
            written = write_device(mFd, reinterpret_cast<const char*>(mBuffer.data()), size);
    } catch (...) {
        mBuffer.clear();
        throw;
    }
    mBuffer.clear();
    if (written < size)
        throw std::runtime_error(String::format("Incomplete write (%lu of %lu)", written, size));
}

// The descriptor is non-blocking, so the AIO worker's write() fails with EAGAIN while the
// printer's input is full; the request is then submitted again after a pause, for as long as the
// reader runs (a vanished printer stops the loop through the destructor). A request still in
// progress after the 10 s wait is cancelled and reaped before the control block leaves scope.
unsigned long Driver::write_device(int fd, const char* data, unsigned long size) {
    std::lock_guard<std::mutex> lock(mWriteMutex);

    struct aiocb request {};
    request.aio_fildes = fd;
    request.aio_buf = const_cast<char*>(data);
    request.aio_nbytes = std::min(size, MaxAioBytes);
    request.aio_sigevent.sigev_notify = SIGEV_NONE;

    bool completed = false;
    while (mRunning) {
        if (aio_write(&request) != 0) {
            const int error = errno;
            if (error == EAGAIN) {
                std::this_thread::sleep_for(AioRetry);
                continue;
            }
            Log::error("asynchronous write failed: [%d] %s", error, strerror(error));
            throw std::runtime_error(
                String::format("asynchronous write failed: [%d] %s", error, strerror(error)));
        }

        const struct aiocb* list[] = {&request};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(AioWaitSeconds);
        int error = aio_error(&request);
        while (error == EINPROGRESS && std::chrono::steady_clock::now() < deadline) {
            const struct timespec wait = {AioWaitSeconds, AioWaitNanoseconds};
            aio_suspend(list, 1, &wait); // EINTR or EAGAIN: look again below
            error = aio_error(&request);
        }
        if (error == 0) {
            completed = true;
            break;
        }
        if (error == EINPROGRESS) {
            if (aio_cancel(fd, &request) == AIO_NOTCANCELED) {
                while (aio_error(&request) == EINPROGRESS)
                    aio_suspend(list, 1, nullptr);
            }
            aio_return(&request);
        } else {
            aio_return(&request); // releases the finished request
            if (error == EAGAIN) {
                std::this_thread::sleep_for(AioRetry);
                continue;
            }
        }
        Log::error("asynchronous operation failed: [%d] %s", error, strerror(error));
        throw std::runtime_error(
            String::format("asynchronous operation failed: [%d] %s", error, strerror(error)));
    }
    if (!completed)
        return 0;

    const ssize_t result = aio_return(&request);
    if (result < 0) {
        const int error = errno;
        Log::error("asynchronous returned error: [%d] %s", error, strerror(error));
        throw std::runtime_error(
            String::format("asynchronous returned error: [%d] %s", error, strerror(error)));
    }
    return static_cast<unsigned long>(result);
}

// A printer that is gone shows in two ways: a USB printer node fails its reads (EIO), while a
// pseudo-terminal whose other end closed selects readable and reads 0 bytes (end of file). Both
// mean lost contact: the status turns inactive and the reader backs off for a second instead of
// spinning on a descriptor that is always readable.
void Driver::listenerFunction() {
    mRunning = true;
    while (mRunning) {
        fd_set readable;
        FD_ZERO(&readable);
        int ready = -1;
        int error = EBADF;
        // FD_SET on a descriptor outside the set is undefined: treat it as the failure select()
        // would report for an unusable descriptor.
        if (mFd >= 0 && mFd < FD_SETSIZE) {
            FD_SET(mFd, &readable);
            struct timeval timeout = {0, std::chrono::microseconds(SelectTimeout).count()};
            ready = select(mFd + 1, &readable, nullptr, nullptr, &timeout);
            error = errno;
        }
        if (ready < 0) {
            if (error == EINTR)
                continue;
            log(Log::Error, "select() failed (%d) - %s", error, strerror(error));
            setActive(false);
            pause(ErrorSleep);
            continue;
        }
        if (ready == 0) {
            std::this_thread::sleep_for(IdleSleep);
            continue;
        }

        std::vector<unsigned char> received;
        bool lost = false;
        unsigned char chunk[ReadChunk];
        while (true) {
            const ssize_t count = ::read(mFd, chunk, sizeof chunk);
            if (count > 0) {
                received.insert(received.end(), chunk, chunk + count);
                setActive(true);
                continue;
            }
            if (count == 0) {
                log(Log::Error, "read() reached end of file - device gone");
                lost = true;
                break;
            }
            const int readError = errno;
            if (readError == EAGAIN || readError == EWOULDBLOCK)
                break;
            if (readError == EINTR)
                continue;
            log(Log::Error, "read() failed (%d) - %s", readError, strerror(readError));
            lost = true;
            break;
        }
        // Bytes that arrived before the loss are still delivered, before the status turns
        // inactive (a status frame among them would otherwise mark it active again).
        // Nothing may end the reader: a failure while handling one chunk is logged and the
        // chunk dropped.
        if (!received.empty()) {
            try {
                onBytesReceived(std::move(received));
            } catch (const std::exception& e) {
                log(Log::Error, "Dropping received bytes: %s", e.what());
            }
        }
        if (lost) {
            setActive(false);
            pause(ErrorSleep);
        }
    }
}

void Driver::onBytesReceived(std::vector<unsigned char> bytes) {
    if (bytes.front() == Dle)
        parseAutoStatus(std::move(bytes));
    else
        mDataReceived.emit(std::move(bytes));
}

void Driver::parseAutoStatus(std::vector<unsigned char> bytes) {
    log(Log::Info, "auto-status: [%s]", hex(bytes).c_str());
    if (bytes.size() % StatusFrameSize != 0) {
        log(Log::Warning,
            "auto-status: invalid payload size (actual=%zu, expected=6). Ignoring status",
            bytes.size());
        return;
    }
    // Several frames in one chunk: only the newest state counts.
    const unsigned char* frame = bytes.data() + bytes.size() - StatusFrameSize;
    if (frame[0] != Dle) {
        log(Log::Warning, "auto-status: invalid format . Ignoring status");
        return;
    }
    std::bitset<32> bits;
    bits.set(Types::Status::BitActive);
    for (const StatusBitRule& rule : StatusBits)
        if ((frame[rule.byte] & rule.mask) != 0)
            bits.set(rule.bit);

    Types::Status decoded;
    {
        std::lock_guard<std::mutex> lock(mStatusMutex);
        mStatus.fromBitset(bits);
        decoded = mStatus;
    }
    mStatusReceived.emit(decoded);
}

unsigned long Driver::rpc(const std::vector<unsigned char>& request,
                          std::vector<unsigned char>& response, std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> rpcLock(mRpcMutex);
    log(Log::Debug, "requested [%s]", hex(request).c_str());

    // The slot runs on the reader thread; it takes only `mutex` and records the first chunk.
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<std::vector<unsigned char>> answer;
    const int slot = mDataReceived.connect([&](std::vector<unsigned char> bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        if (answer)
            return;
        log(Log::Debug, "received %zu bytes: [%s]", bytes.size(), hex(bytes).c_str());
        answer = std::move(bytes);
        arrived.notify_all();
    });
    struct Disconnect {
        Signal<std::vector<unsigned char>>& signal;
        int id;
        ~Disconnect() { signal.disconnect(id); }
    } disconnect{mDataReceived, slot};

    for (unsigned char byte : request)
        write(byte);
    transmit();

    // A printer busy printing answers late: the wait is extended while its motor runs.
    bool received = false;
    while (true) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            received = arrived.wait_for(lock, timeout, [&] { return answer.has_value(); });
        }
        if (received || !(status().getIsMotorRunning() && mRunning))
            break;
    }
    if (!received) {
        log(Log::Debug, "Request timed-out");
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex);
    response = std::move(*answer);
    return response.size();
}

void Driver::readSerialNumber() {
    log(Log::Info, "Reading Serial Number");
    std::vector<unsigned char> response;
    rpc(std::vector<unsigned char>(std::begin(SerialNumberRequest), std::end(SerialNumberRequest)),
        response, SerialNumberTimeout);
    log(Log::Info, "Got Serial Number: [%s]", hex(response).c_str());
    // The printer pads digits with 00 bytes where it means the digit 0.
    std::replace(response.begin(), response.end(), static_cast<unsigned char>(0x00),
                 static_cast<unsigned char>('0'));
    mSerialNumber.assign(response.begin(), response.end());
    log(Log::Info, "Parsed Serial Number: '%s'", mSerialNumber.c_str());
}

Types::Status Driver::waitForPrintRunEnd(const std::chrono::milliseconds& timeout) {
    if (!status().getIsMotorRunning())
        std::this_thread::sleep_for(MotorIdleSettle);
    const auto accepted = waitForStatus(
        timeout, [](const Types::Status& s) { return !s.getIsMotorRunning() || s.hasError(); },
        true, "Wait for current print run to end...", "Waited %zums for print run to end");
    if (accepted)
        return *accepted;
    log(Log::Warning, "Did not receive required status ((not motor) or (error))");
    return status();
}

Types::Status Driver::waitForError(const std::chrono::milliseconds& timeout) {
    const auto accepted = waitForStatus(
        timeout, [](const Types::Status& s) { return s.hasError(); }, false,
        "Wait for cut to end...", "Waited %zums for cut to end");
    return accepted ? *accepted : status();
}

std::optional<Types::Status>
Driver::waitForStatus(const std::chrono::milliseconds& timeout,
                      const std::function<bool(const Types::Status&)>& accept, bool logDropped,
                      const char* waiting, const char* waited) {
    // The slot runs on the reader thread; it takes only `mutex` and keeps the first accepted
    // status.
    std::mutex mutex;
    std::optional<Types::Status> accepted;
    const int slot = mStatusReceived.connect([&](Types::Status received) {
        std::lock_guard<std::mutex> lock(mutex);
        if (accepted)
            return;
        if (accept(received))
            accepted = received;
        else if (logDropped)
            log(Log::Warning, "Dropping indication");
    });

    log(Log::Debug, "%s", waiting);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t count = 0;
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (accepted)
                break;
        }
        if (std::chrono::steady_clock::now() >= deadline || !mRunning)
            break;
        std::this_thread::sleep_for(StatusPoll);
        count += StatusPoll.count();
    }
    mStatusReceived.disconnect(slot);
    if (count != 0)
        log(Log::Debug, waited, count);
    return accepted;
}

void Driver::reqStatus() {
    Log::info("Requesting status");
    for (unsigned char byte : StatusRequest)
        write(byte);
    transmit();
}

void Driver::activateAutoStatus() {
    Log::info("Activating Autostatus");
    for (unsigned char byte : AutoStatusEnable)
        write(byte);
    transmit();
}

void Driver::increaseMargins() {
    for (unsigned char byte : LeftMargin18Dots)
        write(byte);
    for (unsigned char byte : PrintingArea412Dots)
        write(byte);
    transmit();
}

void Driver::writeCodeTable() {
    write(Esc);
    write(CodeTable);
    write(static_cast<unsigned char>(mConfig.charCodeTableNumber()));
}

Types::Status Driver::status() const {
    std::lock_guard<std::mutex> lock(mStatusMutex);
    return mStatus;
}

void Driver::setActive(bool active) {
    std::lock_guard<std::mutex> lock(mStatusMutex);
    mStatus.setActive(active);
}

// The destructor waits for the reader; sleeping in short steps keeps that wait short even when
// the reader is backing off after an error.
void Driver::pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (mRunning && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(IdleSleep);
}

void Driver::log(Log::Level level, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Log::vprintTagged(level, "[Customm::TL60::Driver] ", format, args);
    va_end(args);
}

} // namespace zelvo::PrinterManager::Printers::Custom::TL60
