// Timer: a single-shot or periodic timer whose own worker thread emits signals.
//
// All handlers (timeout slots, the plain callback, stopped slots) run on the worker, one at a
// time, and the worker never holds the timer's lock while they run, so they may call start,
// stop, running and interval. An exception leaving a handler is caught, logged as
// "[Timer] handler failed: <what>" and the timer keeps its schedule (a slot's exception skips
// the later slots of that emission). Countdowns use the steady clock.
#pragma once

#include <functional>
#include <memory>

#include "Log.h"
#include "Signal.h"

class Timer {
public:
    enum Type { SingleShot = 0, Periodic = 1 };
    using Callback = void (*)(void*);

    // Stopped, interval and remaining time 0, no plain callback.
    explicit Timer(Type type);
    Timer(Type type, Callback callback, void* data);
    // As the first, then connects `timeout` to the timeout signal and `stopped` to the stopped
    // signal (empty functions are not connected).
    Timer(Type type, std::function<void()> timeout, std::function<void()> stopped);

    // Stops the worker and waits for it to end: a handler running at that moment is waited
    // for, no handler runs once the destructor has returned, and a destroyed timer emits no
    // stopped signal (its owner may be half destroyed already). Called from a handler on the
    // worker itself it cannot wait: the worker then ends after that handler without running
    // another, touching only the state block it shares. Never destroy a timer while holding a
    // lock its handlers take, nor from a slot that notify() runs: the wait would deadlock.
    ~Timer();

    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Sets the interval and the remaining time to ms. Running: the countdown restarts from now
    // with ms. Stopped: the timer runs; a new worker thread is launched unless the previous
    // one is still finishing, in which case that worker carries on, so a timer never has two.
    // ms == 0 expires back to back; ms < 0 never expires (only start and stop are obeyed).
    // Throws std::system_error when the worker thread cannot be launched. Thread-safe, also
    // from a handler (a single-shot timer re-armed from its timeout handler expires again).
    Signal<>& start(int ms);
    // If running: clears running and wakes the worker, which emits the stopped signal when it
    // ends (unless a start comes first). Stopped: changes nothing. Thread-safe, also from a
    // handler. Returns the stopped signal.
    Signal<>& stop();

    bool running() const;
    int interval() const;
    Type type() const { return mType; }

    // Emits the timeout signal, then calls the plain callback, on the calling thread; the
    // schedule is not touched and handler exceptions reach the caller.
    void notify();

private:
    struct State;

    static void log(Log::Level level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    static void worker(std::shared_ptr<State> state);

    const Type mType;
    // The mutable state, signals included, shared with the worker: a worker that outlives the
    // timer (destructor called from a handler) only ever touches this block, never the Timer.
    const std::shared_ptr<State> mState;
};
