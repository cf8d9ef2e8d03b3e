// Semaphore: a counting, process-private POSIX semaphore with millisecond time-outs.
#pragma once

#include <semaphore.h>

#include <string>

class Semaphore {
public:
    // Creates the semaphore with the value min(initial, max). When creation fails (for instance
    // a value above SEM_VALUE_MAX) the object has no semaphore: Post, Wait and Try return false.
    Semaphore(const std::string& name, unsigned initial, unsigned max);
    ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Posts `count` times (0 is taken as 1), stopping at the first failure; the max count does
    // not limit posts. False when there is no semaphore or a post failed.
    bool Post(unsigned count = 1);
    // ms < 0: blocks until a count is taken (false if interrupted by a signal, no retry);
    // ms == 0: as Try; ms > 0: waits until now + ms on the realtime clock, retrying when
    // interrupted. True when a count was taken; false on time-out or any error.
    bool Wait(int ms = -1);
    // Takes a count if one is available; never blocks.
    bool Try();

    unsigned GetMaxCount() const { return mMaxCount; }
    const std::string& GetName() const { return mName; }

private:
    std::string mName;
    unsigned mMaxCount;
    sem_t mSemaphore;
    bool mValid = false; // the POSIX semaphore exists; written only by the constructor
};
