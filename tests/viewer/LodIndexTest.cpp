// The level-of-detail index against brute force: a seeded random log with spikes, gaps,
// ticks that wrap past 2^31 and jump back, malformed and blank lines, LF and CR LF, fed
// as a growing file in random chunks that tear lines apart. At every step each pixel
// column's minimum and maximum, at several zooms (exact and coarse), must equal what the
// index's definition gives from every record, and reading a range back must give exactly
// its records.
#include "viewer/LogIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace orvi::viewer {
namespace {

struct TExpected {
    int64_t Ms;
    TLogRecord Record;
};

std::string RandomLog(std::mt19937& random, int lines) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::normal_distribution<double> noise(0, 3);
    int32_t tick = 2147483647 - 40000; // wraps after a few thousand records
    std::string log;
    char text[64];
    for (int i = 0; i < lines; ++i) {
        const int roll = percent(random);
        const char* end = percent(random) < 50 ? "\r\n" : "\n";
        if (roll < 3) {
            log += (roll == 0 ? "1 2 3" : roll == 1 ? "12 abc 3 4 5 6 7 8 9 10 11 12" : "  ");
            log += end;
            continue;
        }
        tick = int32_t(uint32_t(tick) + uint32_t(roll < 5 ? -30000 : roll < 7 ? 90000 : 10));
        if (roll == 7 && percent(random) < 10)
            tick = int32_t(uint32_t(tick) + 1000000000u); // a jump wider than a column
        log += std::to_string(tick);
        for (size_t c = 0; c < kChannelCount - 1; ++c) {
            double v = 20 + 5 * std::sin(i / 50.0 + double(c)) + noise(random);
            if (percent(random) == 0)
                v *= percent(random) < 50 ? 40 : -40; // a one-sample spike
            std::snprintf(text, sizeof text, c % 3 ? " %.2f" : " %.6g", v);
            log += text;
        }
        log += " " + std::to_string(int(noise(random) * 1000)) + end;
    }
    return log;
}

// Every record of the complete lines of `bytes`, read line by line without the index.
std::vector<TExpected> BruteForce(const std::string& bytes) {
    std::vector<TExpected> records;
    TTimeline timeline;
    size_t at = 0;
    while (true) {
        const size_t newline = bytes.find('\n', at);
        if (newline == std::string::npos)
            return records;
        std::string_view line(bytes.data() + at, newline - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        TExpected e;
        if (ParseLogLine(line, e.Record) == TLineKind::Record) {
            bool segment = false;
            e.Ms = timeline.Next(e.Record.Tick, segment);
            records.push_back(e);
        }
        at = newline + 1;
    }
}

// What the chart is defined to draw (LogIndex.h), from every record: blocks are runs of
// kBlockRecords records; at coarse zoom a block that ends in its first column or the next
// belongs wholly to its first column, otherwise every record lies in its own column.
std::vector<TColumn> ExpectedColumns(const std::vector<TExpected>& records, double from,
                                     double perColumn, int count) {
    const auto column = [&](int64_t ms) { return std::floor((double(ms) - from) / perColumn); };
    size_t starts = 0;
    for (size_t i = 0; i < records.size(); i += kBlockRecords)
        starts += double(records[i].Ms) >= from && double(records[i].Ms) < from + perColumn * count;
    const bool coarse = starts >= size_t(kCoarseBlocksPerColumn) * size_t(count);
    std::vector<TColumn> expected(static_cast<size_t>(count));
    const double inf = std::numeric_limits<double>::infinity();
    for (TColumn& c : expected) {
        c.Min.fill(inf);
        c.Max.fill(-inf);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const size_t first = i - i % kBlockRecords;
        const size_t last = std::min(first + kBlockRecords, records.size()) - 1;
        const double home = column(records[first].Ms);
        const bool whole = coarse && column(records[last].Ms) <= home + 1;
        const double c = whole ? home : column(records[i].Ms);
        if (c >= 0 && c < count)
            Widen(expected[size_t(c)], records[i].Record);
    }
    return expected;
}

void ExpectColumns(const TLogIndex& index, const TByteReader& read,
                   const std::vector<TExpected>& records, double from, double perColumn,
                   int count) {
    const std::vector<TColumn> expected = ExpectedColumns(records, from, perColumn, count);
    const std::vector<TColumn> got = index.Columns(read, from, perColumn, count);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t c = 0; c < got.size(); ++c) {
        ASSERT_EQ(got[c].HasData, expected[c].HasData) << "column " << c << " of " << perColumn;
        for (size_t ch = 0; ch < kChannelCount; ++ch) {
            ASSERT_EQ(got[c].Min[ch], expected[c].Min[ch]) << "column " << c << " channel " << ch;
            ASSERT_EQ(got[c].Max[ch], expected[c].Max[ch]) << "column " << c << " channel " << ch;
        }
    }
}

void ExpectRange(const TLogIndex& index, const TByteReader& read,
                 const std::vector<TExpected>& records, int64_t from, int64_t to) {
    std::vector<TExpected> expected;
    for (const TExpected& e : records)
        if (e.Ms >= from && e.Ms <= to)
            expected.push_back(e);
    size_t seen = 0;
    ASSERT_TRUE(index.ForEach(read, from, to, [&](const TSample& s) {
        EXPECT_LT(seen, expected.size());
        if (seen < expected.size()) {
            EXPECT_EQ(s.Ms, expected[seen].Ms);
            EXPECT_EQ(s.Record.Tick, expected[seen].Record.Tick);
            EXPECT_EQ(s.Record.Values, expected[seen].Record.Values);
        }
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, expected.size());
    uint64_t near = 0; // the records of the blocks that overlap the range
    for (size_t i = 0; i < records.size(); i += kBlockRecords) {
        const size_t last = std::min(i + kBlockRecords, records.size()) - 1;
        if (records[i].Ms <= to && records[last].Ms >= from)
            near += last - i + 1;
    }
    EXPECT_EQ(index.RecordsNear(from, to), near);
}

TEST(LodIndex, EqualsBruteForceAtEveryZoomWhileTheLogGrows) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const std::string log = RandomLog(random, 6000);
        const TByteReader read = [&](uint64_t offset, size_t length, char* out) {
            if (offset + length > log.size())
                return false;
            std::memcpy(out, log.data() + offset, length);
            return true;
        };
        TIndexBuilder builder;
        TLogIndex index;
        size_t available = 0;
        std::uniform_int_distribution<size_t> chunk(1, 40000);
        while (available < log.size()) {
            available = std::min(log.size(), available + chunk(random));
            const size_t from = builder.Consumed();
            builder.Feed(log.data() + from, available - from, false);
            builder.Publish(index);
            const std::vector<TExpected> records = BruteForce(log.substr(0, available));
            ASSERT_EQ(index.Records(), records.size());
            if (records.empty())
                continue;
            const double span = double(records.back().Ms) + 1;
            for (const double columns : {3.0, 20.0, 97.0, 1600.0, 40000.0}) {
                ExpectColumns(index, read, records, 0, span / columns, int(columns));
                ExpectColumns(index, read, records, span / 3, span / columns / 7, int(columns));
            }
            ExpectRange(index, read, records, records.size() > 10 ? records[10].Ms : 0,
                        int64_t(span / 2));
            ExpectRange(index, read, records, 0, records.back().Ms);
        }
        EXPECT_GT(index.Gaps().size(), 0u);
        EXPECT_GT(index.Malformed(), 0u);
        EXPECT_EQ(index.MalformedLines().size(), kReportedLines);
    }
}

// Malformed input is counted by line number and never read as a record: an over-long
// line, a number outside the 32-bit range, a byte 0x1A that ends the file, binary bytes.
TEST(LodIndex, CountsSkippedLinesAndStopsAtEndOfFileMark) {
    const std::string record = "100 1 2 3 4 5 6 7 8 9 10 11\r\n";
    const std::string bytes = record + std::string(5000, '7') + "\n" +
                              "2147483648 1 2 3 4 5 6 7 8 9 10 11\n" +
                              std::string("\0\x01\xff", 3) + "\n" + record +
                              "200 1 2 3 4 5 6 7 8 9 10 11" + "\x1A" + record;
    for (const size_t step : {size_t(1), size_t(7), bytes.size()}) {
        SCOPED_TRACE(step);
        TIndexBuilder builder;
        for (size_t at = 0; at < bytes.size() && !builder.Ended();) {
            const size_t end = std::min(bytes.size(), at + step);
            builder.Feed(bytes.data() + builder.Consumed(), end - builder.Consumed(), false);
            at = end;
        }
        TLogIndex index;
        builder.Publish(index);
        EXPECT_TRUE(builder.Ended());
        EXPECT_EQ(index.Records(), 3u);
        EXPECT_EQ(index.MalformedLines(), (std::vector<uint64_t>{2, 3, 4}));
        EXPECT_EQ(index.LastMs(), 100); // 100, 100, 200: the records before the mark
    }
}

} // namespace
} // namespace orvi::viewer
