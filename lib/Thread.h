// Thread: a native thread running a body function (or the virtual task) with a cooperative
// stop request and a static millisecond sleep.
#pragma once

#include <pthread.h>

#include <atomic>

#include "Log.h"
#include "Semaphore.h"

class Thread {
public:
    using Function = void (*)(void*);

    // Idle and not joinable. With a null body, run executes the virtual task instead.
    explicit Thread(Function body = nullptr, void* data = nullptr);
    // Detaches a thread that is still joinable (never joins), then destroys the semaphore.
    // Joining or detaching before destruction is the owner's business: a body still running on
    // a detached thread must not outlive the object, which its entry function still touches.
    virtual ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts a native thread executing the body with the user data (the argument becomes the
    // user data when none is stored). False when the body is running, when the previous native
    // thread was neither joined nor detached (its handle would be lost), or when creation fails.
    // Stop requests left over from an earlier run are discarded first.
    bool run(void* data = nullptr);
    // False when called from the thread itself, when not joinable or when joining fails.
    bool join();
    // False when not joinable or when detaching fails.
    bool detach();
    // True from a successful run until the body has returned.
    bool running() const { return mRunning.load() == 1; }

    static bool yield();
    // Suspends the calling thread for ms milliseconds (nothing for ms <= 0).
    static void sleep(int ms);

    // Asks the body to finish: posts the stop-request semaphore.
    bool terminate();
    // ms == 0: takes a pending stop request without blocking; otherwise waits up to ms (ms < 0:
    // without limit) for one. True when a request was taken (it is consumed).
    bool terminated(int ms = 0);

protected:
    // Runs when there is no body function; the base does nothing and returns null.
    virtual void* task(void* data);

private:
    static void* threadFunction(void* self);
    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Function mBody;
    void* mData;
    std::atomic<int> mRunning{0}; // 1 while the body executes; written by run and the thread
    bool mJoinable = false;       // owner thread only (run, join, detach, destructor)
    pthread_t mHandle{};          // owner thread only
    Semaphore mStopRequest;
};
