#include "serial/Utilities.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace orvi {
namespace {

TEST(TicksPerMillisecond, RoundsAndRejectsUnusableCounters) {
    const struct {
        uint64_t Frequency;
        uint32_t Ticks;
    } cases[] = {
        {0, 0},
        {400, 0}, // slower than one tick per millisecond: unusable, not a division by 0
        {500, 0},
        {501, 1},
        {1000, 1},
        {1500, 1}, // a remainder of exactly 500 rounds down
        {1501, 2},
        {3579545, 3580},
        {10000000, 10000},
        {1000000000, 1000000},
        {0xFFFFFFFFull, 4294967},
        {0x100000000ull, 0}, // does not fit 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(TicksPerMillisecond(c.Frequency), c.Ticks) << c.Frequency;
}

TEST(MillisecondClock, NeverRunsBackwardsOverAShortSpan) {
    uint32_t previous = MillisecondClock();
    for (int i = 0; i < 100000; ++i) {
        uint32_t now = MillisecondClock();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(SetTickTimer, StartsAtTheCurrentTickAndLimitsTheLength) {
    TickTimer timer;
    SetTickTimer(timer, 50000000, 5500);
    EXPECT_EQ(timer.StartTick, 100);
    EXPECT_EQ(timer.ExpireTick, 100 + 39045157);

    SetTickTimer(timer, 10, 54); // 54 ms is still tick 0
    EXPECT_EQ(timer.StartTick, 0);
    EXPECT_EQ(timer.ExpireTick, 10);

    SetTickTimer(timer, kMaxTimerTicks, 0xFFFFFFFFu);
    EXPECT_EQ(timer.StartTick, 78090314);
    EXPECT_EQ(timer.ExpireTick, 78090314 + kMaxTimerTicks);
}

TEST(TickTimerExpired, OnlyAfterTheExpiryTick) {
    TickTimer timer;
    SetTickTimer(timer, 10, 0);
    const struct {
        uint32_t NowMs;
        bool Expired;
    } cases[] = {{0, false}, {549, false}, {550, false}, {604, false}, {605, true}, {100000, true}};
    for (const auto& c : cases)
        EXPECT_EQ(TickTimerExpired(timer, c.NowMs), c.Expired) << c.NowMs;
}

TEST(TickTimerExpired, ZeroAndNegativeLengths) {
    TickTimer timer;
    SetTickTimer(timer, 0, 5500);
    EXPECT_FALSE(TickTimerExpired(timer, 5500));
    EXPECT_TRUE(TickTimerExpired(timer, 5555));
    SetTickTimer(timer, -1, 5500);
    EXPECT_TRUE(TickTimerExpired(timer, 5500));
}

TEST(TickTimerExpired, CountsOnAcrossTheClockWrap) {
    // Set 275 ms before the 32-bit millisecond clock wraps, to run 20 ticks (1100 ms).
    TickTimer timer;
    SetTickTimer(timer, 20, 0xFFFFFFFFu - 275);
    const struct {
        uint32_t NowMs;
        bool Expired;
    } cases[] = {
        {0xFFFFFFFFu, false}, // still before the wrap
        {0, false},           // 276 ms after setting
        {165, false},         // 441 ms
        {800, false},         // 1076 ms: tick 20 after the start
        {900, true},          // 1176 ms: past the expiry tick
        {5000, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TickTimerExpired(timer, c.NowMs), c.Expired) << c.NowMs;
}

TEST(TickTimerExpired, LongestTimerAcrossTheWrap) {
    TickTimer timer;
    SetTickTimer(timer, kMaxTimerTicks, 78090000u * 55);
    ASSERT_EQ(timer.ExpireTick, 78090000 + kMaxTimerTicks);
    // Expired once (2^32 + t) / 55 > 117135157, that is from t = 2147466394 after the wrap.
    EXPECT_FALSE(TickTimerExpired(timer, 1000));
    EXPECT_FALSE(TickTimerExpired(timer, 2147466393));
    EXPECT_TRUE(TickTimerExpired(timer, 2147466394));
}

TEST(TickTimerExpired, RealClockTimerIsNotExpiredAtOnce) {
    TickTimer timer;
    SetTickTimer(timer, kMaxTimerTicks);
    EXPECT_FALSE(TickTimerExpired(timer));
    SetTickTimer(timer, -1);
    EXPECT_TRUE(TickTimerExpired(timer));
}

class FileExistsFlagTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("orvi_file_exists_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(FileExistsFlagTest, AllOnesForAFileZeroOtherwise) {
    std::filesystem::path file = dir_ / "ORVI.LOG";
    std::ofstream(file) << "x";
    EXPECT_EQ(FileExistsFlag(file.string().c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(FileExistsFlag((dir_ / "missing.trc").string().c_str()), 0u);
    EXPECT_EQ(FileExistsFlag(dir_.string().c_str()), 0u);
    EXPECT_EQ(FileExistsFlag(""), 0u);
    EXPECT_EQ(FileExistsFlag(nullptr), 0u);
}

} // namespace
} // namespace orvi
