#pragma once
// What orvi_acquire writes besides the data log: the JSON stream's lines, the date-made log
// name, and the status line for a person at a terminal.
#include "app/MeasurementRecord.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orvi::acquire {

// One JSON object and "\n": "seq" (the record's line number in its data log, from 1; without
// a log, the run's count of records), "tick", "time" (UTC, ISO 8601 with milliseconds: when
// the reply arrived) and every field of the record under its key, numbers in the data log's
// text. A value that is not finite is null (JSON has no NaN or infinity).
std::string JsonLine(uint64_t seq, const app::TMeasurementRecord& record,
                     std::chrono::system_clock::time_point measured);

// "2026-12-09T10:15:59.123Z".
std::string UtcTimeStamp(std::chrono::system_clock::time_point when);

// DIR/<year>_<month>_<day>_<hour>_<minute>.txt from the local time, as the console's
// "Имя по дате" makes it; where that file exists, the first of _2, _3, ... before ".txt"
// that does not, so an earlier log of the same minute is kept.
std::string DatedLogPath(const std::string& dir, std::chrono::system_clock::time_point when);

// How much a line told to the user weighs; the journal stores it as the line's priority.
enum class TSeverity { Error, Warning, Notice };

// The status line on a terminal: redrawn in place at most twice a second. Lines of warnings
// go above it. Does nothing at all when `err` is no terminal. When `err` is the journal,
// each line starts with its priority (<3> error, <4> warning, <5> notice), which the journal
// keeps as the line's priority.
class TStatusLine {
public:
    // Lines are told as "<program>: ...".
    explicit TStatusLine(std::FILE* err, std::string program = "orvi_acquire");
    // Shows the counts once half a second has passed since the last drawing.
    // `more`, when not empty, follows the counts (the broker's state and backlog).
    void Update(uint64_t polls, const app::TMeasurementRecord& record, uint64_t logBytes,
                const std::string& more = {});
    // One line of a warning or an error, on a line of its own.
    void Say(const std::string& line, TSeverity severity = TSeverity::Error);
    // Leaves the last status on its line.
    void Finish();

private:
    void Clear();

    std::FILE* err_;
    std::string program_;
    bool terminal_;
    bool journal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_{};
};

} // namespace orvi::acquire
