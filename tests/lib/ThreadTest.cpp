// Thread: body and task execution, user data, join/detach rules, stop requests, sleep.
#include "Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void storeFortyTwo(void* data) {
    *static_cast<int*>(data) = 42;
}

TEST(ThreadTest, RunsBodyWithStoredUserData) {
    int value = 0;
    Thread thread(&storeFortyTwo, &value);
    EXPECT_FALSE(thread.running());
    ASSERT_TRUE(thread.run(nullptr));
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(thread.running());
}

TEST(ThreadTest, RunArgumentBecomesUserDataWhenNoneIsStored) {
    int value = 0;
    Thread thread(&storeFortyTwo);
    ASSERT_TRUE(thread.run(&value));
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(value, 42);
}

TEST(ThreadTest, StoredUserDataWinsOverRunArgument) {
    int stored = 0;
    int other = 0;
    Thread thread(&storeFortyTwo, &stored);
    ASSERT_TRUE(thread.run(&other));
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(stored, 42);
    EXPECT_EQ(other, 0);
}

struct JoinSelf {
    Thread* thread = nullptr;
    std::atomic<int> result{-1};
};

void joinSelf(void* data) {
    auto* ctx = static_cast<JoinSelf*>(data);
    ctx->result = ctx->thread->join() ? 1 : 0;
}

TEST(ThreadTest, JoinFromTheThreadItselfFails) {
    JoinSelf ctx;
    Thread thread(&joinSelf, &ctx);
    ctx.thread = &thread;
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(ctx.result.load(), 0);
}

TEST(ThreadTest, JoinAndDetachNeedAJoinableThread) {
    int value = 0;
    Thread thread(&storeFortyTwo, &value);
    EXPECT_FALSE(thread.join());
    EXPECT_FALSE(thread.detach());
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.join());
    EXPECT_FALSE(thread.detach());
}

void waitForTerminate(void* data) {
    static_cast<Thread*>(data)->terminated(-1);
}

TEST(ThreadTest, RunFailsWhileTheBodyRuns) {
    Thread thread(&waitForTerminate);
    ASSERT_TRUE(thread.run(&thread));
    EXPECT_TRUE(thread.running());
    EXPECT_FALSE(thread.run(&thread));
    EXPECT_TRUE(thread.terminate());
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.running());
}

void countRun(void* data) {
    ++*static_cast<std::atomic<int>*>(data);
}

TEST(ThreadTest, RunsAgainAfterJoin) {
    std::atomic<int> runs{0};
    Thread thread(&countRun, &runs);
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(runs.load(), 2);
}

// A finished but unjoined thread keeps its handle: run refuses rather than lose it.
TEST(ThreadTest, RunRefusesWhileThePreviousThreadIsUnjoined) {
    std::atomic<int> runs{0};
    Thread thread(&countRun, &runs);
    ASSERT_TRUE(thread.run());
    while (thread.running())
        Thread::sleep(1);
    EXPECT_FALSE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(runs.load(), 1);
}

TEST(ThreadTest, DetachLetsTheBodyFinishAlone) {
    Thread thread(&waitForTerminate);
    ASSERT_TRUE(thread.run(&thread));
    EXPECT_TRUE(thread.detach());
    EXPECT_FALSE(thread.join());
    EXPECT_FALSE(thread.detach());
    thread.terminate();
    const auto start = Clock::now();
    while (thread.running() && msSince(start) < 5000)
        Thread::sleep(1);
    EXPECT_FALSE(thread.running());
}

TEST(ThreadTest, TerminatedIsTrueOnceAfterTerminate) {
    Thread thread(nullptr);
    EXPECT_FALSE(thread.terminated(0));
    EXPECT_TRUE(thread.terminate());
    EXPECT_TRUE(thread.terminated(0));
    EXPECT_FALSE(thread.terminated(0));
}

TEST(ThreadTest, TerminatedWaitsUpToTheTimeout) {
    Thread thread(nullptr);
    const auto start = Clock::now();
    EXPECT_FALSE(thread.terminated(50));
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 40);
    EXPECT_LT(elapsed, 2000);
}

struct Loop {
    Thread* thread = nullptr;
    std::atomic<int> rounds{0};
};

void loopUntilTerminated(void* data) {
    auto* loop = static_cast<Loop*>(data);
    while (!loop->thread->terminated(5))
        ++loop->rounds;
}

TEST(ThreadTest, TerminateEndsACooperativeBody) {
    Loop loop;
    Thread thread(&loopUntilTerminated, &loop);
    loop.thread = &thread;
    ASSERT_TRUE(thread.run());
    Thread::sleep(30);
    EXPECT_TRUE(thread.terminate());
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.running());
    EXPECT_FALSE(thread.terminated(0)); // the request was consumed by the body
}

struct FirstCheck {
    Thread* thread = nullptr;
    std::atomic<int> stopped{-1};
};

void checkOnce(void* data) {
    auto* ctx = static_cast<FirstCheck*>(data);
    ctx->stopped = ctx->thread->terminated(0) ? 1 : 0;
}

// A stop request left over from before run does not end the new run at once.
TEST(ThreadTest, RunDiscardsStaleStopRequests) {
    FirstCheck ctx;
    Thread thread(&checkOnce, &ctx);
    ctx.thread = &thread;
    thread.terminate();
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_EQ(ctx.stopped.load(), 0);
}

class Worker : public Thread {
public:
    std::atomic<void*> seen{nullptr};

protected:
    void* task(void* data) override {
        seen = data;
        return nullptr;
    }
};

TEST(ThreadTest, RunsTheVirtualTaskWithoutABody) {
    Worker worker;
    int token = 0;
    ASSERT_TRUE(worker.run(&token));
    EXPECT_TRUE(worker.join());
    EXPECT_EQ(worker.seen.load(), &token);
}

TEST(ThreadTest, BaseTaskDoesNothing) {
    Thread thread(nullptr);
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.running());
}

void throwing(void*) {
    throw std::runtime_error("body boom");
}

TEST(ThreadTest, BodyExceptionEndsOnlyTheThread) {
    Thread thread(&throwing);
    ASSERT_TRUE(thread.run());
    EXPECT_TRUE(thread.join());
    EXPECT_FALSE(thread.running());
}

TEST(ThreadTest, SleepSuspendsForAtLeastTheTime) {
    const auto start = Clock::now();
    Thread::sleep(50);
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 49);
    EXPECT_LT(elapsed, 2000);
}

TEST(ThreadTest, SleepOfZeroOrLessReturns) {
    const auto start = Clock::now();
    Thread::sleep(0);
    Thread::sleep(-5);
    EXPECT_LT(msSince(start), 1000);
}

TEST(ThreadTest, YieldSucceeds) {
    EXPECT_TRUE(Thread::yield());
}

} // namespace
