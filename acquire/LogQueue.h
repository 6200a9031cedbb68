#pragma once
// The data log read back as a queue, for the store-and-forward publisher: two small side
// files beside each log, and a reader of whole lines from a position on.
//
//   <log>.clock  written when the log is made: the system tick and the UTC time (ms) of one
//                moment, so that a line's tick, read back after any restart, gives the time
//                of its measurement: UTC + (tick - tick then), the tick unwrapped line by line
//   <log>.acked  the position up to which the broker has acknowledged the log: the byte
//                offset after the last acknowledged line, its line number (seq), its tick and
//                UTC time (to go on unwrapping from there), and the log's start time from its
//                clock file (a log made new under the same name starts over)
// Both are written whole or not at all (WriteFileAtomically). A log of a folder that has a
// clock file is queued for the broker until its position reaches its end.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvi::acquire {

struct TLogClock {
    uint32_t Tick = 0;
    int64_t UtcMs = 0;
};

struct TLogPosition {
    uint64_t Offset = 0; // bytes of the acknowledged lines
    uint64_t Seq = 0;    // their count: the line number of the last one
    uint32_t Tick = 0;   // the last acknowledged line's tick and time (when Seq > 0)
    int64_t UtcMs = 0;
    int64_t LogStartMs = 0; // the clock file's UtcMs when this was written
};

std::string ClockPath(const std::string& log);
std::string PositionPath(const std::string& log);

std::optional<TLogClock> ReadClock(const std::string& log);
// False with `reason` in words when the file cannot be written.
bool WriteClock(const std::string& log, const TLogClock& clock, std::string& reason);
// The position written for this log, or the start when there is none or it belongs to an
// earlier log of the same name (another start time).
TLogPosition ReadPosition(const std::string& log, const TLogClock& clock);
bool WritePosition(const std::string& log, const TLogPosition& position, std::string& reason);

// The logs of `dir` that have a clock file and are not acknowledged to their end, oldest
// (by the clock's time) first, without `current`.
std::vector<std::string> LogsToForward(const std::string& dir, const std::string& current);

// Writes `bytes` to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`, so that a crash leaves the old content or the new, never a part. One backend per
// platform: SideFile_posix.cpp, SideFile_win32.cpp.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& reason);

// One record read back from a log: its JSON message (JsonLine) and where it ends.
struct TReadRecord {
    std::string Json;
    TLogPosition After; // the position once this record is acknowledged
};

// Reads whole lines of a log from a position on; a line still being written (no line end
// yet) is left for the next call. A line that is not a record (not twelve numbers) is
// skipped and counted. Memory stays at one read buffer whatever the log's size.
//
// One owner thread.
class TLogTail {
public:
    TLogTail(std::string path, TLogClock clock, TLogPosition from);
    ~TLogTail();
    TLogTail(const TLogTail&) = delete;
    TLogTail& operator=(const TLogTail&) = delete;

    const std::string& Path() const { return path_; }
    // The next whole record, or none for now (the end of what is written so far).
    std::optional<TReadRecord> Next();
    // Whole lines from the read position to the end of what is written (for the backlog).
    uint64_t LinesLeft();
    uint64_t Skipped() const { return skipped_; }

private:
    bool Fill();

    std::string path_;
    TLogClock clock_;
    TLogPosition at_; // after the last line handed out
    std::FILE* file_ = nullptr;
    std::string buffer_; // bytes read; the first used_ of them are before at_.Offset
    size_t used_ = 0;
    uint64_t skipped_ = 0;
};

} // namespace orvi::acquire
