// Signal: a thread-safe list of callbacks, called in ascending id order on each emission.
#pragma once

#include <functional>
#include <map>
#include <mutex>

template <typename... Args> class Signal {
public:
    using Slot = std::function<void(Args...)>;

    // Stores the slot and returns its id: the first is 1, ids are never reused.
    int connect(Slot slot) {
        std::lock_guard<std::mutex> lock(mMutex);
        mSlots.emplace(++mLastId, std::move(slot));
        return mLastId;
    }

    template <typename T> int connect_member(T* object, void (T::*method)(Args...)) {
        return connect([object, method](Args... args) { (object->*method)(args...); });
    }

    void disconnect(int id) {
        std::lock_guard<std::mutex> lock(mMutex);
        mSlots.erase(id);
    }

    // Runs every slot on the calling thread while the mutex is held, so emissions from several
    // threads never overlap. A slot's exception ends the emission and reaches the caller after
    // the mutex is released. A slot must not connect to, disconnect from or emit this signal.
    void emit(Args... args) {
        std::lock_guard<std::mutex> lock(mMutex);
        for (const auto& entry : mSlots) {
            Slot copy = entry.second;
            copy(args...);
        }
    }

private:
    // Guards mSlots and mLastId, and is held while slots run. Lock order: a caller's own locks
    // (the printer manager's driver lock, for instance) come first, this mutex last; so a slot
    // must never wait for a lock that its emitter's callers hold while they emit.
    std::mutex mMutex;
    std::map<int, Slot> mSlots;
    int mLastId = 0;
};
