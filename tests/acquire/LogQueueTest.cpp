// The data log read back as a queue: the measurement time from the clock file across a tick
// that wraps (also when reading resumes from a saved position), a line still being written,
// a line that is no record, and which logs of a folder are still to forward, in what order.
#include "acquire/LogQueue.h"
#include "app/DataLog.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace orvi::acquire::test {
namespace {

using orvi::testing::FileBytes;

std::string Line(uint32_t tick, double housing1) {
    app::TMeasurementRecord record;
    record.Tick = int32_t(tick);
    record.Housing[0] = housing1;
    return app::LogLine(record);
}

std::string Member(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":") + key.size() + 3;
    return json.substr(at, json.find_first_of(",}", at) - at);
}

TEST(LogQueue, TimesFollowTheTickAcrossItsWrapAndFromASavedPosition) {
    orvi::testing::TempDir dir;
    const std::string log = dir.FilePath("2026_12_9_10_0.txt");
    const TLogClock clock{0xFFFFFF00u, 1796830000000}; // 256 ms before the tick wraps
    std::string reason;
    ASSERT_TRUE(WriteClock(log, clock, reason)) << reason;
    std::string bytes;
    for (uint32_t k = 1; k <= 6; ++k)
        bytes += Line(clock.Tick + k * 100, k);
    bytes += "not a record\r\n" + Line(clock.Tick + 700, 7) + "12 25.5"; // the last unfinished
    std::ofstream(log, std::ios::binary) << bytes;

    // 2026-12-09T15:26:40.000Z is 1796830000000 ms.
    const char* times[] = {"15:26:40.100", "15:26:40.200", "15:26:40.300", "15:26:40.400",
                           "15:26:40.500", "15:26:40.600", "15:26:40.700"};
    TLogTail tail(log, clock, ReadPosition(log, clock));
    std::optional<TReadRecord> record;
    for (int k = 1; k <= 3; ++k) {
        record = tail.Next();
        ASSERT_TRUE(record);
        EXPECT_EQ(Member(record->Json, "seq"), std::to_string(k));
        EXPECT_EQ(Member(record->Json, "time"), "\"2026-12-09T" + std::string(times[k - 1]) + "Z\"");
    }
    ASSERT_TRUE(WritePosition(log, record->After, reason)) << reason;
    EXPECT_FALSE(std::filesystem::exists(PositionPath(log) + ".new"));

    // Read again from the saved position (a restart): the same times after the wrap, the
    // line that is no record counted but not handed out, the unfinished line held back.
    TLogTail again(log, clock, ReadPosition(log, clock));
    EXPECT_EQ(again.LinesLeft(), 5u);
    for (int k = 4; k <= 7; ++k) {
        record = again.Next();
        ASSERT_TRUE(record);
        const int seq = k == 7 ? 8 : k;
        EXPECT_EQ(Member(record->Json, "seq"), std::to_string(seq));
        EXPECT_EQ(Member(record->Json, "housing1"), std::to_string(k));
        EXPECT_EQ(Member(record->Json, "time"), "\"2026-12-09T" + std::string(times[k - 1]) + "Z\"");
    }
    EXPECT_FALSE(again.Next()) << "a line still being written";
    EXPECT_EQ(again.Skipped(), 1u);
    std::ofstream(log, std::ios::binary | std::ios::app) << " 1 2 3 4 5 6 7 8 9 10\r\n";
    record = again.Next();
    ASSERT_TRUE(record) << "the line once finished";
    EXPECT_EQ(record->After.Offset, FileBytes(log).size());
    EXPECT_EQ(record->After.Seq, 9u);

    // A log made new under the same name (another clock) starts from its beginning.
    EXPECT_EQ(ReadPosition(log, TLogClock{5, clock.UtcMs + 1}).Offset, 0u);
}

TEST(LogQueue, TheLogsLeftToForwardOldestFirst) {
    orvi::testing::TempDir dir;
    std::string reason;
    const auto make = [&](const std::string& name, int64_t start, int lines, bool clocked) {
        const std::string log = dir.FilePath(name);
        std::string bytes;
        for (int k = 0; k < lines; ++k)
            bytes += Line(uint32_t(k), k);
        std::ofstream(log, std::ios::binary) << bytes;
        if (clocked)
            WriteClock(log, TLogClock{0, start}, reason);
        return log;
    };
    const std::string newest = make("2026_12_9_10_5.txt", 3000, 2, true);
    const std::string oldest = make("2026_12_9_9_59.txt", 1000, 2, true);
    const std::string done = make("2026_12_9_10_0.txt", 2000, 2, true);
    make("2026_1_1_0_0.txt", 0, 2, false); // from a run without MQTT: not queued
    const std::string current = make("2026_12_9_11_0.txt", 4000, 1, true);
    TLogTail tail(done, TLogClock{0, 2000}, ReadPosition(done, TLogClock{0, 2000}));
    tail.Next();
    ASSERT_TRUE(WritePosition(done, tail.Next()->After, reason)) << reason;
    EXPECT_EQ(LogsToForward(dir.Path(), current), (std::vector<std::string>{oldest, newest}));
}

} // namespace
} // namespace orvi::acquire::test
