#include "viewer/NearRecords.h"

namespace orvi::viewer {

namespace {

// The number of leading blocks for which `before` holds (blocks are in time order).
template <class F> size_t CountBlocks(const TLogIndex& index, F before) {
    size_t low = 0, high = index.BlockCount();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (before(index.Block(middle)))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

} // namespace

std::optional<TSample> LastRecordBefore(const TLogIndex& index, const TByteReader& read,
                                        int64_t ms) {
    const size_t blocks = CountBlocks(index, [&](const TBlock& b) { return b.FirstMs < ms; });
    if (blocks == 0)
        return std::nullopt;
    std::optional<TSample> found;
    index.ForEach(read, index.Block(blocks - 1).FirstMs, ms - 1, [&](const TSample& s) {
        found = s;
        return true;
    });
    if (found)
        found->Line = {};
    return found;
}

std::optional<TSample> FirstRecordAfter(const TLogIndex& index, const TByteReader& read,
                                        int64_t ms) {
    const size_t blocks = CountBlocks(index, [&](const TBlock& b) { return b.LastMs <= ms; });
    if (blocks == index.BlockCount())
        return std::nullopt;
    std::optional<TSample> found;
    index.ForEach(read, ms + 1, index.Block(blocks).LastMs, [&](const TSample& s) {
        found = s;
        return false;
    });
    if (found)
        found->Line = {};
    return found;
}

} // namespace orvi::viewer
