// The collector's store against the data log writer: records written back as the stand's
// lines, byte for byte (a value that was not finite too), a repeat dropped, a gap told, a
// new file per log of the stand, a name that is no plain file name or a payload that is no
// record refused, and the counts taken up again after the logs are closed (SIGHUP). A log
// rotated under its own name (another "log-start") moves the collected file aside.
#include "acquire/Output.h"
#include "app/DataLog.h"
#include "collect/Collector.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace orvi::collect::test {
namespace {

using orvi::testing::FileBytes;
using TResult = TCollector::TResult;

app::TMeasurementRecord Record(int k) {
    app::TMeasurementRecord r;
    r.Tick = -2147483000 + k * 997;
    r.Housing = {25.85 + k, -0.5, 1E15, 1.5E-6};
    r.Sensor = {31.02, k % 3 == 0 ? NAN : 7.0, 0, -123.456789012345};
    r.Roll = -0.14;
    r.Pitch = k;
    r.ZeroCount = int16_t(-k);
    return r;
}

std::string Json(uint64_t seq, int k) {
    std::string line = acquire::JsonLine(seq, Record(k), std::chrono::system_clock::now());
    line.pop_back();
    return line;
}

TEST(Collector, WritesEachStandsLogsByteForByteOnce) {
    orvi::testing::TempDir dir;
    TCollector collector(dir.Path());
    std::string why, expected;
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", "", Json(k, k), why),
                  TResult::Written) << why;
        expected += app::LogLine(Record(k));
        if (k == 4) { // a repeat of what was seen, as after a reconnect
            EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", "", Json(2, 2), why),
                      TResult::Repeat);
        }
    }
    const std::string first = dir.FilePath("stand1/2026_12_9_10_0.txt");
    EXPECT_EQ(FileBytes(first), expected);

    // The stand's next log, then a late repeat of the first: it stays as it was.
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_5.txt", "", Json(1, 9), why),
              TResult::Written);
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", "", Json(6, 6), why),
              TResult::Repeat);
    EXPECT_EQ(FileBytes(first), expected);
    EXPECT_EQ(FileBytes(dir.FilePath("stand1/2026_12_9_10_5.txt")), app::LogLine(Record(9)));

    // A gap is written and told; the counts come back from the files after a close.
    EXPECT_EQ(collector.Store("stand2", "a.txt", "", Json(1, 1), why), TResult::Written);
    EXPECT_EQ(collector.Store("stand2", "a.txt", "", Json(4, 4), why), TResult::Written);
    EXPECT_EQ(why, "records 2 to 3 of stand2/a.txt never came");
    collector.CloseAll();
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", "", Json(6, 6), why),
              TResult::Repeat);
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", "", Json(7, 7), why),
              TResult::Written);
    EXPECT_EQ(FileBytes(first), expected + app::LogLine(Record(7)));
    EXPECT_EQ(collector.Written(), 10u);
    EXPECT_EQ(collector.Repeats(), 3u);

    for (const auto& [stand, log, payload] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"..", "a.txt", Json(1, 1)},
             {"stand1", "../../etc/x.txt", Json(1, 1)},
             {"st/and", "a.txt", Json(1, 1)},
             {"stand1", "a.txt", "{\"seq\":1}"},
             {"stand1", "a.txt", "not json"},
             {"stand1", "a.txt", "{\"tick\":1}"}}) {
        EXPECT_EQ(collector.Store(stand, log, "", payload, why), TResult::Rejected) << stand << log;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_EQ(collector.Store("stand1", "a.txt", "12x", Json(1, 1), why), TResult::Rejected);
    EXPECT_EQ(why, "the log start \"12x\" of stand1/a.txt is no number");
}

// A stand's log renamed and begun again under the same name (SIGHUP, copytruncate): its
// records start again at 1 with another log start. Each log's records end up whole in a file
// of their own, earlier ones moved to the first free <name>.1, <name>.2, ...; repeats within
// one log are still dropped, also by a collector started again on the same folder. A file
// collected before log starts were known, or a message without one, goes by seq alone.
TEST(Collector, KeepsEachLogOfOneNameWholeInAFileOfItsOwn) {
    orvi::testing::TempDir dir;
    std::filesystem::create_directories(dir.FilePath("s2"));
    {
        std::ofstream old(dir.FilePath("s2/old.txt"), std::ios::binary);
        old << app::LogLine(Record(31)) << app::LogLine(Record(32));
        std::filesystem::create_directories(dir.FilePath("s3"));
        std::ofstream(dir.FilePath("s3/new.txt.start")) << "7000\n"; // killed before a line
    }
    auto collector = std::make_unique<TCollector>(dir.Path());
    struct TStep {
        const char* Stand;
        const char* Start; // the "log-start" property; empty: none
        uint64_t Seq;
        int K;
        TResult Expected;
        bool RestartFirst = false; // a new collector on the same folder before the step
    };
    const std::vector<TStep> steps = {
        {"s1", "1000", 1, 1, TResult::Written},
        {"s1", "1000", 2, 2, TResult::Written},
        {"s1", "1000", 1, 1, TResult::Repeat},   // a restarted acquirer sends again
        {"s1", "2000", 1, 11, TResult::Written}, // rotated: d.txt becomes d.txt.1
        {"s1", "2000", 2, 12, TResult::Written},
        {"s1", "2000", 2, 12, TResult::Repeat},
        {"s1", "2000", 2, 12, TResult::Repeat, true},
        {"s1", "2000", 3, 13, TResult::Written},
        {"s1", "3000", 1, 21, TResult::Written, true}, // rotated again: d.txt.2
        {"s1", "", 1, 21, TResult::Repeat},             // no log start: by seq alone
        {"s1", "", 2, 22, TResult::Written},
        {"s2", "5000", 2, 32, TResult::Repeat}, // a file of before: by seq, then its start kept
        {"s2", "5000", 3, 33, TResult::Written},
        {"s2", "6000", 1, 41, TResult::Written, true},
        {"s3", "8000", 1, 51, TResult::Written}, // nothing to move aside
    };
    const std::map<std::string, std::string> logs = {
        {"s1", "d.txt"}, {"s2", "old.txt"}, {"s3", "new.txt"}};
    std::string why;
    for (size_t i = 0; i < steps.size(); ++i) {
        const TStep& step = steps[i];
        if (step.RestartFirst)
            collector = std::make_unique<TCollector>(dir.Path());
        EXPECT_EQ(collector->Store(step.Stand, logs.at(step.Stand), step.Start, Json(step.Seq, step.K), why),
                  step.Expected) << "step " << i << ": " << why;
    }
    const auto lines = [](std::vector<int> ks) {
        std::string bytes;
        for (const int k : ks)
            bytes += app::LogLine(Record(k));
        return bytes;
    };
    EXPECT_EQ(FileBytes(dir.FilePath("s1/d.txt.1")), lines({1, 2}));
    EXPECT_EQ(FileBytes(dir.FilePath("s1/d.txt.2")), lines({11, 12, 13}));
    EXPECT_EQ(FileBytes(dir.FilePath("s1/d.txt")), lines({21, 22}));
    EXPECT_EQ(FileBytes(dir.FilePath("s2/old.txt.1")), lines({31, 32, 33}));
    EXPECT_EQ(FileBytes(dir.FilePath("s2/old.txt")), lines({41}));
    EXPECT_EQ(FileBytes(dir.FilePath("s3/new.txt")), lines({51}));
    EXPECT_FALSE(std::filesystem::exists(dir.FilePath("s3/new.txt.1")));
    EXPECT_EQ(FileBytes(dir.FilePath("s3/new.txt.start")), "8000\n");
}

} // namespace
} // namespace orvi::collect::test
