#pragma once
// Export of a log's records as CSV (RFC 4180: "," between fields, CR LF after each row):
// a header row with the names and units, the time in seconds from the first record, the
// local time where the file name tells the date, then every field exactly as the log holds
// its text.
#include "viewer/DateName.h"
#include "viewer/LogIndex.h"

#include <cstdint>
#include <optional>
#include <ostream>

namespace orvi::viewer {

struct TMsRange {
    int64_t From = 0; // inclusive, milliseconds from the first record
    int64_t To = 0;   // inclusive
};

// The milliseconds whose seconds (ms / 1000) lie within [fromS, toS]; empty (From > To)
// when none does.
TMsRange RangeOfSeconds(double fromS, double toS);

// Writes the header and the records in `range`; returns the number of records written, or
// -1 when the log's bytes could not be read.
int64_t WriteCsv(const TLogIndex& index, const TByteReader& read, TMsRange range,
                 const std::optional<TDateName>& date, std::ostream& out);

} // namespace orvi::viewer
