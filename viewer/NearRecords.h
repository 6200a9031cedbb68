#pragma once
// The records next to a time: the last one before it and the first one after it. Each is
// found by a binary search over the index's blocks and a read of the one block that holds
// it, so the cost is the same whatever the view and the log's length. The chart draws a
// deep zoom from the record before the view to the one after it, and its cursors show the
// record nearest the pointer. The caller holds the log's lock (TIndexedLog::Query).
#include "viewer/LogIndex.h"

#include <optional>

namespace orvi::viewer {

// The last record with time < ms; none when there is none (or its bytes cannot be read).
std::optional<TSample> LastRecordBefore(const TLogIndex& index, const TByteReader& read,
                                        int64_t ms);
// The first record with time > ms.
std::optional<TSample> FirstRecordAfter(const TLogIndex& index, const TByteReader& read,
                                        int64_t ms);

} // namespace orvi::viewer
