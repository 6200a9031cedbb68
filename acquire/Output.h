#pragma once
// What orvi_acquire writes besides the data log: the JSON stream's lines, the date-made log
// name, and the status line for a person at a terminal.
#include "acquire/LineWriter.h"
#include "app/DataLog.h"
#include "app/MeasurementRecord.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
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

// The data log DIR/<year>_<month>_<day>_<hour>_<minute>.txt from the local time, as the
// console's "Имя по дате" makes it, created new: where that name is taken (by an earlier
// run, or by another instance at the same moment), the first of _2, _3, ... before ".txt"
// that can be created, so an earlier log is never emptied. `path` is the name taken. Throws
// orvi::EInOutError when the folder takes no file.
std::unique_ptr<app::TDataLog> CreateDatedLog(const std::string& dir,
                                              std::chrono::system_clock::time_point when,
                                              std::string& path);

// Warnings and errors on standard error, one line each, and on a terminal a status line
// redrawn in place at most twice a second, with the warnings above it. Written by a thread
// of its own (a stopped terminal or a stuck journal never holds up the run); Finish writes
// out what is left for at most a second.
class TStatusLine {
public:
    // `showStatus`: draw the status line (standard error is a terminal that standard output
    // does not share with the JSON stream).
    TStatusLine(std::FILE* err, bool showStatus);
    // Shows the counts once half a second has passed since the last drawing; the log's size
    // only when there is a log.
    void Update(uint64_t polls, const app::TMeasurementRecord& record,
                std::optional<uint64_t> logBytes);
    // One line of a warning or an error, on a line of its own.
    void Say(const std::string& line);
    // Leaves the last status on its line and writes out what is queued.
    void Finish();

private:
    void Clear(std::string& text);

    TLineWriter writer_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_{};
};

} // namespace orvi::acquire
