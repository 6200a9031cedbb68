// Indexes arbitrary bytes as a data log twice, in one piece and in chunks whose sizes come
// from the input (so lines tear at every place), and checks that both indexes agree, that
// reading the records back finds each one with its time in order, that each value read
// equals the C++ library's reading of the field's text, that no read passes a block's
// bound and that the statistics count every record.
#include "viewer/LogIndex.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace orvi::viewer;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

TLogIndex Index(const std::string& bytes, size_t step) {
    TIndexBuilder builder;
    size_t available = 0;
    while (available < bytes.size() && !builder.Ended()) {
        available = std::min(bytes.size(), available + step);
        const size_t from = builder.Consumed();
        builder.Feed(bytes.data() + from, available - from, available == bytes.size());
    }
    TLogIndex index;
    builder.Publish(index);
    return index;
}

void CheckValues(const TSample& sample) {
    std::array<std::string_view, orvi::app::kRecordFieldCount> fields;
    Check(SplitFields(sample.Line, fields));
    for (size_t i = 1; i < fields.size() - 1; ++i) {
        std::string_view text = fields[i];
        if (text[0] == '+')
            text.remove_prefix(1);
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        const double got = sample.Record.Values[i - 1];
        Check(got == expected || (got != got && expected != expected));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const size_t step = size_t(data[0] % 64) + 1;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const TLogIndex whole = Index(bytes, bytes.size() + 1);
    const TLogIndex chunked = Index(bytes, step);
    Check(whole.Records() == chunked.Records() && whole.Malformed() == chunked.Malformed());
    Check(whole.BlockCount() == chunked.BlockCount() && whole.LastMs() == chunked.LastMs());
    for (size_t i = 0; i < whole.BlockCount(); ++i) {
        const TBlock &a = whole.Block(i), &b = chunked.Block(i);
        Check(a.Offset == b.Offset && a.End() == b.End() && a.Count == b.Count);
        Check(std::memcmp(a.Min.data(), b.Min.data(), sizeof a.Min) == 0);
    }
    size_t longest = 0;
    const TByteReader read = [&](uint64_t offset, size_t length, char* out) {
        longest = std::max(longest, length);
        if (offset > bytes.size() || length > bytes.size() - offset)
            return false;
        std::memcpy(out, bytes.data() + offset, length);
        return true;
    };
    uint64_t seen = 0;
    int64_t last = 0;
    Check(whole.ForEach(read, 0, INT64_MAX, [&](const TSample& s) {
        Check(s.Ms >= last);
        last = s.Ms;
        CheckValues(s);
        ++seen;
        return true;
    }));
    Check(seen == whole.Records());
    // No read of a block passes its bound, and the statistics count every record once.
    Check(longest <= kMaxBlockBytes + kMaxLineBytes);
    TStatsChunk stats;
    Check(whole.Summarize(read, {0, INT64_MAX}, stats));
    for (const TChannelSummary& channel : stats)
        Check(channel.Count + channel.NotFinite == whole.Records());
    const std::vector<TColumn> a = whole.Columns(read, 0, double(whole.LastMs() + 1) / 37, 37);
    const std::vector<TColumn> b = chunked.Columns(read, 0, double(whole.LastMs() + 1) / 37, 37);
    for (size_t c = 0; c < a.size(); ++c)
        Check(a[c].HasData == b[c].HasData && a[c].GapBefore == b[c].GapBefore &&
              std::memcmp(&a[c].Min, &b[c].Min, sizeof a[c].Min) == 0);
    return 0;
}
