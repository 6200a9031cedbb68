#include "viewer/LogIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace orvi::viewer {

namespace {

template <class T>
void Reset(std::array<T, kChannelCount>& min, std::array<T, kChannelCount>& max) {
    min.fill(std::numeric_limits<T>::infinity());
    max.fill(-std::numeric_limits<T>::infinity());
}

template <class T, class U>
void Merge(std::array<T, kChannelCount>& min, std::array<T, kChannelCount>& max,
           const std::array<U, kChannelCount>& otherMin,
           const std::array<U, kChannelCount>& otherMax) {
    for (size_t c = 0; c < kChannelCount; ++c) {
        min[c] = std::min(min[c], T(otherMin[c]));
        max[c] = std::max(max[c], T(otherMax[c]));
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

// The first of [0, count) for which `after(i)` holds, `after` being false then true.
template <class F> size_t FirstWhere(size_t count, F after) {
    size_t low = 0, high = count;
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (after(mid))
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

} // namespace

void TChannelSummary::Add(double value, int64_t ms) {
    if (!std::isfinite(value)) {
        ++NotFinite;
        return;
    }
    ++Count;
    if (value < Min) {
        Min = value;
        MinMs = ms;
    }
    if (value > Max) {
        Max = value;
        MaxMs = ms;
    }
    const double delta = value - Mean;
    Mean += delta / double(Count);
    M2 += delta * (value - Mean);
}

void TChannelSummary::Merge(const TChannelSummary& later) {
    NotFinite += later.NotFinite;
    if (later.Count == 0)
        return;
    if (Count == 0) {
        const uint64_t notFinite = NotFinite;
        *this = later;
        NotFinite = notFinite;
        return;
    }
    const double n = double(Count) + double(later.Count);
    const double delta = later.Mean - Mean;
    Mean += delta * (double(later.Count) / n);
    M2 += later.M2 + delta * delta * (double(Count) * double(later.Count) / n);
    Count += later.Count;
    if (later.Min < Min) {
        Min = later.Min;
        MinMs = later.MinMs;
    }
    if (later.Max > Max) {
        Max = later.Max;
        MaxMs = later.MaxMs;
    }
}

int64_t TLogIndex::GapThresholdMs() const {
    return typicalMs_ > 0 ? typicalMs_ * kGapFactor : std::numeric_limits<int64_t>::max();
}

size_t TLogIndex::MemoryBytes() const {
    return blocks_.size() * sizeof(TBlock) + spans_.size() * sizeof(TSpan) +
           stats_.size() * sizeof(TStatsChunk) + gaps_.size() * sizeof(TGap);
}

void TLogIndex::AddSpan() {
    const size_t first = spans_.size() * kSpanBlocks, last = first + kSpanBlocks - 1;
    TSpan span;
    span.FirstMs = blocks_[first].FirstMs;
    span.LastBlockFirstMs = blocks_[last].FirstMs;
    span.LastMs = blocks_[last].LastMs;
    Reset(span.Min, span.Max);
    for (size_t i = first; i <= last; ++i) {
        Merge(span.Min, span.Max, blocks_[i].Min, blocks_[i].Max);
        span.Huge = span.Huge || blocks_[i].Huge;
    }
    spans_.push_back(span);
}

// Merges a span whose blocks all go whole to the same column inside the view (the column
// of its first record: see the header); Split when its blocks are to be taken one by one,
// Past when it starts after the view.
TLogIndex::TSpanUse TLogIndex::MergeSpan(const TSpan& span, const TColumnGrid& grid, bool coarse,
                                         std::vector<TColumn>& columns) {
    const int64_t first = grid.Of(span.FirstMs), last = grid.Of(span.LastMs);
    if (first >= grid.Count)
        return TSpanUse::Past;
    const bool whole =
        last == first || (coarse && grid.Of(span.LastBlockFirstMs) == first && last == first + 1);
    if (!whole || span.Huge || first < 0 || last >= grid.Count)
        return TSpanUse::Split;
    Merge(columns[size_t(first)], span);
    return TSpanUse::Merged;
}

size_t TLogIndex::FirstBlockEndingAtOrAfter(double ms) const {
    return FirstWhere(BlockCount(), [&](size_t i) { return double(Block(i).LastMs) >= ms; });
}

size_t TLogIndex::FirstBlockStartingAtOrAfter(double ms) const {
    return FirstWhere(BlockCount(), [&](size_t i) { return double(Block(i).FirstMs) >= ms; });
}

bool TLogIndex::ForEachInBlock(const TByteReader& read, size_t index, std::string& buffer,
                               const TSampleVisitor& visit) const {
    const TBlock& block = Block(index);
    buffer.resize(block.Bytes);
    if (!read(block.Offset, buffer.size(), buffer.data()))
        return false;
    TTimeline timeline{true, block.FirstTick, block.FirstMs};
    const int64_t threshold = GapThresholdMs();
    int64_t previousMs = index > 0 ? Block(index - 1).LastMs : block.FirstMs;
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
        sample.GapBefore = sample.NewSegment || sample.Ms - previousMs > threshold;
        previousMs = sample.Ms;
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
        if (i % kSpanBlocks == 0 && i / kSpanBlocks < spans_.size()) {
            const TSpanUse use = MergeSpan(spans_[i / kSpanBlocks], grid, coarse, columns);
            if (use == TSpanUse::Past)
                break;
            if (use == TSpanUse::Merged) {
                i += kSpanBlocks - 1;
                continue;
            }
        }
        const TBlock& block = Block(i);
        if (double(block.FirstMs) >= toMs)
            break;
        const int64_t first = grid.Of(block.FirstMs), last = grid.Of(block.LastMs);
        const bool whole = (first == last || (coarse && last == first + 1)) && first >= 0 &&
                           last < grid.Count && !block.Huge;
        if (whole)
            Merge(columns[size_t(first)], block);
        else
            straddling.push_back(i);
    }
    // With the whole blocks merged, fewer straddling ones can change a column.
    std::vector<size_t> toRead;
    for (const size_t i : straddling)
        if (!SpreadWithoutReading(Block(i), grid, columns))
            toRead.push_back(i);
    ReadRecords(read, grid, toRead, columns);
    MarkGaps(grid, columns);
    return columns;
}

// A block across one column boundary that could lower no minimum and raise no maximum of
// either column only marks both as holding data.
bool TLogIndex::SpreadWithoutReading(const TBlock& block, const TColumnGrid& grid,
                                     std::vector<TColumn>& columns) {
    const int64_t first = grid.Of(block.FirstMs), last = grid.Of(block.LastMs);
    if (block.Huge || last != first + 1 || !grid.Inside(first) || !grid.Inside(last) ||
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
        ForEachInBlock(read, i, buffer, [&](const TSample& sample) {
            const int64_t c = grid.Of(sample.Ms);
            if (grid.Inside(c))
                Widen(columns[size_t(c)], sample.Record);
            return c < grid.Count;
        });
    }
}

// A gap marks the column where it ends unless it begins in the same one (a gap narrower
// than a column inside it leaves the line whole).
void TLogIndex::MarkGaps(const TColumnGrid& grid, std::vector<TColumn>& columns) const {
    auto gap = std::lower_bound(gaps_.begin(), gaps_.end(), grid.FromMs,
                                [](const TGap& g, double ms) { return double(g.Ms) < ms; });
    for (; gap != gaps_.end(); ++gap) {
        const int64_t c = grid.Of(gap->Ms);
        if (c >= grid.Count)
            break;
        if (!grid.Inside(c))
            continue;
        columns[size_t(c)].NewSegment = columns[size_t(c)].NewSegment || gap->NewSegment;
        if (grid.Of(gap->FromMs()) != c)
            columns[size_t(c)].GapBefore = true;
    }
}

bool TLogIndex::ForEachInBlocks(const TByteReader& read, size_t first, size_t last, TMsRange range,
                                const TSampleVisitor& visit) const {
    std::string buffer;
    bool more = true;
    for (size_t i = first; more && i < std::min(last, BlockCount()); ++i) {
        if (Block(i).FirstMs > range.To)
            break;
        const bool readable = ForEachInBlock(read, i, buffer, [&](const TSample& sample) {
            if (sample.Ms > range.To)
                return more = false;
            return sample.Ms < range.From || (more = visit(sample));
        });
        if (!readable)
            return false;
    }
    return true;
}

bool TLogIndex::ForEach(const TByteReader& read, int64_t fromMs, int64_t toMs,
                        const TSampleVisitor& visit) const {
    return ForEachInBlocks(read, FirstBlockEndingAtOrAfter(double(fromMs)), BlockCount(),
                           {fromMs, toMs}, visit);
}

uint64_t TLogIndex::RecordsNear(int64_t fromMs, int64_t toMs) const {
    const size_t begin = FirstBlockEndingAtOrAfter(double(fromMs));
    const size_t end = FirstBlockStartingAtOrAfter(double(toMs) + 1);
    if (end <= begin)
        return 0;
    const TBlock& last = Block(end - 1);
    return last.FirstRecord + last.Count - Block(begin).FirstRecord;
}

TNeighbours TLogIndex::Around(const TByteReader& read, double ms) const {
    TNeighbours around;
    const size_t after =
        FirstWhere(BlockCount(), [&](size_t i) { return double(Block(i).LastMs) > ms; });
    std::string buffer;
    const auto keep = [](const TSample& s) {
        TSample copy = s;
        copy.Line = {};
        return copy;
    };
    if (after > 0 && (after == BlockCount() || double(Block(after).FirstMs) > ms)) {
        if (!ForEachInBlock(read, after - 1, buffer, [&](const TSample& s) {
                around.Before = keep(s);
                return true;
            }))
            return {};
    }
    if (after < BlockCount() && !ForEachInBlock(read, after, buffer, [&](const TSample& s) {
            if (double(s.Ms) <= ms) {
                around.Before = keep(s);
                return true;
            }
            around.After = keep(s);
            return false;
        }))
        return {};
    return around;
}

std::optional<TSample> TLogIndex::Nearest(const TByteReader& read, double ms) const {
    const TNeighbours around = Around(read, ms);
    if (!around.After)
        return around.Before;
    if (!around.Before)
        return around.After;
    return ms - double(around.Before->Ms) <= double(around.After->Ms) - ms ? around.Before
                                                                           : around.After;
}

bool TLogIndex::SummarizeBlocks(const TByteReader& read, size_t first, size_t last, TMsRange range,
                                TStatsChunk& out) const {
    return ForEachInBlocks(read, first, last, range, [&](const TSample& s) {
        for (size_t c = 0; c < kChannelCount; ++c)
            out[c].Add(s.Record.Values[c], s.Ms);
        return true;
    });
}

// Records are in time order, so the blocks that lie wholly inside the range are one run;
// the chunks within that run come from the index, the rest is read.
bool TLogIndex::Summarize(const TByteReader& read, TMsRange range, TStatsChunk& out) const {
    out = TStatsChunk{};
    if (range.From > range.To || Empty())
        return true;
    const size_t begin = FirstBlockEndingAtOrAfter(double(range.From));
    const size_t end = FirstBlockStartingAtOrAfter(double(range.To) + 1);
    if (begin >= end)
        return true;
    const size_t inside = begin + (Block(begin).FirstMs < range.From ? 1 : 0);
    const size_t insideEnd = end - (Block(end - 1).LastMs > range.To ? 1 : 0);
    const size_t firstChunk = (inside + kStatsBlocks - 1) / kStatsBlocks;
    const size_t endChunk = std::min(insideEnd / kStatsBlocks, stats_.size());
    if (inside >= insideEnd || firstChunk >= endChunk)
        return SummarizeBlocks(read, begin, end, range, out);
    if (!SummarizeBlocks(read, begin, firstChunk * kStatsBlocks, range, out))
        return false;
    for (size_t k = firstChunk; k < endChunk; ++k)
        for (size_t c = 0; c < kChannelCount; ++c)
            out[c].Merge(stats_[k][c]);
    if (!SummarizeBlocks(read, endChunk * kStatsBlocks, end, range, out))
        return false;
    for (size_t c = 0; c < kChannelCount; ++c) {
        if (out[c].Count > 0 && (!FindFirst(read, range, c, out[c].Min, out[c].MinMs) ||
                                 !FindFirst(read, range, c, out[c].Max, out[c].MaxMs)))
            return false;
    }
    return true;
}

// The time of the first record in `range` at or after `ms` (the first time of the block
// holding it) whose channel holds `value`.
bool TLogIndex::FindFirst(const TByteReader& read, TMsRange range, size_t channel, double value,
                          int64_t& ms) const {
    range.From = std::max(range.From, ms);
    return ForEachInBlocks(read, FirstBlockEndingAtOrAfter(double(range.From)), BlockCount(),
                           range, [&](const TSample& s) {
                               if (s.Record.Values[channel] != value)
                                   return true;
                               ms = s.Ms;
                               return false;
                           });
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
    const bool first = !timeline_.Started;
    const int64_t before = timeline_.LastMs;
    bool newSegment = false;
    const int64_t ms = timeline_.Next(record.Tick, newSegment);
    if (!first)
        Step({ms, uint32_t(ms - before), newSegment});
    if (open_.Count > 0 && !provisional_ && end - open_.Offset > kMaxBlockBytes)
        CloseBlock(); // what lies between would make the block dear to read
    if (open_.Count == 0) {
        open_.Offset = offset;
        open_.FirstMs = ms;
        open_.FirstTick = record.Tick;
        open_.FirstStartsSegment = newSegment;
        open_.FirstRecord = staged_.records_;
        open_.Huge = false;
        Reset(open_.Min, open_.Max);
        StartSums(record);
    }
    open_.Bytes = uint32_t(end - open_.Offset);
    open_.LastMs = ms;
    AddValues(record);
    ++staged_.records_;
    if (++open_.Count == kBlockRecords && !provisional_)
        CloseBlock();
}

void TIndexBuilder::StartSums(const TLogRecord& record) {
    sums_ = {};
    for (size_t c = 0; c < kChannelCount; ++c) {
        const double v = record.Values[c];
        sums_.Shift[c] = std::isfinite(v) ? v : 0;
    }
    sums_.Min.fill(std::numeric_limits<double>::infinity());
    sums_.Max.fill(-std::numeric_limits<double>::infinity());
}

void TIndexBuilder::AddValues(const TLogRecord& record) {
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    bool usual = true;
    for (const double v : record.Values)
        usual &= std::abs(v) <= kFloatMax; // false for NaN and the infinities too
    if (!usual)
        return AddUnusualValues(record);
    for (size_t c = 0; c < kChannelCount; ++c) {
        const float f = float(record.Values[c]);
        open_.Min[c] = std::min(open_.Min[c], f);
        open_.Max[c] = std::max(open_.Max[c], f);
    }
    TValues v{};
    std::copy(record.Values.begin(), record.Values.end(), v.begin());
    for (size_t c = 0; c < kLanes; ++c) {
        const double d = v[c] - sums_.Shift[c];
        sums_.Sum[c] += d;
        sums_.Squares[c] += d * d;
        sums_.Min[c] = std::min(sums_.Min[c], v[c]);
        sums_.Max[c] = std::max(sums_.Max[c], v[c]);
    }
}

// A record with a value that is not finite (left out, counted and named) or one beyond
// the float range (kept; its block is read whenever columns need it).
void TIndexBuilder::AddUnusualValues(const TLogRecord& record) {
    bool notFinite = false;
    for (size_t c = 0; c < kChannelCount; ++c) {
        const double v = record.Values[c];
        if (!std::isfinite(v)) {
            ++sums_.NotFinite[c];
            ++staged_.notFinite_;
            notFinite = true;
            continue;
        }
        const float f = float(v);
        open_.Huge = open_.Huge || std::isinf(f);
        if (!std::isinf(f)) {
            open_.Min[c] = std::min(open_.Min[c], f);
            open_.Max[c] = std::max(open_.Max[c], f);
        }
        const double d = v - sums_.Shift[c];
        sums_.Sum[c] += d;
        sums_.Squares[c] += d * d;
        sums_.Min[c] = std::min(sums_.Min[c], v);
        sums_.Max[c] = std::max(sums_.Max[c], v);
    }
    if (notFinite && staged_.notFiniteLines_.size() < kReportedLines)
        staged_.notFiniteLines_.push_back(staged_.lines_);
}

void TIndexBuilder::CloseBlock() {
    for (size_t c = 0; c < kChannelCount; ++c) {
        TChannelSummary s;
        s.NotFinite = sums_.NotFinite[c];
        s.Count = open_.Count - s.NotFinite;
        if (s.Count > 0) {
            const double n = double(s.Count), sum = sums_.Sum[c];
            s.Min = sums_.Min[c];
            s.Max = sums_.Max[c];
            s.MinMs = s.MaxMs = open_.FirstMs; // the record's own is found when asked
            s.Mean = sums_.Shift[c] + sum / n;
            s.M2 = std::max(0.0, sums_.Squares[c] - sum * sum / n);
        }
        chunk_[c].Merge(s);
    }
    staged_.blocks_.push_back(open_);
    open_.Count = 0;
    if (++blocksClosed_ % kStatsBlocks == 0) {
        staged_.stats_.push_back(chunk_);
        chunk_ = TStatsChunk{};
    }
}

// The typical step is the median of the first kTypicalSteps steps forward; until they are
// seen (or many steps were new segments), each step is kept to be judged then.
void TIndexBuilder::Step(const TGap& step) {
    if (fixed_) {
        if (step.NewSegment || int64_t(step.Length) > threshold_)
            AddGap(step);
        return;
    }
    early_.push_back(step);
    if (!step.NewSegment && step.Length > 0)
        earlySteps_.push_back(step.Length);
    if (earlySteps_.size() >= kTypicalSteps || early_.size() >= 4 * kTypicalSteps)
        FixTypical();
}

int64_t TIndexBuilder::EarlyTypical() const {
    if (earlySteps_.empty())
        return 0;
    std::vector<int64_t> steps = earlySteps_;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

void TIndexBuilder::FixTypical() {
    staged_.typicalMs_ = EarlyTypical();
    threshold_ = staged_.GapThresholdMs();
    fixed_ = true;
    replaceGaps_ = true;
    gapsPublished_ = 0;
    staged_.gaps_.clear();
    for (const TGap& step : early_)
        Step(step);
    early_ = {};
    earlySteps_ = {};
}

void TIndexBuilder::AddGap(const TGap& gap) {
    if (gapsPublished_ + staged_.gaps_.size() < kMaxGaps)
        staged_.gaps_.push_back(gap);
}

void TIndexBuilder::PublishGaps(TLogIndex& index) {
    index.typicalFixed_ = fixed_;
    if (!fixed_) {
        index.typicalMs_ = EarlyTypical();
        const int64_t threshold = index.GapThresholdMs();
        index.gaps_.clear();
        for (const TGap& step : early_)
            if (step.NewSegment || int64_t(step.Length) > threshold)
                index.gaps_.push_back(step);
        return;
    }
    index.typicalMs_ = staged_.typicalMs_;
    if (replaceGaps_)
        index.gaps_.clear();
    else if (index.gaps_.size() > gapsPublished_)
        index.gaps_.resize(gapsPublished_); // a provisional last line's
    index.gaps_.insert(index.gaps_.end(), staged_.gaps_.begin(), staged_.gaps_.end());
    gapsPublished_ += staged_.gaps_.size();
    staged_.gaps_.clear();
    replaceGaps_ = false;
}

void TIndexBuilder::Publish(TLogIndex& index) {
    for (const TBlock& block : staged_.blocks_)
        index.blocks_.push_back(block);
    staged_.blocks_.clear();
    for (const TStatsChunk& chunk : staged_.stats_)
        index.stats_.push_back(chunk);
    staged_.stats_.clear();
    while ((index.spans_.size() + 1) * kSpanBlocks <= index.blocks_.size())
        index.AddSpan();
    index.tail_ = open_;
    index.records_ = staged_.records_;
    index.lines_ = staged_.lines_;
    index.malformed_ = staged_.malformed_;
    index.malformedLines_ = staged_.malformedLines_;
    index.notFinite_ = staged_.notFinite_;
    index.notFiniteLines_ = staged_.notFiniteLines_;
    PublishGaps(index);
}

TIndexBuilder TIndexBuilder::WithLastLine(std::string_view rest) const {
    TIndexBuilder copy = *this;
    copy.provisional_ = true;
    copy.Feed(rest.data(), rest.size(), true);
    return copy;
}

} // namespace orvi::viewer
