#pragma once
// The data log: one text line per measurement record, twelve space-separated numbers ended
// by CR LF, "." as the decimal point whatever the operator's settings:
//   Tick Housing1 Sensor1 Housing2 Sensor2 Housing3 Sensor3 Housing4 Sensor4 Roll Pitch ZeroCount
// and the file it goes to.
#include "app/MeasurementRecord.h"

#include <cstdint>
#include <string>

namespace orvi::app {

// The general decimal form: at most 15 significant digits, no trailing zeros, no point for
// whole values, "-" only for negative values, no grouping, "." as the point; exponent form
// ("1E15", "1.5E-6") only from 1e15 up and below 1e-5. Not-a-number and infinities, which no
// producer makes, read "NAN", "INF" and "-INF".
std::string LogNumberText(double value);

// The record's line of the data log, CR LF included.
std::string LogLine(const TMeasurementRecord& record);

// The file name that "Имя по дате" makes: year, month, day, hour and minute without leading
// zeros, joined by "_", then ".txt" (7 March 2024, 09:05 gives "2024_3_7_9_5.txt").
std::string DateFileName(int year, int month, int day, int hour, int minute);

// A data log file: created new (an existing file of the name is emptied), held exclusively
// while open, and every line handed to the operating system as it is written, so that what
// was written survives a crash of the console.
//
// One owner (the main window); GUI thread only.
class TDataLog {
public:
    // Create: the file is made new, an existing one emptied (a run, the flash dump).
    // Append: lines go after what the file holds, a missing file is created (a log opened
    // again after rotation: a file that was not moved away keeps its lines).
    // CreateNew: the file is made new; a name that exists already is refused with
    // kNameTaken as the error's code (a date-made name, where the next suffix is then taken).
    enum class TOpen { Create, Append, CreateNew };
    static constexpr int32_t kNameTaken = 80; // the system's "the file exists"

    // Opens the file. Throws orvi::EInOutError with the reason when it cannot be created or
    // another program holds it; the file is then left as it was.
    explicit TDataLog(const std::string& fileName, TOpen mode = TOpen::Create);
    // Closes the file if still open; errors are dropped here (call Close to see them).
    ~TDataLog();
    TDataLog(const TDataLog&) = delete;
    TDataLog& operator=(const TDataLog&) = delete;

    // Writes all bytes (one line) at the end of the file as it is then (a file emptied by
    // someone else goes on at its start), or none of them: when they cannot all be written (a
    // full disk, a size limit), the part that was written is cut off again, so that the file
    // never ends in part of a line, and orvi::EInOutError is thrown; the file stays open.
    // Should the cut itself fail, the file may end in part of a line and the log takes no
    // further lines (each Write then throws): a line written after the torn rest would join
    // it and look like one record.
    void Write(const std::string& bytes);
    // Releases the file. Throws orvi::EInOutError when the system reports a failure; the file
    // is released in either case. Safe to call twice.
    void Close();

    bool IsOpen() const { return handle_ != kNoHandle; }
    const std::string& FileName() const { return fileName_; }
    // Bytes in the file after the last line written (what it held when opened, before any).
    uint64_t Size() const { return size_; }
    // The number of the last line written, counted from the file's start: an opened file's
    // lines count, and a file found emptied at a write (logrotate's copytruncate) starts
    // again at 1.
    uint64_t Lines() const { return lines_; }

private:
    static constexpr intptr_t kNoHandle = -1;
    std::string fileName_;
    intptr_t handle_ = kNoHandle;
    uint64_t size_ = 0;  // bytes in the file after the last write
    uint64_t lines_ = 0; // lines in the file after the last write
    bool torn_ = false; // a failed cut left part of a line at the end of the file
};

} // namespace orvi::app
