// The level-of-detail index against brute force: a seeded random log with spikes, gaps,
// ticks that wrap past 2^31 and jump back, values that are not finite or beyond the float
// range, holes of NUL bytes, malformed and blank lines, LF and CR LF, fed as a growing file
// in random chunks that tear lines apart. At every step each pixel column's minimum,
// maximum and gap mark, at several zooms (exact and coarse) and in views whose edges fall
// inside blocks and spans, must equal what the index's definition gives from every record;
// reading a range back must give exactly its records with their gap marks; the records
// around a time and the statistics of a range must equal brute force; and no read of the
// file may be longer than a block's bound.
#include "viewer/LogIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace orvi::viewer {
namespace {

struct TExpected {
    int64_t Ms = 0;
    bool Gap = false; // a gap or a new segment before it
    uint64_t Offset = 0, End = 0;
    TLogRecord Record;
};

std::string Value(std::mt19937& random, int line, size_t channel) {
    std::uniform_int_distribution<int> percent(0, 999);
    std::normal_distribution<double> noise(0, 3);
    const int roll = percent(random);
    if (roll < 3)
        return roll == 0 ? "nan" : roll == 1 ? "inf" : "-inf";
    if (roll < 5)
        return roll == 3 ? "1e300" : "-3.5e38"; // beyond the float range
    double v = 20 + 5 * std::sin(line / 50.0 + double(channel)) + noise(random);
    if (roll < 15)
        v *= roll < 10 ? 40 : -40; // a one-sample spike
    char text[32];
    std::snprintf(text, sizeof text, channel % 3 ? "%.2f" : "%.6g", v);
    return text;
}

std::string RandomLog(std::mt19937& random, int lines) {
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> holeBytes(1, 150000);
    int32_t tick = 2147483647 - 40000; // wraps after a few thousand records
    std::string log;
    for (int i = 0; i < lines; ++i) {
        const int roll = percent(random);
        const char* end = percent(random) < 50 ? "\r\n" : "\n";
        if (roll < 3) {
            log += (roll == 0 ? "1 2 3" : roll == 1 ? "12 abc 3 4 5 6 7 8 9 10 11 12" : "  ");
            log += end;
            continue;
        }
        if (roll == 3 && percent(random) < 10) {
            log.append(size_t(holeBytes(random)), '\0'); // a crash's hole, then a torn line
            continue;
        }
        tick = int32_t(uint32_t(tick) + uint32_t(roll < 5 ? -30000 : roll < 7 ? 90000 : 10));
        if (roll == 7 && percent(random) < 10)
            tick = int32_t(uint32_t(tick) + 1000000000u); // a jump past a day: a new segment
        log += std::to_string(tick);
        for (size_t c = 0; c < kChannelCount - 1; ++c) {
            log += ' ';
            log += Value(random, i, c);
        }
        log += ' ';
        log += std::to_string(percent(random) * 30 - 1500);
        log += end;
    }
    return log;
}

// The typical step as the index defines it: the median of the first kTypicalSteps steps
// forward, or of those among the first 4 * kTypicalSteps steps.
int64_t Threshold(const std::vector<TExpected>& records, const std::vector<bool>& segments) {
    std::vector<int64_t> steps;
    for (size_t i = 1; i < records.size() && i <= 4 * kTypicalSteps; ++i) {
        const int64_t step = records[i].Ms - records[i - 1].Ms;
        if (!segments[i] && step > 0 && steps.size() < kTypicalSteps)
            steps.push_back(step);
        if (steps.size() == kTypicalSteps)
            break;
    }
    if (steps.empty())
        return std::numeric_limits<int64_t>::max();
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2] * kGapFactor;
}

// Every record of the complete lines of `bytes`, read line by line without the index.
std::vector<TExpected> BruteForce(std::string_view bytes) {
    std::vector<TExpected> records;
    std::vector<bool> segments;
    TTimeline timeline;
    size_t at = 0;
    while (true) {
        const size_t newline = bytes.find('\n', at);
        if (newline == std::string::npos)
            break;
        std::string_view line(bytes.data() + at, newline - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        TExpected e;
        if (ParseLogLine(line, e.Record) == TLineKind::Record) {
            bool segment = false;
            e.Ms = timeline.Next(e.Record.Tick, segment);
            e.Offset = at;
            e.End = newline + 1;
            records.push_back(e);
            segments.push_back(segment);
        }
        at = newline + 1;
    }
    const int64_t threshold = Threshold(records, segments);
    for (size_t i = 1; i < records.size(); ++i)
        records[i].Gap = segments[i] || records[i].Ms - records[i - 1].Ms > threshold;
    return records;
}

// The first record of each block: kBlockRecords records, fewer when the next record's line
// would end more than kMaxBlockBytes after the block's first byte.
std::vector<size_t> BlockStarts(const std::vector<TExpected>& records) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < records.size(); ++i)
        if (starts.empty() || i - starts.back() == kBlockRecords ||
            records[i].End - records[starts.back()].Offset > kMaxBlockBytes)
            starts.push_back(i);
    return starts;
}

bool Huge(const TExpected& e) {
    for (const double v : e.Record.Values)
        if (std::isfinite(v) && !std::isfinite(float(v)))
            return true;
    return false;
}

// What the chart is defined to draw (LogIndex.h), from every record: at coarse zoom a block
// that ends in its first column or the next, lies wholly inside the view and holds no
// value beyond the float range belongs wholly to its first column; otherwise every record
// lies in its own column. A gap marks the column of its record after it, unless the record
// before it lies in the same column.
std::vector<TColumn> ExpectedColumns(const std::vector<TExpected>& records, double from,
                                     double perColumn, int count) {
    const auto column = [&](int64_t ms) { return std::floor((double(ms) - from) / perColumn); };
    const std::vector<size_t> starts = BlockStarts(records);
    size_t inView = 0;
    for (const size_t s : starts)
        inView += double(records[s].Ms) >= from && double(records[s].Ms) < from + perColumn * count;
    const bool coarse = inView >= size_t(kCoarseBlocksPerColumn) * size_t(count);
    std::vector<TColumn> expected(static_cast<size_t>(count));
    const double inf = std::numeric_limits<double>::infinity();
    for (TColumn& c : expected) {
        c.Min.fill(inf);
        c.Max.fill(-inf);
    }
    for (size_t b = 0; b < starts.size(); ++b) {
        const size_t first = starts[b];
        const size_t end = b + 1 < starts.size() ? starts[b + 1] : records.size();
        const double home = column(records[first].Ms), last = column(records[end - 1].Ms);
        const bool huge =
            std::any_of(records.begin() + long(first), records.begin() + long(end), Huge);
        const bool whole = coarse && last <= home + 1 && home >= 0 && last < count && !huge;
        for (size_t i = first; i < end; ++i) {
            const double c = whole ? home : column(records[i].Ms);
            if (c >= 0 && c < count)
                Widen(expected[size_t(c)], records[i].Record);
        }
    }
    for (size_t i = 1; i < records.size(); ++i) {
        const double c = column(records[i].Ms);
        if (records[i].Gap && c >= 0 && c < count && column(records[i - 1].Ms) != c)
            expected[size_t(c)].GapBefore = true;
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
        const bool same = got[c].HasData == expected[c].HasData &&
                          got[c].GapBefore == expected[c].GapBefore &&
                          got[c].Min == expected[c].Min && got[c].Max == expected[c].Max;
        ASSERT_TRUE(same) << "column " << c << " of " << count << " from " << from << " by "
                          << perColumn << ": data " << got[c].HasData << " gap "
                          << got[c].GapBefore << " min " << testing::PrintToString(got[c].Min)
                          << " max " << testing::PrintToString(got[c].Max) << ", expected "
                          << expected[c].HasData << " " << expected[c].GapBefore << " "
                          << testing::PrintToString(expected[c].Min) << " "
                          << testing::PrintToString(expected[c].Max);
    }
}

bool SameValues(const TLogRecord& a, const TLogRecord& b) {
    for (size_t c = 0; c < kChannelCount; ++c)
        if (!(a.Values[c] == b.Values[c] || (std::isnan(a.Values[c]) && std::isnan(b.Values[c]))))
            return false;
    return a.Tick == b.Tick;
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
            EXPECT_EQ(s.GapBefore, expected[seen].Gap) << s.Ms;
            EXPECT_TRUE(SameValues(s.Record, expected[seen].Record)) << s.Ms;
        }
        ++seen;
        return true;
    }));
    EXPECT_EQ(seen, expected.size());
    uint64_t near = 0; // the records of the blocks that overlap the range
    const std::vector<size_t> starts = BlockStarts(records);
    for (size_t b = 0; b < starts.size(); ++b) {
        const size_t end = b + 1 < starts.size() ? starts[b + 1] : records.size();
        if (records[starts[b]].Ms <= to && records[end - 1].Ms >= from)
            near += end - starts[b];
    }
    EXPECT_EQ(index.RecordsNear(from, to), near);
}

// The last record at or before `ms` and the first after it, by a walk over every record.
void ExpectAround(const TLogIndex& index, const TByteReader& read,
                  const std::vector<TExpected>& records, double ms) {
    const TNeighbours around = index.Around(read, ms);
    const auto after =
        std::upper_bound(records.begin(), records.end(), ms,
                         [](double t, const TExpected& e) { return t < double(e.Ms); });
    ASSERT_EQ(around.After.has_value(), after != records.end()) << ms;
    ASSERT_EQ(around.Before.has_value(), after != records.begin()) << ms;
    if (around.After) {
        EXPECT_EQ(around.After->Ms, after->Ms);
        EXPECT_TRUE(SameValues(around.After->Record, after->Record));
    }
    if (around.Before) {
        EXPECT_EQ(around.Before->Ms, (after - 1)->Ms);
        EXPECT_TRUE(SameValues(around.Before->Record, (after - 1)->Record));
    }
}

// Count, values left out, exact min and max with their first time, mean and M2 (two passes
// in long double) against the index's merged chunks and read edges.
void ExpectSummary(const TLogIndex& index, const TByteReader& read,
                   const std::vector<TExpected>& records, TMsRange range) {
    TStatsChunk got;
    ASSERT_TRUE(index.Summarize(read, range, got));
    const auto earlier = [](const TExpected& e, int64_t ms) { return e.Ms < ms; };
    const auto first = std::lower_bound(records.begin(), records.end(), range.From, earlier);
    const auto last = std::lower_bound(first, records.end(), range.To + 1, earlier);
    const std::vector<TExpected> in(first, last);
    for (size_t c = 0; c < kChannelCount; ++c) {
        SCOPED_TRACE(testing::Message()
                     << "channel " << c << " " << range.From << ".." << range.To);
        TChannelSummary want;
        long double sum = 0;
        double largest = 0;
        for (const TExpected& e : in) {
            const double v = e.Record.Values[c];
            if (!std::isfinite(v)) {
                ++want.NotFinite;
                continue;
            }
            ++want.Count;
            sum += v;
            largest = std::max(largest, std::abs(v));
            if (v < want.Min)
                want = {want.Count, want.NotFinite, v, want.Max, e.Ms, want.MaxMs, 0, 0};
            if (v > want.Max)
                want = {want.Count, want.NotFinite, want.Min, v, want.MinMs, e.Ms, 0, 0};
        }
        ASSERT_EQ(got[c].Count, want.Count);
        ASSERT_EQ(got[c].NotFinite, want.NotFinite);
        if (want.Count == 0)
            continue;
        EXPECT_EQ(got[c].Min, want.Min);
        EXPECT_EQ(got[c].MinMs, want.MinMs);
        EXPECT_EQ(got[c].Max, want.Max);
        EXPECT_EQ(got[c].MaxMs, want.MaxMs);
        const long double mean = sum / want.Count;
        long double m2 = 0;
        for (const TExpected& e : in)
            if (std::isfinite(e.Record.Values[c]))
                m2 += (e.Record.Values[c] - mean) * (e.Record.Values[c] - mean);
        if (std::isfinite(double(m2))) {
            EXPECT_NEAR(got[c].Mean, double(mean), 1e-12 * largest);
            EXPECT_NEAR(got[c].M2, double(m2), 1e-11 * double(m2) + 1e-12 * largest * largest);
        }
    }
}

TEST(LodIndex, EqualsBruteForceAtEveryZoomAndEdgeWhileTheLogGrows) {
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const std::string log = RandomLog(random, 7000);
        size_t longestRead = 0;
        const TByteReader read = [&](uint64_t offset, size_t length, char* out) {
            longestRead = std::max(longestRead, length);
            if (offset + length > log.size())
                return false;
            std::memcpy(out, log.data() + offset, length);
            return true;
        };
        TIndexBuilder builder;
        TLogIndex index;
        size_t available = 0;
        std::uniform_int_distribution<size_t> chunk(1, 150000);
        while (available < log.size()) {
            available = std::min(log.size(), available + chunk(random));
            const size_t consumed = builder.Consumed();
            builder.Feed(log.data() + consumed, available - consumed, false);
            builder.Publish(index);
            const std::vector<TExpected> records =
                BruteForce(std::string_view(log).substr(0, available));
            ASSERT_EQ(index.Records(), records.size());
            if (records.size() < 2)
                continue;
            const double span = double(records.back().Ms) + 1;
            for (const double columns : {3.0, 20.0, 97.0, 1600.0, 40000.0}) {
                ExpectColumns(index, read, records, 0, span / columns, int(columns));
                ExpectColumns(index, read, records, span / 3, span / columns / 7, int(columns));
            }
            // Views whose edges fall inside blocks and spans, coarse and exact.
            std::uniform_int_distribution<size_t> pick(0, records.size() - 1);
            std::uniform_real_distribution<double> inside(0.1, 0.9);
            for (int view = 0; view < 4; ++view) {
                size_t a = pick(random), b = pick(random);
                if (a > b)
                    std::swap(a, b);
                const double from = double(records[a].Ms) + inside(random);
                const double to = double(records[b].Ms) + inside(random) + 1;
                for (const int columns : {2, 5, 40, 300})
                    ExpectColumns(index, read, records, from, (to - from) / columns, columns);
                ExpectRange(index, read, records, int64_t(from), int64_t(to));
                ExpectSummary(index, read, records, {int64_t(from), int64_t(to)});
                ExpectAround(index, read, records, from);
            }
            ExpectRange(index, read, records, records[1].Ms, int64_t(span / 2));
            ExpectRange(index, read, records, 0, records.back().Ms);
            ExpectSummary(index, read, records, {0, records.back().Ms});
            ExpectAround(index, read, records, -1);
            ExpectAround(index, read, records, double(records.back().Ms));
        }
        EXPECT_GT(index.Gaps().size(), 0u);
        EXPECT_GT(index.Malformed(), 0u);
        EXPECT_GT(index.NotFinite(), 0u);
        EXPECT_EQ(index.MalformedLines().size(), kReportedLines);
        EXPECT_LE(longestRead, kMaxBlockBytes + kMaxLineBytes); // holes are never read
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

// The time rule, step by step: the tick's difference modulo 2^32 is time; a tick back, or
// forward by more than a day, starts a new segment one second after the last record.
TEST(LodIndex, TimeRuleTable) {
    struct TCase {
        const char* What;
        int32_t Before, After;
        int64_t Step;
        bool NewSegment;
    };
    const TCase cases[] = {
        {"forward", 1000, 1010, 10, false},
        {"repeated tick", 1000, 1000, 0, false},
        {"a minute forward", 1000, 61000, 60000, false},
        {"wrap past 2^31", 2147483640, -2147483646, 10, false},
        {"negative ticks go on", -2147483000, -2147482000, 1000, false},
        {"exactly a day forward", 0, 86400000, 86400000, false},
        {"more than a day forward", 0, 86400001, kSegmentGapMs, true},
        {"reset after negative ticks", -2147480000, 1000, kSegmentGapMs, true},
        {"reset from positive ticks", 50000000, 1000, kSegmentGapMs, true},
        {"a millisecond back", 1000, 999, kSegmentGapMs, true},
    };
    for (const TCase& c : cases) {
        TTimeline timeline;
        bool segment = true;
        EXPECT_EQ(timeline.Next(c.Before, segment), 0);
        EXPECT_FALSE(segment);
        EXPECT_EQ(timeline.Next(c.After, segment), c.Step) << c.What;
        EXPECT_EQ(segment, c.NewSegment) << c.What;
    }
}

} // namespace
} // namespace orvi::viewer
