// Semaphore: initial value capped by max, posts, waits and time-outs, failed creation.
#include "Semaphore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(SemaphoreTest, InitialIsCappedByMax) {
    Semaphore s("", 5, 1);
    EXPECT_TRUE(s.Try());
    EXPECT_FALSE(s.Try());
}

TEST(SemaphoreTest, InitialBelowMaxIsKept) {
    Semaphore s("", 2, 10);
    EXPECT_TRUE(s.Try());
    EXPECT_TRUE(s.Try());
    EXPECT_FALSE(s.Try());
}

TEST(SemaphoreTest, NameAndMaxCount) {
    Semaphore s("wake", 0, 7);
    EXPECT_EQ(s.GetName(), "wake");
    EXPECT_EQ(s.GetMaxCount(), 7u);
}

TEST(SemaphoreTest, PostZeroAddsOneCount) {
    Semaphore s("", 0, 1);
    EXPECT_TRUE(s.Post(0));
    EXPECT_TRUE(s.Try());
    EXPECT_FALSE(s.Try());
}

TEST(SemaphoreTest, TwoPostsAllowTwoWaits) {
    Semaphore s("", 0, 1);
    EXPECT_TRUE(s.Post());
    EXPECT_TRUE(s.Post());
    EXPECT_TRUE(s.Wait(1000));
    EXPECT_TRUE(s.Wait(-1));
    EXPECT_FALSE(s.Wait(0));
}

TEST(SemaphoreTest, PostsAreNotLimitedByMax) {
    Semaphore s("", 0, 1);
    EXPECT_TRUE(s.Post(3));
    EXPECT_TRUE(s.Try());
    EXPECT_TRUE(s.Try());
    EXPECT_TRUE(s.Try());
    EXPECT_FALSE(s.Try());
}

TEST(SemaphoreTest, WaitZeroWithoutCountFailsAtOnce) {
    Semaphore s("", 0, 1);
    const auto start = Clock::now();
    EXPECT_FALSE(s.Wait(0));
    EXPECT_LT(msSince(start), 1000);
}

TEST(SemaphoreTest, WaitTimesOut) {
    Semaphore s("", 0, 1);
    const auto start = Clock::now();
    EXPECT_FALSE(s.Wait(50));
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 40);
    EXPECT_LT(elapsed, 2000);
}

TEST(SemaphoreTest, WaitForeverReturnsWhenPosted) {
    Semaphore s("", 0, 1);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        s.Post();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(s.Wait(-1));
    EXPECT_LT(msSince(start), 5000);
    poster.join();
}

TEST(SemaphoreTest, TimedWaitReturnsEarlyWhenPosted) {
    Semaphore s("", 0, 1);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        s.Post();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(s.Wait(10000));
    EXPECT_LT(msSince(start), 5000);
    poster.join();
}

TEST(SemaphoreTest, TimedWaitAcrossASecondBoundary) {
    Semaphore s("", 0, 1);
    const auto start = Clock::now();
    EXPECT_FALSE(s.Wait(1100));
    const long long elapsed = msSince(start);
    EXPECT_GE(elapsed, 1050);
    EXPECT_LT(elapsed, 4000);
}

// An initial value above SEM_VALUE_MAX makes sem_init fail: the object has no semaphore.
TEST(SemaphoreTest, FailedCreationMakesEveryOperationFail) {
    Semaphore s("", UINT_MAX, UINT_MAX);
    EXPECT_FALSE(s.Post());
    EXPECT_FALSE(s.Try());
    EXPECT_FALSE(s.Wait(0));
    EXPECT_FALSE(s.Wait(10));
    EXPECT_FALSE(s.Wait(-1));
    EXPECT_EQ(s.GetMaxCount(), UINT_MAX);
}

} // namespace
