#include "platform/Event.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace orvi::platform {
namespace {

TEST(Event, AutoResetReleasesOneWaitAndResets) {
    Event e(false);
    ASSERT_TRUE(e.Valid());
    EXPECT_FALSE(e.ManualReset());
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    e.Set(); // setting a set event does not count twice
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(true);
    EXPECT_TRUE(e.ManualReset());
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(10));
    EXPECT_TRUE(e.TryConsume());
    EXPECT_TRUE(e.TryConsume());
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
    EXPECT_FALSE(e.TryConsume());
}

TEST(Event, InitiallySet) {
    Event autoSet(false, true);
    Event manualSet(true, true);
    EXPECT_TRUE(autoSet.Wait(0));
    EXPECT_FALSE(autoSet.Wait(0));
    EXPECT_TRUE(manualSet.Wait(0));
    EXPECT_TRUE(manualSet.Wait(0));
}

TEST(Event, TryConsumeTakesAnAutoResetSignalOnce) {
    Event e(false);
    EXPECT_FALSE(e.TryConsume());
    e.Set();
    EXPECT_TRUE(e.TryConsume());
    EXPECT_FALSE(e.TryConsume());
}

TEST(Event, ResetClearsAPendingAutoResetSignal) {
    Event e(false);
    e.Set();
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitAnyReportsTheLowestSetIndex) {
    Event a(false), b(true), c(false);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), -1);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 20), -1);
    c.Set();
    b.Set();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 1);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 1) << "a manual-reset event is not consumed";
    b.Reset();
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 2);
    EXPECT_EQ(WaitAny({&a, &b, &c}, 0), -1) << "an auto-reset event is consumed";
}

TEST(Event, WaitAnyRefusesMissingEvents) {
    Event a(false, true);
    EXPECT_EQ(WaitAny({}, 0), -1);
    EXPECT_EQ(WaitAny({&a, nullptr}, 0), -1);
    EXPECT_TRUE(a.Wait(0)) << "a refused wait consumes nothing";
}

TEST(EventThreads, SetFromAnotherThreadEndsAnInfiniteWait) {
    Event e(false);
    std::thread setter([&] { e.Set(); });
    EXPECT_TRUE(e.Wait(kInfinite));
    setter.join();
}

TEST(EventThreads, WaitAnyWakesOnTheEventSetLater) {
    Event a(false), b(false);
    std::thread setter([&] { b.Set(); });
    EXPECT_EQ(WaitAny({&a, &b}, kInfinite), 1);
    setter.join();
    EXPECT_FALSE(a.Wait(0));
    EXPECT_FALSE(b.Wait(0));
}

TEST(EventThreads, ManualResetReleasesEveryWaiter) {
    constexpr int kWaiters = 8;
    Event go(true);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            if (go.Wait(kInfinite))
                ++released;
        });
    go.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), kWaiters);
    EXPECT_TRUE(go.Wait(0));
}

// Many threads compete for one auto-reset event, through Wait and through WaitAny:
// every Set must release exactly one of them.
TEST(EventThreads, EachAutoResetSignalReleasesExactlyOneWaiter) {
    constexpr int kWaiters = 8;
    constexpr int kRounds = 400;
    Event work(false);
    Event stop(true);
    Event done(false);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&, i] {
            while (!stop.Wait(0)) {
                const bool got =
                    (i % 2 == 0) ? WaitAny({&stop, &work}, kInfinite) == 1 : work.Wait(20);
                if (got) {
                    ++taken;
                    done.Set();
                }
            }
        });
    int round = 1;
    for (; round <= kRounds; ++round) {
        work.Set();
        done.Wait(kInfinite);
        if (taken.load() != round)
            break;
    }
    stop.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(round, kRounds + 1);
    EXPECT_EQ(taken.load(), kRounds);
}

} // namespace
} // namespace orvi::platform
