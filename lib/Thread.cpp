// Thread: pthread creation, join/detach, the stop-request semaphore and sleeping.
#include "Thread.h"

#include <cxxabi.h>
#include <sched.h>

#include <cerrno>
#include <cstdarg>
#include <ctime>
#include <exception>
#include <string>

namespace {
// The Thread object whose entry function runs on the current thread, for join-from-itself.
thread_local const Thread* tCurrent = nullptr;
} // namespace

Thread::Thread(Function body, void* data) : mBody(body), mData(data), mStopRequest("", 0, 1) {}

Thread::~Thread() {
    if (mJoinable) {
        log(Log::Warning, "destroyed while joinable, detaching");
        detach();
    }
}

void Thread::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[Thread] ", fmt, args);
    va_end(args);
}

bool Thread::run(void* data) {
    if (mJoinable)
        return false;
    int idle = 0;
    // Marked running before the native thread exists, so running() holds as soon as run
    // returns true and a second run cannot slip in before the thread starts.
    if (!mRunning.compare_exchange_strong(idle, 1))
        return false;
    while (mStopRequest.Try()) {
    }
    if (mData == nullptr)
        mData = data;
    if (pthread_create(&mHandle, nullptr, &Thread::threadFunction, this) != 0) {
        mRunning.store(0);
        return false;
    }
    mJoinable = true;
    return true;
}

void* Thread::threadFunction(void* self) {
    Thread* thread = static_cast<Thread*>(self);
    tCurrent = thread;
    thread->mRunning.store(1);
    try {
        if (thread->mBody)
            thread->mBody(thread->mData);
        else
            thread->task(thread->mData);
    } catch (abi::__forced_unwind&) {
        thread->mRunning.store(0);
        tCurrent = nullptr;
        throw;
    } catch (const std::exception& e) {
        log(Log::Error, "body failed: %s", e.what());
    } catch (...) {
        log(Log::Error, "body failed: unknown exception");
    }
    tCurrent = nullptr;
    // The last access to the object: the owner may destroy it once running() reads false.
    thread->mRunning.store(0);
    return nullptr;
}

void* Thread::task(void*) {
    return nullptr;
}

bool Thread::join() {
    if (tCurrent == this || !mJoinable)
        return false;
    mJoinable = false;
    if (pthread_join(mHandle, nullptr) != 0) {
        mJoinable = true;
        return false;
    }
    return true;
}

bool Thread::detach() {
    if (!mJoinable || pthread_detach(mHandle) != 0)
        return false;
    mJoinable = false;
    return true;
}

bool Thread::yield() {
    return sched_yield() == 0;
}

void Thread::sleep(int ms) {
    if (ms <= 0)
        return;
    timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

bool Thread::terminate() {
    return mStopRequest.Post(1);
}

bool Thread::terminated(int ms) {
    return ms == 0 ? mStopRequest.Try() : mStopRequest.Wait(ms);
}
