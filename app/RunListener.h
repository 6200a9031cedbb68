#pragma once
// What a run hands to its outputs besides the data log: each record once it is logged. The
// data log comes first; a listener (the JSON stream, the status line, a publisher) hangs off
// the run and must never hold it up.
//
// Threads: OnRecord and OnEnd are called on the run's thread, one at a time, in the order of
// the records. A listener that does I/O of its own (a pipe, a network) must not do it there:
// it copies what it needs into a bounded queue and returns, and its own thread does the
// rest (TJsonStream in acquire/JsonStream.h is an example). When it falls behind it drops
// records of its own, never the run's.
#include "app/MeasurementRecord.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace orvi::app {

struct TLoggedRecord {
    // The record's line number in the data log it was written to (from 1, starting again in
    // a new file, and in a file emptied by a rotation); without a log, the run's count of
    // records. A consumer sees gaps and drops repeats by it.
    uint64_t Seq = 0;
    const TMeasurementRecord* Record = nullptr;
    // When the reply arrived (not when the line was written).
    std::chrono::system_clock::time_point Measured{};
    // The data log the line went to; empty without one.
    const std::string* LogPath = nullptr;
};

class TRunListener {
public:
    virtual ~TRunListener() = default;
    // One record, after its line is in the data log. Must return at once.
    virtual void OnRecord(const TLoggedRecord& logged) = 0;
    // The run has ended (the log is closed); what is still queued may be written out, for a
    // bounded time. Must return within that time.
    virtual void OnEnd() {}
};

} // namespace orvi::app
