// The collector's store against the data log writer: records written back as the stand's
// lines, byte for byte (a value that was not finite too), a repeat dropped, a gap told, a
// new file per log of the stand, a name that is no plain file name or a payload that is no
// record refused, and the counts taken up again after the logs are closed (SIGHUP).
#include "acquire/Output.h"
#include "app/DataLog.h"
#include "collect/Collector.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
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
        EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", Json(k, k), why),
                  TResult::Written) << why;
        expected += app::LogLine(Record(k));
        if (k == 4) { // a repeat of what was seen, as after a reconnect
            EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", Json(2, 2), why),
                      TResult::Repeat);
        }
    }
    const std::string first = dir.FilePath("stand1/2026_12_9_10_0.txt");
    EXPECT_EQ(FileBytes(first), expected);

    // The stand's next log, then a late repeat of the first: it stays as it was.
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_5.txt", Json(1, 9), why), TResult::Written);
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", Json(6, 6), why), TResult::Repeat);
    EXPECT_EQ(FileBytes(first), expected);
    EXPECT_EQ(FileBytes(dir.FilePath("stand1/2026_12_9_10_5.txt")), app::LogLine(Record(9)));

    // A gap is written and told; the counts come back from the files after a close.
    EXPECT_EQ(collector.Store("stand2", "a.txt", Json(1, 1), why), TResult::Written);
    EXPECT_EQ(collector.Store("stand2", "a.txt", Json(4, 4), why), TResult::Written);
    EXPECT_EQ(why, "records 2 to 3 of stand2/a.txt never came");
    collector.CloseAll();
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", Json(6, 6), why), TResult::Repeat);
    EXPECT_EQ(collector.Store("stand1", "2026_12_9_10_0.txt", Json(7, 7), why), TResult::Written);
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
        EXPECT_EQ(collector.Store(stand, log, payload, why), TResult::Rejected) << stand << log;
        EXPECT_FALSE(why.empty());
    }
}

} // namespace
} // namespace orvi::collect::test
