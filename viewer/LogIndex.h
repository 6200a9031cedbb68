#pragma once
// The level-of-detail index of a data log: for every block of kBlockRecords records the
// offset of its first line, its first and last time and the minimum and maximum of each
// channel. That is about four bytes per record, whatever the zoom: a chart column covering
// whole blocks takes their minima and maxima; a view deep enough to draw single samples
// reads them again from the file.
//
// What a pixel column holds (TLogIndex::Columns). Blocks are the runs of kBlockRecords
// consecutive records from the first one (the last run may be shorter).
//  - Exact, when fewer than kCoarseBlocksPerColumn blocks per column start in the view:
//    each column holds the minimum and maximum of the records whose time falls into it
//    (a block that straddles a column boundary is read again from the file).
//  - Coarse, when at least kCoarseBlocksPerColumn blocks per column start in the view: a
//    block whose last record lies in the column of its first one or in the next belongs
//    wholly to the column of its first record, so a spike is drawn at most one block's
//    time (a fraction of a column) before its place; a block reaching further (a jump in
//    time inside it) is read, its records in their own columns. Nothing is read from the
//    file unless the log jumps in time.
//
// TIndexBuilder parses the file's bytes into blocks; TLogIndex is what it publishes and
// what the chart and the export read. Neither locks: TIndexedLog says who may touch which.
#include "viewer/LogParse.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvi::viewer {

// Smaller blocks cost memory; larger ones cost a re-read of more lines for each block that
// straddles a column boundary.
inline constexpr uint32_t kBlockRecords = 32;
inline constexpr int kCoarseBlocksPerColumn = 4;
// Whole blocks are also summed up in spans of kSpanBlocks, so that a wide view merges a
// few spans per column instead of hundreds of blocks (about 0.2 bytes per record).
inline constexpr size_t kSpanBlocks = 16;
inline constexpr size_t kReportedLines = 10; // skipped lines named by number
inline constexpr size_t kMaxBreaks = 100000; // segment starts kept for drawing gaps

struct TBlock {
    uint64_t Offset = 0; // first byte of the block's first record line
    uint64_t End = 0;    // the byte after its last record line
    int64_t FirstMs = 0;
    int64_t LastMs = 0;
    int32_t FirstTick = 0;
    uint32_t Count = 0;
    bool FirstStartsSegment = false;
    std::array<float, kChannelCount> Min;
    std::array<float, kChannelCount> Max;
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
    std::array<float, kChannelCount> Min;
    std::array<float, kChannelCount> Max;
};

// One record as read back from the file, with the text of its line.
struct TSample {
    int64_t Ms = 0;
    bool NewSegment = false;
    TLogRecord Record;
    std::string_view Line; // valid only during the visit
};

// Copies bytes of the log; false when they cannot be read (the file shrank).
using TByteReader = std::function<bool(uint64_t offset, size_t length, char* out)>;

// What one pixel column of the chart covers: per channel the minimum and maximum of the
// records whose time falls into it (+inf/-inf when none of them holds a number).
struct TColumn {
    std::array<float, kChannelCount> Min;
    std::array<float, kChannelCount> Max;
    bool HasData = false;
    bool NewSegment = false; // a segment starts within this column
};

// The float nearest to a value; the rounding keeps order, so the float of a minimum is the
// minimum of the floats.
inline void Widen(std::array<float, kChannelCount>& min, std::array<float, kChannelCount>& max,
                  const TLogRecord& record) {
    for (size_t c = 0; c < kChannelCount; ++c) {
        const float v = float(record.Values[c]);
        min[c] = v < min[c] ? v : min[c]; // a NaN changes neither
        max[c] = v > max[c] ? v : max[c];
    }
}

class TLogIndex {
public:
    size_t BlockCount() const { return blocks_.size() + (tail_.Count ? 1 : 0); }
    const TBlock& Block(size_t i) const { return i < blocks_.size() ? blocks_[i] : tail_; }
    uint64_t Records() const { return records_; }
    bool Empty() const { return records_ == 0; }
    int64_t LastMs() const { return Empty() ? 0 : Block(BlockCount() - 1).LastMs; }
    uint64_t Lines() const { return lines_; }
    uint64_t Malformed() const { return malformed_; }
    const std::vector<uint64_t>& MalformedLines() const { return malformedLines_; }
    const std::vector<int64_t>& Breaks() const { return breaks_; }
    size_t MemoryBytes() const;

    // `count` columns of `msPerColumn` each from `fromMs`, exact or coarse as said above.
    std::vector<TColumn> Columns(const TByteReader& read, double fromMs, double msPerColumn,
                                 int count) const;
    // Visits the records with fromMs <= time <= toMs in order while `visit` returns true;
    // false when the file's bytes could not be read.
    bool ForEach(const TByteReader& read, int64_t fromMs, int64_t toMs,
                 const std::function<bool(const TSample&)>& visit) const;
    // The number of records in the blocks that overlap the range (an upper bound of those in it).
    uint64_t RecordsNear(int64_t fromMs, int64_t toMs) const;

private:
    friend class TIndexBuilder;
    size_t FirstBlockEndingAtOrAfter(double ms) const;
    size_t FirstBlockStartingAtOrAfter(double ms) const;
    void AddSpan();
    static bool MergeSpan(const TSpan& span, const TColumnGrid& grid, bool coarse,
                          std::vector<TColumn>& columns);
    static bool SpreadWithoutReading(const TBlock& block, const TColumnGrid& grid,
                                     std::vector<TColumn>& columns);
    void ReadRecords(const TByteReader& read, const TColumnGrid& grid,
                     const std::vector<size_t>& blocks, std::vector<TColumn>& columns) const;
    bool ForEachInBlock(const TByteReader& read, const TBlock& block, std::string& buffer,
                        const std::function<bool(const TSample&)>& visit) const;

    std::deque<TBlock> blocks_; // a deque: growing never copies what is there
    std::deque<TSpan> spans_;   // span k sums up blocks [k * kSpanBlocks, (k + 1) * kSpanBlocks)
    TBlock tail_;               // the block being filled, as last published
    uint64_t records_ = 0;
    uint64_t lines_ = 0;
    uint64_t malformed_ = 0;
    std::vector<uint64_t> malformedLines_;
    std::vector<int64_t> breaks_;
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
    void Line(std::string_view line, uint64_t offset, uint64_t end);
    void Record(const TLogRecord& record, uint64_t offset, uint64_t end);
    void Skipped();

    TLogIndex staged_; // counts and blocks not yet published
    TBlock open_;
    TTimeline timeline_;
    uint64_t consumed_ = 0;
    bool ended_ = false;
    bool inLongLine_ = false;  // skipping the rest of an over-long line
    bool provisional_ = false; // a full block stays the tail, so that Publish can take it back
};

} // namespace orvi::viewer
