// Timer: the worker loop and its shared state.
//
// Times are measured on the steady clock, so that a step of the wall clock (NTP setting the
// time after boot) neither stretches nor shortens a countdown.
#include "Timer.h"

#include <cxxabi.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;

struct Timer::State {
    State(Type type, Callback callback, void* data) : type(type), callback(callback), data(data) {}

    const Type type;
    const Callback callback; // immutable after construction, read without the mutex
    void* const data;

    // Emitted by the worker with `mutex` released; their own mutexes come after any lock of
    // the emitting thread, and `mutex` is never taken while one of them is held by the worker.
    Signal<> timeout;
    Signal<> stopped;

    // Guards every field below. A leaf lock: never held while a signal is emitted or the plain
    // callback runs, never held while joining, and no other lock is taken while it is held.
    // Lock order therefore: a handler's or caller's own locks, a Signal's mutex, then this one.
    std::mutex mutex;
    std::condition_variable wake; // notified on every change the worker must see
    bool running = false;         // the public running flag
    bool active = false;          // a worker exists and has not yet decided to end
    bool destroyed = false;       // the Timer is gone: the worker ends without emitting
    bool rearmed = false;         // start() was called since the last expiry
    unsigned long changes = 0;    // incremented by start(), stop() and the destructor
    int interval = 0;
    int remaining = 0; // countdown from waitStart; below 0: no expiry
    Clock::time_point waitStart{};
    std::thread thread; // the current or last worker, joined by start/destructor
};

Timer::Timer(Type type) : Timer(type, nullptr, nullptr) {}

Timer::Timer(Type type, Callback callback, void* data)
    : mType(type), mState(std::make_shared<State>(type, callback, data)) {}

Timer::Timer(Type type, std::function<void()> timeout, std::function<void()> stopped)
    : Timer(type) {
    if (timeout)
        mState->timeout.connect(std::move(timeout));
    if (stopped)
        mState->stopped.connect(std::move(stopped));
}

Timer::~Timer() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mState->mutex);
        mState->destroyed = true;
        mState->running = false;
        ++mState->changes;
        worker = std::move(mState->thread);
    }
    mState->wake.notify_all();
    if (worker.joinable()) {
        // From a handler on the worker: it holds the state and ends after the handler.
        if (worker.get_id() == std::this_thread::get_id())
            worker.detach();
        else
            worker.join();
    }
}

void Timer::log(Log::Level level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    Log::vprintTagged(level, "[Timer] ", fmt, args);
    va_end(args);
}

// start and stop touch the Timer only under the lock: once it is released, a handler on the
// worker may destroy the timer, so they keep the state alive through a local reference.
Signal<>& Timer::start(int ms) {
    const std::shared_ptr<State> state = mState;
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->interval = ms;
        state->remaining = ms;
        state->waitStart = Clock::now();
        state->rearmed = true;
        ++state->changes;
        const bool wasRunning = state->running;
        state->running = true;
        if (!wasRunning && !state->active) {
            // The previous worker, if any, has ended its loop and touches nothing any more.
            finished = std::move(state->thread);
            try {
                state->thread = std::thread(&Timer::worker, state);
            } catch (...) {
                state->running = false;
                state->thread = std::move(finished);
                throw;
            }
            state->active = true;
        }
    }
    state->wake.notify_all();
    if (finished.joinable())
        finished.join();
    return state->timeout;
}

Signal<>& Timer::stop() {
    const std::shared_ptr<State> state = mState;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->running) {
            state->running = false;
            ++state->changes;
            wake = true;
        }
    }
    if (wake)
        state->wake.notify_all();
    return state->stopped;
}

bool Timer::running() const {
    std::lock_guard<std::mutex> lock(mState->mutex);
    return mState->running;
}

int Timer::interval() const {
    std::lock_guard<std::mutex> lock(mState->mutex);
    return mState->interval;
}

void Timer::notify() {
    const std::shared_ptr<State> state = mState; // a slot may destroy the timer
    state->timeout.emit();
    if (state->callback)
        state->callback(state->data);
}

namespace {

// Runs one handler step, logging instead of letting an exception end the worker.
template <typename F> void guarded(F&& step, void (*report)(const char*)) {
    try {
        step();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (const std::exception& e) {
        report(e.what());
    } catch (...) {
        report("unknown exception");
    }
}

} // namespace

void Timer::worker(std::shared_ptr<State> state) {
    State& s = *state;
    auto report = [](const char* what) { log(Log::Error, "handler failed: %s", what); };
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        // Count down; start/stop/destructor wake the worker, which re-reads the schedule.
        while (s.running && !s.destroyed) {
            const unsigned long seen = s.changes;
            const auto changed = [&] { return s.changes != seen; };
            if (s.remaining < 0) {
                s.wake.wait(lock, changed);
            } else {
                const auto deadline = s.waitStart + std::chrono::milliseconds(s.remaining);
                if (Clock::now() >= deadline)
                    break;
                s.wake.wait_until(lock, deadline, changed);
            }
        }
        if (s.destroyed)
            break;

        if (s.running) {
            // Expiry.
            s.remaining = 0;
            s.rearmed = false;
            lock.unlock();
            guarded([&] { s.timeout.emit(); }, report);
            if (s.callback)
                guarded([&] { s.callback(s.data); }, report);
            lock.lock();
            if (s.destroyed)
                break;
            if (s.running) {
                if (s.type == Periodic) {
                    // The next period counts from the moment the handlers have returned.
                    s.remaining = s.interval;
                    s.waitStart = Clock::now();
                    continue;
                }
                if (s.rearmed) {
                    s.waitStart = Clock::now();
                    continue;
                }
                s.running = false; // single shot, not re-armed
            }
        }

        // The worker ends, unless a start arrives while the stopped signal is emitted (from
        // its handler or from another thread): then this worker carries on with the new run.
        lock.unlock();
        guarded([&] { s.stopped.emit(); }, report);
        lock.lock();
        if (s.destroyed || !s.running)
            break;
    }
    s.active = false;
}
