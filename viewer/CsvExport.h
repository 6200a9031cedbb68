#pragma once
// Export of a log's records as CSV (RFC 4180: "," between fields, CR LF after each row):
// a header row with the names and units, the time in seconds from the first record, the
// local time where the file name tells the date, then every field exactly as the log holds
// its text.
#include "viewer/DateName.h"
#include "viewer/LogIndex.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace orvi::viewer {

class TIndexedLog;

// The milliseconds whose seconds (ms / 1000) lie within [fromS, toS]; empty (From > To)
// when none does.
TMsRange RangeOfSeconds(double fromS, double toS);

// "12.345": a time from the first record in seconds, as the exports write it.
std::string SecondsText(int64_t ms);

// Writes the header and the records in `range`; returns the number of records written, or
// -1 when the log's bytes could not be read. The caller holds the index still meanwhile.
int64_t WriteCsv(const TLogIndex& index, const TByteReader& read, TMsRange range,
                 const std::optional<TDateName>& date, std::ostream& out);

enum class TExportStatus {
    Done,
    Cancelled,  // the progress callback said stop
    Unreadable, // the log's bytes could not be read (it was cut short meanwhile)
    WriteFailed,
    SameFile, // the output is the log itself: refused, nothing written
};
struct TExportResult {
    TExportStatus Status = TExportStatus::Done;
    uint64_t Records = 0; // written
    std::string Error;    // in words, for every status but Done and Cancelled
};
// Called after every piece with the records written and the records expected in all (an
// upper bound); false cancels the export.
using TExportProgress = std::function<bool(uint64_t written, uint64_t total)>;

// Records per piece of a long export.
inline constexpr size_t kExportBlocks = 256;

// The records of `range` that are indexed when the export starts, written as WriteCsv
// does, on the calling thread (the window runs it on a thread of its own). The log's lock
// is taken for one piece of kExportBlocks blocks at a time, to format it; the piece is
// written and `progress` called without the lock, so the index stays usable (and may grow)
// meanwhile. The log must outlive the call: cancel and wait for it before closing the log.
TExportResult ExportCsv(const TIndexedLog& log, TMsRange range,
                        const std::optional<TDateName>& date, std::ostream& out,
                        const TExportProgress& progress);

// The same into the file `path`, through a temporary file renamed over it when complete
// (WriteReplacing): a failed or cancelled export leaves no file, or the old one, behind.
// An output that is the log itself is refused (TExportStatus::SameFile).
TExportResult ExportCsvFile(const TIndexedLog& log, TMsRange range,
                            const std::optional<TDateName>& date, const std::string& path,
                            const TExportProgress& progress);

} // namespace orvi::viewer
