// Tests of the status monitor: publication on change only, dropping a lost printer, detection
// while none is known, and a monitor that survives failures on its thread.
#include "PrinterManager.h"
#include "RecordingDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace zelvo::PrinterManager;
using namespace std::chrono_literals;

namespace {

// A recording driver whose reported status the test changes while the monitor reads it.
class MonitoredDriver : public RecordingDriver {
public:
    Types::Status getStatus() override {
        std::lock_guard<std::mutex> lock(mMutex);
        return mStatus;
    }
    void report(uint32_t bits) {
        std::lock_guard<std::mutex> lock(mMutex);
        mStatus.fromBitset(std::bitset<32>(bits));
    }

    // Loses contact the way a reader thread reports it: the flag drops, the bits stay.
    void loseContact() {
        std::lock_guard<std::mutex> lock(mMutex);
        mStatus.setActive(false);
    }

private:
    std::mutex mMutex; // guards mStatus
    Types::Status mStatus{std::bitset<32>(1u << 4)};
};

constexpr uint32_t kActive = 1u << 4;
constexpr uint32_t kNearEnd = 1u << 16;
constexpr uint32_t kOutOfPaper = 1u << 18;

// A manager polling every 10 ms, whose detection finds a printer while `present` is set.
struct MonitorRig {
    std::atomic<bool> present{true};
    std::atomic<bool> throwing{false};
    std::atomic<int> detections{0};
    std::atomic<MonitoredDriver*> driver{nullptr};
    std::mutex publishedMutex; // guards published
    std::vector<uint32_t> published;
    PrinterManager manager{"/dev/monitored", "/nonexistent/voltrin-monitor.json",
                           [this](const std::string&) -> std::unique_ptr<Printers::Driver> {
                               ++detections;
                               if (throwing)
                                   throw std::runtime_error("device busy");
                               if (!present)
                                   return nullptr;
                               auto d = std::make_unique<MonitoredDriver>();
                               driver = d.get();
                               return d;
                           }};

    MonitorRig() {
        manager.mStatusSignal.connect([this](const Types::Status& s) {
            std::lock_guard<std::mutex> lock(publishedMutex);
            published.push_back(static_cast<uint32_t>(s.toBitset().to_ulong()));
        });
        manager.setConfig({{"statusPeriod", 10}});
    }
    std::vector<uint32_t> snapshot() {
        std::lock_guard<std::mutex> lock(publishedMutex);
        return published;
    }
    // Waits until `done` holds for the publications, or about ten seconds have passed.
    template <typename Pred> bool waitFor(Pred done) {
        for (int i = 0; i < 1000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

} // namespace

TEST(StatusMonitor, PublishesEachChangeOnce) {
    MonitorRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 1; }));
    EXPECT_EQ(rig.snapshot()[0], kActive);

    rig.driver.load()->report(kActive | kNearEnd);
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 2; }));
    // Many ticks of an unchanged status publish nothing more.
    std::this_thread::sleep_for(100ms);
    rig.driver.load()->report(kActive | kOutOfPaper);
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 3; }));
    rig.manager.stop();
    EXPECT_EQ(rig.snapshot(),
              (std::vector<uint32_t>{kActive, kActive | kNearEnd, kActive | kOutOfPaper}));
}

TEST(StatusMonitor, LostPrinterIsDroppedAndFoundAgain) {
    MonitorRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 1; }));

    // The printer vanishes: its last bits (without the active bit) are published, the driver
    // is dropped, and detection is tried on later ticks.
    rig.present = false;
    rig.driver.load()->report(kNearEnd);
    ASSERT_TRUE(rig.waitFor([&] { return !rig.manager.active(); }));
    const int detectionsWhileAbsent = rig.detections;
    ASSERT_TRUE(rig.waitFor([&] { return rig.detections > detectionsWhileAbsent + 2; }));
    EXPECT_FALSE(rig.manager.active());

    rig.present = true;
    ASSERT_TRUE(rig.waitFor([&] { return rig.manager.active() && rig.snapshot().size() == 3; }));
    rig.manager.stop();
    EXPECT_EQ(rig.snapshot(), (std::vector<uint32_t>{kActive, kNearEnd, kActive}));
}

TEST(StatusMonitor, LostContactCountsWithoutTheActiveBit) {
    MonitorRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 1; }));
    rig.present = false;
    rig.driver.load()->report(kActive | kNearEnd);
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 2; }));
    rig.driver.load()->loseContact();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 3; }));
    EXPECT_FALSE(rig.manager.active());
    // The printer comes back with the bits it had before it was lost: that is a change.
    rig.present = true;
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 4; }));
    rig.manager.stop();
    EXPECT_EQ(rig.snapshot(),
              (std::vector<uint32_t>{kActive, kActive | kNearEnd, kNearEnd, kActive}));
}

TEST(StatusMonitor, KeepsTickingWhenDetectionThrows) {
    MonitorRig rig;
    rig.throwing = true;
    // Neither start nor the monitor's ticks let a failing driver constructor escape.
    rig.manager.start();
    EXPECT_FALSE(rig.manager.active());
    ASSERT_TRUE(rig.waitFor([&] { return rig.detections > 3; }));
    rig.throwing = false;
    ASSERT_TRUE(rig.waitFor([&] { return rig.manager.active() && rig.snapshot().size() == 1; }));
    rig.manager.stop();
}

TEST(StatusMonitor, StopEndsDetectionAndRestartPublishesOnlyChanges) {
    MonitorRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 1; }));
    rig.manager.stop();
    const int detections = rig.detections;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.detections, detections);
    EXPECT_FALSE(rig.manager.active());

    // The new driver reports the same bits as the last publication: nothing new is published
    // until they change.
    rig.manager.start();
    ASSERT_TRUE(rig.manager.active());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rig.snapshot().size(), 1u);
    rig.driver.load()->report(kActive | kNearEnd);
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 2; }));
    rig.manager.stop();
}

TEST(StatusMonitor, NewPeriodTakesEffectAtOnce) {
    MonitorRig rig;
    rig.manager.start();
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 1; }));
    rig.manager.setConfig({{"statusPeriod", 2000}});
    rig.driver.load()->report(kActive | kNearEnd);
    // Polling every 10 ms would have published this long ago; with 2 s it comes later.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(rig.snapshot().size(), 1u);
    ASSERT_TRUE(rig.waitFor([&] { return rig.snapshot().size() == 2; }));
    rig.manager.stop();
}
