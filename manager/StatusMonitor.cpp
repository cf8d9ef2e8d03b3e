// PrinterManager's status monitor: one tick of the periodic status timer.
#include "PrinterManager.h"

namespace zelvo::PrinterManager {

// Runs on the timer's thread. Exceptions (a driver constructor, getStatus, a slot) are logged
// here so that the monitor keeps ticking; a failure that repeats on every tick (a device that
// stays busy, say) is logged once, and again only when its text changes.
void PrinterManager::statusFunction(void* manager) {
    auto* self = static_cast<PrinterManager*>(manager);
    std::string failure;
    try {
        self->statusFunction();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown exception";
    }
    if (!failure.empty() && failure != self->mLastMonitorFailure)
        log(Log::Error, "Status monitor: %s", failure.c_str());
    self->mLastMonitorFailure = failure;
}

void PrinterManager::statusFunction() {
    std::unique_lock<std::mutex> lock(mDriverMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    // A tick that was already under way when the manager stopped must not detect a printer.
    if (!mMonitoring)
        return;
    if (!mDriver) {
        replaceDriver(driverFactory(mDevicePath));
        if (!mDriver) {
            mPreviousStatus.reset();
            return;
        }
    }
    Types::Status status = mDriver->getStatus();
    if (!status.active()) {
        replaceDriver(nullptr);
        mPreviousStatus.reset();
        // A driver that lost its printer may still carry the active bit (4) from its last
        // status message; the lost contact is published with it clear, so subscribers see it
        // and the first status of a printer plugged in again differs and is published too.
        std::bitset<32> bits = status.toBitset();
        bits.reset(4);
        status.fromBitset(bits);
    }
    if (status.toBitset() == mPreviousStatus)
        return;
    mStatusSignal.emit(status);
    mPreviousStatus = status.toBitset();
}

} // namespace zelvo::PrinterManager
