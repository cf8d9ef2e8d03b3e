// Semaphore: sem_init/sem_post/sem_wait/sem_trywait/sem_timedwait wrappers.
#include "Semaphore.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

Semaphore::Semaphore(const std::string& name, unsigned initial, unsigned max)
    : mName(name), mMaxCount(max), mSemaphore{} {
    mValid = sem_init(&mSemaphore, 0, std::min(initial, max)) == 0;
}

Semaphore::~Semaphore() {
    if (mValid)
        sem_destroy(&mSemaphore);
}

bool Semaphore::Post(unsigned count) {
    if (!mValid)
        return false;
    if (count == 0)
        count = 1;
    for (unsigned i = 0; i < count; ++i) {
        if (sem_post(&mSemaphore) != 0)
            return false;
    }
    return true;
}

bool Semaphore::Try() {
    return mValid && sem_trywait(&mSemaphore) == 0;
}

bool Semaphore::Wait(int ms) {
    if (!mValid)
        return false;
    if (ms < 0)
        return sem_wait(&mSemaphore) == 0;
    if (ms == 0)
        return Try();

    timespec deadline{};
    if (clock_gettime(CLOCK_REALTIME, &deadline) != 0)
        return false;
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec > 999999999L) {
        deadline.tv_sec += deadline.tv_nsec / 1000000000L;
        deadline.tv_nsec %= 1000000000L;
    }
    int rc;
    do {
        rc = sem_timedwait(&mSemaphore, &deadline);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}
