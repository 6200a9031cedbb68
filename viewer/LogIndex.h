#pragma once
// The level-of-detail index of a data log: for every block of up to kBlockRecords records
// the offset of its first line, its first and last time and the minimum and maximum of
// each channel. That is about four bytes per record, whatever the zoom: a chart column
// covering whole blocks takes their minima and maxima; a view deep enough to draw single
// samples reads them again from the file.
//
// Blocks. A block holds kBlockRecords consecutive records, fewer when its bytes would
// otherwise pass kMaxBlockBytes (a hole of NUL bytes or long unreadable lines between two
// records): reading a block back costs what its records need, never the distance between
// two records far apart in the file.
//
// What a pixel column holds (TLogIndex::Columns):
//  - Exact, when fewer than kCoarseBlocksPerColumn blocks per column start in the view:
//    each column holds the minimum and maximum of the records whose time falls into it
//    (a block that straddles a column boundary is read again from the file).
//  - Coarse, when at least kCoarseBlocksPerColumn blocks per column start in the view: a
//    block whose last record lies in the column of its first one or in the next belongs
//    wholly to the column of its first record, so a spike is drawn at most one block's
//    time (a fraction of a column) before its place; a block reaching further (a jump in
//    time inside it) is read, its records in their own columns. So is a block that
//    crosses either edge of the view: no record inside the view is lost and none outside
//    it is drawn. Nothing else is read from the file unless the log jumps in time.
//  A block holding a value beyond the float range is always read (see ColumnValue).
//
// Values that are not finite ("nan", "inf") are left out of every minimum, maximum and
// statistic, counted and named (NotFinite, NotFiniteLines); the record's other values and
// its time stay. Finite values of any size are kept.
//
// Gaps, one rule for every zoom: the step from one record to the next is a gap when the
// next starts a new segment or the step is longer than kGapFactor times the run's typical
// interval (the median of its first kTypicalSteps steps). Columns mark the column where
// a gap ends (TColumn::GapBefore) and read samples carry it (TSample::GapBefore); the chart
// draws no line across either.
//
// TIndexBuilder parses the file's bytes into blocks; TLogIndex is what it publishes and
// what the chart and the export read. Neither locks: TIndexedLog says who may touch which.
#include "viewer/LogParse.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvi::viewer {

// Smaller blocks cost memory; larger ones cost a re-read of more lines for each block that
// straddles a column boundary.
inline constexpr uint32_t kBlockRecords = 32;
inline constexpr uint64_t kMaxBlockBytes = 64 * 1024;
inline constexpr int kCoarseBlocksPerColumn = 4;
// Whole blocks are also summed up in spans of kSpanBlocks, so that a wide view merges a
// few spans per column instead of hundreds of blocks (about 0.2 bytes per record).
inline constexpr size_t kSpanBlocks = 16;
// The exact statistics (count, minimum and maximum with their times, mean and spread)
// of every kStatsBlocks whole blocks (about 0.35 bytes per record).
inline constexpr size_t kStatsBlocks = 64;
inline constexpr size_t kReportedLines = 10; // skipped lines named by number
inline constexpr size_t kMaxGaps = 1 << 20;  // gaps kept for the columns (16 bytes each)
inline constexpr size_t kTypicalSteps = 1024;
inline constexpr int64_t kGapFactor = 10;

struct TBlock {
    uint64_t Offset = 0; // first byte of the block's first record line
    int64_t FirstMs = 0;
    int64_t LastMs = 0;
    uint64_t FirstRecord = 0; // the number of records before the block
    uint32_t Bytes = 0;       // from Offset to the byte after its last record line
    int32_t FirstTick = 0;
    uint32_t Count = 0;
    bool FirstStartsSegment = false;
    bool Huge = false; // holds a finite value beyond the float range
    std::array<float, kChannelCount> Min;
    std::array<float, kChannelCount> Max;
    uint64_t End() const { return Offset + Bytes; }
};

// The pixel columns of a view: column c covers [FromMs + c * MsPerColumn, FromMs + (c + 1) *
// MsPerColumn).
struct TColumnGrid {
    double FromMs = 0;
    double MsPerColumn = 1;
    int Count = 0;
    int64_t Of(int64_t ms) const {
        return int64_t(std::floor((double(ms) - FromMs) / MsPerColumn));
    }
    bool Inside(int64_t column) const { return column >= 0 && column < Count; }
};

// kSpanBlocks consecutive whole blocks: the first time of the first and of the last one,
// the last time, and each channel's minimum and maximum.
struct TSpan {
    int64_t FirstMs = 0;
    int64_t LastBlockFirstMs = 0;
    int64_t LastMs = 0;
    bool Huge = false;
    std::array<float, kChannelCount> Min;
    std::array<float, kChannelCount> Max;
};

// One channel's exact statistics over some records. Mean and M2 (the sum of squared
// deviations from the mean) merge without loss of precision (Chan et al.).
struct TChannelSummary {
    uint64_t Count = 0;     // finite values
    uint64_t NotFinite = 0; // values left out
    double Min = std::numeric_limits<double>::infinity();
    double Max = -std::numeric_limits<double>::infinity();
    int64_t MinMs = 0, MaxMs = 0; // the first record holding the minimum, the maximum
    double Mean = 0;
    double M2 = 0;
    // In the index's chunks MinMs and MaxMs are the first time of the block holding the
    // value; Summarize gives the record's own.
    void Add(double value, int64_t ms);
    // Adds the values of `later`, whose records all follow these ones.
    void Merge(const TChannelSummary& later);
};
using TStatsChunk = std::array<TChannelSummary, kChannelCount>;

// An inclusive range of milliseconds from the first record (empty when From > To).
struct TMsRange {
    int64_t From = 0;
    int64_t To = 0;
};

// A gap (see above) ends at the record at Ms; the record before it is Length earlier.
struct TGap {
    int64_t Ms = 0;
    uint32_t Length = 0; // at most kMaxStepMs
    bool NewSegment = false;
    int64_t FromMs() const { return Ms - int64_t(Length); }
};

// One record as read back from the file, with the text of its line.
struct TSample {
    int64_t Ms = 0;
    bool NewSegment = false;
    bool GapBefore = false; // a gap (or a new segment) lies between it and the record before
    TLogRecord Record;
    std::string_view Line; // valid only during the visit; empty in returned copies
};

// Copies bytes of the log; false when they cannot be read (the file shrank).
using TByteReader = std::function<bool(uint64_t offset, size_t length, char* out)>;
using TSampleVisitor = std::function<bool(const TSample&)>;

// What one pixel column of the chart covers: per channel the minimum and maximum of the
// records whose time falls into it, each as ColumnValue gives it (+inf/-inf when none of
// them holds a finite number).
struct TColumn {
    std::array<double, kChannelCount> Min;
    std::array<double, kChannelCount> Max;
    bool HasData = false;
    bool NewSegment = false; // a segment starts within this column
    bool GapBefore = false;  // a gap ends within this column: no line from the column before
};

// What a column holds of a value: the float nearest to it (the index keeps floats; the
// rounding keeps order, so the float of a minimum is the minimum of the floats), the value
// itself when it lies beyond the float range, and NaN (left out) when it is not finite.
inline double ColumnValue(double v) {
    if (!std::isfinite(v))
        return std::numeric_limits<double>::quiet_NaN();
    const float f = float(v);
    return std::isfinite(f) ? double(f) : v;
}

inline void Widen(TColumn& column, const TLogRecord& record) {
    for (size_t c = 0; c < kChannelCount; ++c) {
        const double v = ColumnValue(record.Values[c]);
        column.Min[c] = v < column.Min[c] ? v : column.Min[c]; // a NaN changes neither
        column.Max[c] = v > column.Max[c] ? v : column.Max[c];
    }
    column.HasData = true;
}

// The records nearest to a time: the last one at or before it, the first one after it.
struct TNeighbours {
    std::optional<TSample> Before;
    std::optional<TSample> After;
};

class TLogIndex {
public:
    size_t BlockCount() const { return blocks_.size() + (tail_.Count ? 1 : 0); }
    const TBlock& Block(size_t i) const { return i < blocks_.size() ? blocks_[i] : tail_; }
    uint64_t Records() const { return records_; }
    bool Empty() const { return records_ == 0; }
    int64_t LastMs() const { return Empty() ? 0 : Block(BlockCount() - 1).LastMs; }
    uint64_t Lines() const { return lines_; }
    // Lines that hold no record (unreadable), counted and the first kReportedLines named.
    uint64_t Malformed() const { return malformed_; }
    const std::vector<uint64_t>& MalformedLines() const { return malformedLines_; }
    // Values that are not finite, counted, and the first kReportedLines lines holding one.
    uint64_t NotFinite() const { return notFinite_; }
    const std::vector<uint64_t>& NotFiniteLines() const { return notFiniteLines_; }
    // The gaps in time order (up to kMaxGaps; later ones show in read samples only).
    const std::deque<TGap>& Gaps() const { return gaps_; }
    // The run's typical step between two records (0 before the second record), and the
    // step beyond which a step is a gap.
    int64_t TypicalStepMs() const { return typicalMs_; }
    int64_t GapThresholdMs() const;
    size_t MemoryBytes() const;

    // `count` columns of `msPerColumn` each from `fromMs`, exact or coarse as said above.
    std::vector<TColumn> Columns(const TByteReader& read, double fromMs, double msPerColumn,
                                 int count) const;
    // Visits the records with fromMs <= time <= toMs in order while `visit` returns true;
    // false when the file's bytes could not be read.
    bool ForEach(const TByteReader& read, int64_t fromMs, int64_t toMs,
                 const TSampleVisitor& visit) const;
    // The same over the blocks [first, last) only, so that a long visit can let go of the
    // lock between pieces: the first block that may hold a time is FirstBlockFor(ms).
    bool ForEachInBlocks(const TByteReader& read, size_t first, size_t last, TMsRange range,
                         const TSampleVisitor& visit) const;
    size_t FirstBlockFor(double ms) const { return FirstBlockEndingAtOrAfter(ms); }
    // The number of records in the blocks that overlap the range (an upper bound of those
    // in it): two binary searches, whatever the range.
    uint64_t RecordsNear(int64_t fromMs, int64_t toMs) const;
    // The records around `ms` (see TNeighbours), and the nearer of the two (the earlier on
    // a tie): a binary search to the block and at most two blocks read, whatever the log's
    // size or the view. Empty when the file's bytes could not be read.
    TNeighbours Around(const TByteReader& read, double ms) const;
    std::optional<TSample> Nearest(const TByteReader& read, double ms) const;
    // Exact statistics of each channel over the records in `range`: whole chunks of
    // kStatsBlocks blocks from the index, the records at both ends read from the file (at
    // most 2 * kStatsBlocks blocks). False when the file's bytes could not be read.
    bool Summarize(const TByteReader& read, TMsRange range, TStatsChunk& out) const;

private:
    friend class TIndexBuilder;
    size_t FirstBlockEndingAtOrAfter(double ms) const;
    size_t FirstBlockStartingAtOrAfter(double ms) const;
    void AddSpan();
    enum class TSpanUse { Merged, Split, Past };
    static TSpanUse MergeSpan(const TSpan& span, const TColumnGrid& grid, bool coarse,
                              std::vector<TColumn>& columns);
    static bool SpreadWithoutReading(const TBlock& block, const TColumnGrid& grid,
                                     std::vector<TColumn>& columns);
    void ReadRecords(const TByteReader& read, const TColumnGrid& grid,
                     const std::vector<size_t>& blocks, std::vector<TColumn>& columns) const;
    void MarkGaps(const TColumnGrid& grid, std::vector<TColumn>& columns) const;
    bool ForEachInBlock(const TByteReader& read, size_t block, std::string& buffer,
                        const TSampleVisitor& visit) const;
    bool SummarizeBlocks(const TByteReader& read, size_t first, size_t last, TMsRange range,
                         TStatsChunk& out) const;
    bool FindFirst(const TByteReader& read, TMsRange range, size_t channel, double value,
                   int64_t& ms) const;

    std::deque<TBlock> blocks_; // a deque: growing never copies what is there
    std::deque<TSpan> spans_;   // span k sums up blocks [k * kSpanBlocks, (k + 1) * kSpanBlocks)
    std::deque<TStatsChunk> stats_; // chunk k: blocks [k * kStatsBlocks, (k + 1) * kStatsBlocks)
    TBlock tail_;                   // the block being filled, as last published
    uint64_t records_ = 0;
    uint64_t lines_ = 0;
    uint64_t malformed_ = 0;
    std::vector<uint64_t> malformedLines_;
    uint64_t notFinite_ = 0;
    std::vector<uint64_t> notFiniteLines_;
    std::deque<TGap> gaps_;
    int64_t typicalMs_ = 0;
    bool typicalFixed_ = false;
};

class TIndexBuilder {
public:
    // Feeds the bytes that follow those consumed so far. Every complete line is indexed;
    // with `atEnd` also an unterminated last one. Returns the bytes consumed: the rest, a
    // torn last line, is to be fed again together with what follows it.
    size_t Feed(const char* data, size_t size, bool atEnd);
    // Hands the finished blocks and the counts to `index`, and a copy of the block being
    // filled as its tail, so that the newest records show at once.
    void Publish(TLogIndex& index);
    // A copy that has also read `rest`, the unterminated last line after what is consumed,
    // as if it were complete: its Publish shows that line as the index's newest record,
    // and this builder's next Publish takes it back (a line still being written is read
    // again when its end arrives). Call it after Publish.
    TIndexBuilder WithLastLine(std::string_view rest) const;
    uint64_t Consumed() const { return consumed_; }
    // A byte 0x1A was met: the file ends there, whatever follows.
    bool Ended() const { return ended_; }

private:
    // The open block's sums per channel, of the values shifted by the block's first one so
    // that the spread of values far from zero keeps its digits; arrays of channels, so that
    // the common record (every value finite and within the float range) is added in one
    // pass the compiler can vectorize.
    static constexpr size_t kLanes = (kChannelCount + 3) / 4 * 4; // whole vectors, no tail
    using TValues = std::array<double, kLanes>;
    struct TOpenSums {
        TValues Shift, Sum, Squares, Min, Max;
        std::array<uint32_t, kChannelCount> NotFinite;
    };

    void Line(std::string_view line, uint64_t offset, uint64_t end);
    void Record(const TLogRecord& record, uint64_t offset, uint64_t end);
    void StartSums(const TLogRecord& record);
    void AddValues(const TLogRecord& record);
    void AddUnusualValues(const TLogRecord& record);
    void CloseBlock();
    void Step(const TGap& step);
    void FixTypical();
    void AddGap(const TGap& gap);
    void PublishGaps(TLogIndex& index);
    int64_t EarlyTypical() const;
    void Skipped();

    TLogIndex staged_; // counts, blocks, chunks and gaps not yet published
    TBlock open_;
    TOpenSums sums_; // of open_
    TStatsChunk chunk_;                         // the whole blocks since the last chunk
    uint64_t blocksClosed_ = 0;
    TTimeline timeline_;
    // Until the typical step is fixed, every step is kept: the gaps among them are known
    // only then.
    std::vector<TGap> early_;
    std::vector<int64_t> earlySteps_;
    bool fixed_ = false;
    int64_t threshold_ = 0;    // once fixed_
    size_t gapsPublished_ = 0; // of staged_'s gaps, those already in the index
    bool replaceGaps_ = false; // the index holds gaps of the provisional typical step
    uint64_t consumed_ = 0;
    bool ended_ = false;
    bool inLongLine_ = false;  // skipping the rest of an over-long line
    bool provisional_ = false; // a full block stays the tail, so that Publish can take it back
};

} // namespace orvi::viewer
