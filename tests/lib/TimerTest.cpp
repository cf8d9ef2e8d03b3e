// Timer: periodic and single-shot schedules, restarts, stop, re-arming from a handler,
// handler exceptions, and destruction while the worker waits or runs a handler.
#include "Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<milliseconds>(b - a).count();
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(milliseconds(ms));
}

// Records the moments of timeout and stopped emissions; tests wait on it with long limits.
class Recorder {
public:
    void timeout() { add(mTimeouts); }
    void stopped() { add(mStopped); }

    // True once at least n timeouts were recorded; false after `limitMs`.
    bool waitTimeouts(size_t n, int limitMs = 5000) { return waitFor(mTimeouts, n, limitMs); }
    bool waitStopped(size_t n, int limitMs = 5000) { return waitFor(mStopped, n, limitMs); }

    std::vector<Clock::time_point> timeouts() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mTimeouts;
    }
    std::vector<Clock::time_point> stoppeds() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mStopped;
    }
    size_t timeoutCount() { return timeouts().size(); }
    size_t stoppedCount() { return stoppeds().size(); }

private:
    void add(std::vector<Clock::time_point>& list) {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            list.push_back(Clock::now());
        }
        mChanged.notify_all();
    }
    bool waitFor(std::vector<Clock::time_point>& list, size_t n, int limitMs) {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, milliseconds(limitMs), [&] { return list.size() >= n; });
    }

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<Clock::time_point> mTimeouts;
    std::vector<Clock::time_point> mStopped;
};

// Counts handler entries that overlap: more than one at a time means two workers.
struct Overlap {
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> entries{0};

    void enter() {
        const int now = ++inside;
        int seen = maxInside.load();
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        ++entries;
    }
    void leave() { --inside; }
};

TEST(TimerTest, ConstructedStopped) {
    Timer timer(Timer::Periodic);
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(timer.interval(), 0);
    EXPECT_EQ(timer.type(), Timer::Periodic);
    Timer single(Timer::SingleShot);
    EXPECT_EQ(single.type(), Timer::SingleShot);
}

TEST(TimerTest, StartReturnsTheTimeoutSignalAndStopTheStoppedSignal) {
    Recorder rec;
    Timer timer(Timer::Periodic);
    Signal<>& stopped = timer.stop();
    stopped.connect([&] { rec.stopped(); });
    Signal<>& timeout = timer.start(20);
    timeout.connect([&] { rec.timeout(); });
    EXPECT_NE(static_cast<void*>(&timeout), static_cast<void*>(&stopped));
    EXPECT_EQ(&timer.start(20), &timeout);
    EXPECT_TRUE(rec.waitTimeouts(2));
    EXPECT_EQ(&timer.stop(), &stopped);
    EXPECT_TRUE(rec.waitStopped(1));
    EXPECT_FALSE(timer.running());
}

TEST(TimerTest, PeriodCountsFromTheEndOfTheHandlers) {
    Recorder rec;
    Timer timer(
        Timer::Periodic,
        [&] {
            rec.timeout();
            sleepMs(30);
        },
        [&] { rec.stopped(); });
    const auto started = Clock::now();
    timer.start(100);
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(timer.interval(), 100);
    ASSERT_TRUE(rec.waitTimeouts(5, 10000));
    timer.stop();
    ASSERT_TRUE(rec.waitStopped(1));
    const auto ticks = rec.timeouts();
    EXPECT_GE(msBetween(started, ticks[0]), 90); // first expiry one interval after start
    const double average = static_cast<double>(msBetween(ticks[0], ticks[4])) / 4.0;
    EXPECT_GE(average, 110.0); // ~130: 100 ms interval plus the 30 ms handler
    EXPECT_LE(average, 400.0);
    EXPECT_FALSE(timer.running());
}

TEST(TimerTest, StartWhileRunningRestartsTheCountdown) {
    Recorder rec;
    Timer timer(
        Timer::Periodic, [&] { rec.timeout(); }, nullptr);
    timer.start(200);
    ASSERT_TRUE(rec.waitTimeouts(1));
    sleepMs(60); // the next expiry is due ~140 ms from now
    const auto restarted = Clock::now();
    timer.start(400);
    EXPECT_EQ(timer.interval(), 400);
    ASSERT_TRUE(rec.waitTimeouts(2, 10000));
    const auto second = rec.timeouts()[1];
    const long long after = msBetween(restarted, second);
    EXPECT_GE(after, 390);
    EXPECT_LT(after, 5000);
    timer.stop();
}

TEST(TimerTest, StopOnAStoppedTimerChangesNothing) {
    Recorder rec;
    Timer timer(
        Timer::Periodic, [&] { rec.timeout(); }, [&] { rec.stopped(); });
    Signal<>& first = timer.stop();
    Signal<>& second = timer.stop();
    EXPECT_EQ(&first, &second);
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(timer.interval(), 0);
    sleepMs(100);
    EXPECT_EQ(rec.stoppedCount(), 0u);
    EXPECT_EQ(rec.timeoutCount(), 0u);
}

TEST(TimerTest, SingleShotExpiresOnceThenStops) {
    Recorder rec;
    std::atomic<int> runningInStopped{-1};
    Timer* self = nullptr;
    Timer timer(
        Timer::SingleShot, [&] { rec.timeout(); },
        [&] {
            runningInStopped = self->running() ? 1 : 0;
            rec.stopped();
        });
    self = &timer;
    timer.start(50);
    ASSERT_TRUE(rec.waitStopped(1));
    EXPECT_EQ(rec.timeoutCount(), 1u);
    EXPECT_EQ(runningInStopped.load(), 0);
    EXPECT_FALSE(timer.running());
    EXPECT_GE(rec.stoppeds()[0], rec.timeouts()[0]);
    sleepMs(150);
    EXPECT_EQ(rec.timeoutCount(), 1u);
    EXPECT_EQ(rec.stoppedCount(), 1u);
}

TEST(TimerTest, SingleShotCanBeStartedAgainAfterItStopped) {
    Recorder rec;
    Timer timer(
        Timer::SingleShot, [&] { rec.timeout(); }, [&] { rec.stopped(); });
    timer.start(20);
    ASSERT_TRUE(rec.waitStopped(1));
    timer.start(20);
    ASSERT_TRUE(rec.waitStopped(2));
    EXPECT_EQ(rec.timeoutCount(), 2u);
    EXPECT_FALSE(timer.running());
}

TEST(TimerTest, SingleShotReArmedFromItsHandlerExpiresAgain) {
    Recorder rec;
    Timer* self = nullptr;
    std::atomic<int> calls{0};
    Timer timer(
        Timer::SingleShot,
        [&] {
            rec.timeout();
            if (++calls == 1)
                self->start(50);
        },
        [&] { rec.stopped(); });
    self = &timer;
    timer.start(50);
    ASSERT_TRUE(rec.waitStopped(1));
    const auto ticks = rec.timeouts();
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_GE(msBetween(ticks[0], ticks[1]), 40);
    EXPECT_GE(rec.stoppeds()[0], ticks[1]);
    EXPECT_FALSE(timer.running());
    sleepMs(150);
    EXPECT_EQ(rec.timeoutCount(), 2u);
    EXPECT_EQ(rec.stoppedCount(), 1u);
}

// The stopped handler starts the timer again: the same worker carries on.
TEST(TimerTest, RestartFromTheStoppedHandler) {
    Recorder rec;
    Timer* self = nullptr;
    std::atomic<int> stops{0};
    Timer timer(
        Timer::SingleShot, [&] { rec.timeout(); },
        [&] {
            if (++stops == 1)
                self->start(20);
            rec.stopped();
        });
    self = &timer;
    timer.start(20);
    ASSERT_TRUE(rec.waitStopped(2));
    EXPECT_EQ(rec.timeoutCount(), 2u);
    EXPECT_FALSE(timer.running());
}

TEST(TimerTest, NegativeIntervalNeverExpires) {
    Recorder rec;
    Timer timer(
        Timer::Periodic, [&] { rec.timeout(); }, [&] { rec.stopped(); });
    timer.start(-1);
    EXPECT_TRUE(timer.running());
    sleepMs(300);
    EXPECT_EQ(rec.timeoutCount(), 0u);
    EXPECT_TRUE(timer.running());
    timer.stop();
    ASSERT_TRUE(rec.waitStopped(1));
    EXPECT_EQ(rec.timeoutCount(), 0u);
    EXPECT_FALSE(timer.running());
}

TEST(TimerTest, NegativeIntervalReactsToStart) {
    Recorder rec;
    Timer timer(
        Timer::SingleShot, [&] { rec.timeout(); }, [&] { rec.stopped(); });
    timer.start(-1);
    sleepMs(100);
    EXPECT_EQ(rec.timeoutCount(), 0u);
    timer.start(30);
    ASSERT_TRUE(rec.waitStopped(1));
    EXPECT_EQ(rec.timeoutCount(), 1u);
}

TEST(TimerTest, ZeroIntervalExpiresBackToBack) {
    std::atomic<int> ticks{0};
    Timer timer(
        Timer::Periodic, [&] { ++ticks; }, nullptr);
    timer.start(0);
    const auto start = Clock::now();
    while (ticks.load() < 50 && msBetween(start, Clock::now()) < 5000)
        sleepMs(1);
    timer.stop();
    EXPECT_GE(ticks.load(), 50);
}

TEST(TimerTest, ThrowingHandlerKeepsThePeriodicTimerTicking) {
    Recorder rec;
    std::atomic<int> calls{0};
    Timer timer(
        Timer::Periodic,
        [&] {
            rec.timeout();
            if (++calls % 2)
                throw std::runtime_error("boom");
            throw 7; // not a std::exception
        },
        [&] { rec.stopped(); });
    timer.start(10);
    EXPECT_TRUE(rec.waitTimeouts(4));
    EXPECT_TRUE(timer.running());
    timer.stop();
    EXPECT_TRUE(rec.waitStopped(1));
}

void countCallback(void* data) {
    ++*static_cast<std::atomic<int>*>(data);
}

TEST(TimerTest, PlainCallbackRunsAfterTheSlots) {
    std::atomic<int> count{0};
    std::atomic<int> slotFirst{0};
    Timer timer(Timer::Periodic, &countCallback, &count);
    timer.start(10).connect([&] {
        if (count.load() == 0)
            slotFirst = 1;
    });
    const auto start = Clock::now();
    while (count.load() < 3 && msBetween(start, Clock::now()) < 5000)
        sleepMs(1);
    timer.stop();
    EXPECT_GE(count.load(), 3);
    EXPECT_EQ(slotFirst.load(), 1);
}

TEST(TimerTest, NotifyRunsHandlersOnTheCallerWithoutStarting) {
    std::atomic<int> count{0};
    std::thread::id slotThread;
    Timer timer(Timer::SingleShot, &countCallback, &count);
    timer.stop(); // does nothing
    Timer other(
        Timer::SingleShot, [&] { slotThread = std::this_thread::get_id(); }, nullptr);
    timer.notify();
    other.notify();
    EXPECT_EQ(count.load(), 1);
    EXPECT_EQ(slotThread, std::this_thread::get_id());
    EXPECT_FALSE(timer.running());
    EXPECT_FALSE(other.running());
}

TEST(TimerTest, StopFromItsOwnHandler) {
    Recorder rec;
    Timer* self = nullptr;
    std::atomic<int> calls{0};
    Timer timer(
        Timer::Periodic,
        [&] {
            rec.timeout();
            if (++calls == 3)
                self->stop();
        },
        [&] { rec.stopped(); });
    self = &timer;
    timer.start(10);
    ASSERT_TRUE(rec.waitStopped(1));
    EXPECT_EQ(rec.timeoutCount(), 3u);
    EXPECT_FALSE(timer.running());
}

// stop() immediately followed by start(): one worker, still running afterwards.
TEST(TimerTest, StartRightAfterStopKeepsOneWorker) {
    Overlap overlap;
    Timer timer(
        Timer::Periodic,
        [&] {
            overlap.enter();
            sleepMs(1);
            overlap.leave();
        },
        nullptr);
    timer.start(1);
    for (int i = 0; i < 300; ++i) {
        timer.stop();
        timer.start(1);
        if (i % 10 == 0)
            sleepMs(2);
    }
    EXPECT_TRUE(timer.running());
    const int before = overlap.entries.load();
    const auto start = Clock::now();
    while (overlap.entries.load() < before + 3 && msBetween(start, Clock::now()) < 5000)
        sleepMs(1);
    EXPECT_GE(overlap.entries.load(), before + 3);
    timer.stop();
    EXPECT_EQ(overlap.maxInside.load(), 1);
}

// Several threads start and stop one timer at once; handlers never overlap.
TEST(TimerTest, ConcurrentStartAndStopNeverOverlapHandlers) {
    Overlap overlap;
    auto timer = std::make_unique<Timer>(
        Timer::Periodic,
        [&] {
            overlap.enter();
            std::this_thread::yield();
            overlap.leave();
        },
        [&] {
            overlap.enter();
            overlap.leave();
        });
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if ((i + t) % 3 == 0)
                    timer->stop();
                else
                    timer->start(i % 4);
                (void)timer->running();
                (void)timer->interval();
                if (i % 20 == 0)
                    sleepMs(2);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    timer.reset();
    EXPECT_GT(overlap.entries.load(), 0);
    EXPECT_LE(overlap.maxInside.load(), 1);
    EXPECT_EQ(overlap.inside.load(), 0);
}

TEST(TimerTest, DestroyingARunningTimer) {
    for (int i = 0; i < 30; ++i) {
        std::atomic<int> ticks{0};
        {
            Timer timer(
                Timer::Periodic, [&] { ++ticks; }, nullptr);
            timer.start(i % 3);
            sleepMs(i % 5);
        }
        const int after = ticks.load();
        sleepMs(2);
        EXPECT_EQ(ticks.load(), after); // no handler once the destructor has returned
    }
}

TEST(TimerTest, DestroyingAWaitingTimerReturnsPromptly) {
    Recorder rec;
    const auto start = Clock::now();
    {
        Timer timer(
            Timer::SingleShot, [&] { rec.timeout(); }, [&] { rec.stopped(); });
        timer.start(60000);
        sleepMs(20);
    }
    EXPECT_LT(msBetween(start, Clock::now()), 5000);
    EXPECT_EQ(rec.timeoutCount(), 0u);
}

// The destructor waits for a handler in progress; nothing runs after it returned.
TEST(TimerTest, DestroyingMidHandlerFromAnotherThread) {
    std::atomic<bool> entered{false};
    std::atomic<int> finished{0};
    std::atomic<int> stops{0};
    auto timer = std::make_unique<Timer>(
        Timer::Periodic,
        [&] {
            entered = true;
            sleepMs(100);
            ++finished;
        },
        [&] { ++stops; });
    timer->start(5);
    const auto start = Clock::now();
    while (!entered.load() && msBetween(start, Clock::now()) < 5000)
        sleepMs(1);
    ASSERT_TRUE(entered.load());
    timer.reset();
    const int done = finished.load();
    EXPECT_GE(done, 1);
    sleepMs(50);
    EXPECT_EQ(finished.load(), done);
    EXPECT_EQ(stops.load(), 0); // a destroyed timer emits nothing more
}

// A handler destroys its own timer: the worker must not wait for itself nor touch the timer.
TEST(TimerTest, DestroyedFromItsOwnHandler) {
    for (auto type : {Timer::Periodic, Timer::SingleShot}) {
        std::atomic<int> ticks{0};
        std::atomic<int> stops{0};
        std::atomic<bool> deleted{false};
        std::atomic<Timer*> timer{nullptr};
        auto* created = new Timer(
            type,
            [&] {
                ++ticks;
                delete timer.exchange(nullptr);
                deleted = true;
            },
            [&] { ++stops; });
        timer = created;
        created->start(10);
        const auto start = Clock::now();
        while (!deleted.load() && msBetween(start, Clock::now()) < 5000)
            sleepMs(1);
        ASSERT_TRUE(deleted.load());
        sleepMs(50);
        EXPECT_EQ(ticks.load(), 1);
        EXPECT_EQ(stops.load(), 0);
    }
}

// A quick stop/start loop followed by destruction, repeatedly: never two workers, no handler
// after destruction.
TEST(TimerTest, StopStartLoopThenDestroy) {
    for (int round = 0; round < 20; ++round) {
        Overlap overlap;
        {
            Timer timer(
                round % 2 ? Timer::Periodic : Timer::SingleShot,
                [&] {
                    overlap.enter();
                    overlap.leave();
                },
                [&] {
                    overlap.enter();
                    overlap.leave();
                });
            for (int i = 0; i < 50; ++i) {
                timer.start(i % 2);
                timer.stop();
            }
            timer.start(0);
        }
        const int entries = overlap.entries.load();
        sleepMs(1);
        EXPECT_EQ(overlap.entries.load(), entries);
        EXPECT_LE(overlap.maxInside.load(), 1);
        EXPECT_EQ(overlap.inside.load(), 0);
    }
}

} // namespace
