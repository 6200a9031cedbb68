#include "viewer/LogIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace orvi::viewer {

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

void Reset(std::array<float, kChannelCount>& min, std::array<float, kChannelCount>& max) {
    min.fill(kInf);
    max.fill(-kInf);
}

void Merge(std::array<float, kChannelCount>& min, std::array<float, kChannelCount>& max,
           const std::array<float, kChannelCount>& otherMin,
           const std::array<float, kChannelCount>& otherMax) {
    for (size_t c = 0; c < kChannelCount; ++c) {
        min[c] = std::min(min[c], otherMin[c]);
        max[c] = std::max(max[c], otherMax[c]);
    }
}

template <class TSummary> void Merge(TColumn& column, const TSummary& summary) {
    Merge(column.Min, column.Max, summary.Min, summary.Max);
    column.HasData = true;
}

// Whether the block could lower a minimum or raise a maximum of either column.
bool CouldChange(const TBlock& block, const TColumn& a, const TColumn& b) {
    for (size_t c = 0; c < kChannelCount; ++c) {
        if (block.Min[c] < a.Min[c] || block.Min[c] < b.Min[c] || block.Max[c] > a.Max[c] ||
            block.Max[c] > b.Max[c])
            return true;
    }
    return false;
}

} // namespace

size_t TLogIndex::MemoryBytes() const {
    return blocks_.size() * sizeof(TBlock) + spans_.size() * sizeof(TSpan) +
           breaks_.capacity() * sizeof(int64_t);
}

void TLogIndex::AddSpan() {
    const size_t first = spans_.size() * kSpanBlocks, last = first + kSpanBlocks - 1;
    TSpan span;
    span.FirstMs = blocks_[first].FirstMs;
    span.LastBlockFirstMs = blocks_[last].FirstMs;
    span.LastMs = blocks_[last].LastMs;
    Reset(span.Min, span.Max);
    for (size_t i = first; i <= last; ++i)
        Merge(span.Min, span.Max, blocks_[i].Min, blocks_[i].Max);
    spans_.push_back(span);
}

// Merges a span whose blocks all go whole to the same column (the column of its first
// record: see the header), or passes over one whose column lies before the view; false
// when its blocks are to be taken one by one.
bool TLogIndex::MergeSpan(const TSpan& span, const TColumnGrid& grid, bool coarse,
                          std::vector<TColumn>& columns) {
    const int64_t first = grid.Of(span.FirstMs), last = grid.Of(span.LastMs);
    const bool whole =
        last == first || (coarse && grid.Of(span.LastBlockFirstMs) == first && last == first + 1);
    if (!whole || first >= grid.Count)
        return false;
    if (first >= 0)
        Merge(columns[size_t(first)], span);
    return true;
}

size_t TLogIndex::FirstBlockEndingAtOrAfter(double ms) const {
    size_t low = 0, high = BlockCount();
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (double(Block(mid).LastMs) < ms)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

size_t TLogIndex::FirstBlockStartingAtOrAfter(double ms) const {
    size_t low = 0, high = BlockCount();
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (double(Block(mid).FirstMs) < ms)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

bool TLogIndex::ForEachInBlock(const TByteReader& read, const TBlock& block, std::string& buffer,
                               const std::function<bool(const TSample&)>& visit) const {
    buffer.resize(block.End - block.Offset);
    if (!read(block.Offset, buffer.size(), buffer.data()))
        return false;
    TTimeline timeline{true, block.FirstTick, block.FirstMs};
    TSample sample;
    uint32_t seen = 0;
    size_t at = 0;
    while (at < buffer.size() && seen < block.Count) {
        const char* start = buffer.data() + at;
        const void* newline = std::memchr(start, '\n', buffer.size() - at);
        const size_t length =
            newline ? size_t(static_cast<const char*>(newline) - start) : buffer.size() - at;
        at += length + 1;
        sample.Line = std::string_view(start, length);
        if (!sample.Line.empty() && sample.Line.back() == '\r')
            sample.Line.remove_suffix(1);
        if (ParseLogLine(sample.Line, sample.Record) != TLineKind::Record)
            continue;
        if (seen++ == 0) {
            sample.Ms = block.FirstMs;
            sample.NewSegment = block.FirstStartsSegment;
        } else {
            sample.Ms = timeline.Next(sample.Record.Tick, sample.NewSegment);
        }
        if (!visit(sample))
            break;
    }
    return true;
}

std::vector<TColumn> TLogIndex::Columns(const TByteReader& read, double fromMs, double msPerColumn,
                                        int count) const {
    std::vector<TColumn> columns(size_t(std::max(count, 0)));
    for (TColumn& column : columns)
        Reset(column.Min, column.Max);
    if (columns.empty() || !(msPerColumn > 0))
        return columns;
    const TColumnGrid grid{fromMs, msPerColumn, count};
    const double toMs = fromMs + msPerColumn * count;
    const bool coarse = FirstBlockStartingAtOrAfter(toMs) - FirstBlockStartingAtOrAfter(fromMs) >=
                        size_t(kCoarseBlocksPerColumn) * columns.size();
    std::vector<size_t> straddling;
    for (size_t i = FirstBlockEndingAtOrAfter(fromMs); i < BlockCount(); ++i) {
        if (i % kSpanBlocks == 0 && i / kSpanBlocks < spans_.size() &&
            MergeSpan(spans_[i / kSpanBlocks], grid, coarse, columns)) {
            i += kSpanBlocks - 1;
            continue;
        }
        const TBlock& block = Block(i);
        if (double(block.FirstMs) >= toMs)
            break;
        const int64_t first = grid.Of(block.FirstMs), last = grid.Of(block.LastMs);
        if (first == last || (coarse && last == first + 1)) {
            if (grid.Inside(first))
                Merge(columns[size_t(first)], block);
        } else {
            straddling.push_back(i);
        }
    }
    // With the whole blocks merged, fewer straddling ones can change a column.
    std::vector<size_t> toRead;
    for (const size_t i : straddling)
        if (!SpreadWithoutReading(Block(i), grid, columns))
            toRead.push_back(i);
    ReadRecords(read, grid, toRead, columns);
    for (const int64_t ms : breaks_) {
        const int64_t c = grid.Of(ms);
        if (grid.Inside(c))
            columns[size_t(c)].NewSegment = true;
    }
    return columns;
}

// A block across one column boundary that could lower no minimum and raise no maximum of
// either column only marks both as holding data.
bool TLogIndex::SpreadWithoutReading(const TBlock& block, const TColumnGrid& grid,
                                     std::vector<TColumn>& columns) {
    const int64_t first = grid.Of(block.FirstMs), last = grid.Of(block.LastMs);
    if (last != first + 1 || !grid.Inside(first) || !grid.Inside(last) ||
        CouldChange(block, columns[size_t(first)], columns[size_t(last)]))
        return false;
    columns[size_t(first)].HasData = columns[size_t(last)].HasData = true;
    return true;
}

void TLogIndex::ReadRecords(const TByteReader& read, const TColumnGrid& grid,
                            const std::vector<size_t>& blocks,
                            std::vector<TColumn>& columns) const {
    std::string buffer;
    for (const size_t i : blocks) {
        ForEachInBlock(read, Block(i), buffer, [&](const TSample& sample) {
            const int64_t c = grid.Of(sample.Ms);
            if (grid.Inside(c)) {
                Widen(columns[size_t(c)].Min, columns[size_t(c)].Max, sample.Record);
                columns[size_t(c)].HasData = true;
            }
            return c < grid.Count;
        });
    }
}

bool TLogIndex::ForEach(const TByteReader& read, int64_t fromMs, int64_t toMs,
                        const std::function<bool(const TSample&)>& visit) const {
    std::string buffer;
    bool more = true;
    for (size_t i = FirstBlockEndingAtOrAfter(double(fromMs)); more && i < BlockCount(); ++i) {
        const TBlock& block = Block(i);
        if (block.FirstMs > toMs)
            break;
        const bool readable = ForEachInBlock(read, block, buffer, [&](const TSample& sample) {
            if (sample.Ms > toMs)
                return more = false;
            return sample.Ms < fromMs || (more = visit(sample));
        });
        if (!readable)
            return false;
    }
    return true;
}

// Every block but the tail holds kBlockRecords records: two binary searches, whatever the
// range.
uint64_t TLogIndex::RecordsNear(int64_t fromMs, int64_t toMs) const {
    const size_t begin = FirstBlockEndingAtOrAfter(double(fromMs));
    const size_t end = FirstBlockStartingAtOrAfter(double(toMs) + 1);
    if (end <= begin)
        return 0;
    uint64_t records = uint64_t(end - begin) * kBlockRecords;
    if (end == BlockCount() && tail_.Count)
        records -= kBlockRecords - tail_.Count;
    return records;
}

size_t TIndexBuilder::Feed(const char* data, size_t size, bool atEnd) {
    size_t at = 0;
    while (at < size && !ended_) {
        const char* start = data + at;
        const void* found = std::memchr(start, '\n', size - at);
        size_t length = found ? size_t(static_cast<const char*>(found) - start) : size - at;
        const void* stop = std::memchr(start, 0x1A, length);
        if (stop) {
            length = size_t(static_cast<const char*>(stop) - start);
            ended_ = true;
        }
        const bool complete = found || stop || atEnd;
        if (!complete && !inLongLine_ && length <= kMaxLineBytes)
            break; // torn: wait for the rest of the line
        const uint64_t offset = consumed_ + at;
        const size_t taken = length + (found && !stop ? 1 : 0);
        if (inLongLine_) {
            inLongLine_ = !complete;
        } else if (!complete) {
            Skipped(); // too long for a record; its rest is skipped as it comes
            inLongLine_ = true;
        } else {
            std::string_view line(start, length);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            Line(line, offset, offset + taken);
        }
        at += taken;
    }
    consumed_ += at;
    return at;
}

void TIndexBuilder::Line(std::string_view line, uint64_t offset, uint64_t end) {
    TLogRecord record;
    switch (ParseLogLine(line, record)) {
    case TLineKind::Record:
        ++staged_.lines_;
        Record(record, offset, end);
        break;
    case TLineKind::Blank:
        ++staged_.lines_;
        break;
    case TLineKind::Malformed:
        Skipped();
        break;
    }
}

void TIndexBuilder::Skipped() {
    ++staged_.lines_;
    ++staged_.malformed_;
    if (staged_.malformedLines_.size() < kReportedLines)
        staged_.malformedLines_.push_back(staged_.lines_);
}

void TIndexBuilder::Record(const TLogRecord& record, uint64_t offset, uint64_t end) {
    bool newSegment = false;
    const int64_t ms = timeline_.Next(record.Tick, newSegment);
    if (newSegment && staged_.breaks_.size() < kMaxBreaks)
        staged_.breaks_.push_back(ms);
    if (open_.Count == 0) {
        open_.Offset = offset;
        open_.FirstMs = ms;
        open_.FirstTick = record.Tick;
        open_.FirstStartsSegment = newSegment;
        Reset(open_.Min, open_.Max);
    }
    open_.End = end;
    open_.LastMs = ms;
    Widen(open_.Min, open_.Max, record);
    ++staged_.records_;
    if (++open_.Count == kBlockRecords && !provisional_) {
        staged_.blocks_.push_back(open_);
        open_.Count = 0;
    }
}

void TIndexBuilder::Publish(TLogIndex& index) {
    for (const TBlock& block : staged_.blocks_)
        index.blocks_.push_back(block);
    staged_.blocks_.clear();
    while ((index.spans_.size() + 1) * kSpanBlocks <= index.blocks_.size())
        index.AddSpan();
    index.tail_ = open_;
    index.records_ = staged_.records_;
    index.lines_ = staged_.lines_;
    index.malformed_ = staged_.malformed_;
    index.malformedLines_ = staged_.malformedLines_;
    if (index.breaks_.size() > staged_.breaks_.size())
        index.breaks_.resize(staged_.breaks_.size()); // a provisional last line's
    index.breaks_.insert(index.breaks_.end(), staged_.breaks_.begin() + index.breaks_.size(),
                         staged_.breaks_.end());
}

TIndexBuilder TIndexBuilder::WithLastLine(std::string_view rest) const {
    TIndexBuilder copy = *this;
    copy.provisional_ = true;
    copy.Feed(rest.data(), rest.size(), true);
    return copy;
}

} // namespace orvi::viewer
