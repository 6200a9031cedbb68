#pragma once
// The collector's store: each stand's records, as they arrive from the broker, into data
// logs of the console's format under a folder, one subfolder per stand and one file per log
// of the stand (the message's "log" user property names it), so that a stand's collected log
// is byte for byte its own. Whole lines only (TDataLog); a record whose sequence number the
// file has already seen is a repeat and dropped.
//
// A log begun again under the same name (rotated, or emptied under the writer) counts from 1
// again; the message's "log-start" user property (the log's first record's UTC time in ms)
// tells it from a repeat. A collected file keeps the start of the log it holds in
// <name>.start beside it (written atomically). A message with another start moves the file
// and its .start aside to the first free <name>.1, <name>.2, ... (so the lower the number the
// older the log) and begins a new file. A file without a .start (collected before starts
// were sent) takes the next start it is given; a message without one goes by seq alone.
//
// Threads: one caller at a time (the client's network thread); not locked.
#include "app/DataLog.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace orvi::collect {

class TCollector {
public:
    explicit TCollector(std::string folder);

    enum class TResult { Written, Repeat, Rejected };
    // Stores one message of `stand` (the last level of its topic); `logStart` is its
    // "log-start" property, empty when it has none. Rejected, with `why` in words: a stand or
    // log name that is no plain file name, a log start that is no number, or a payload that is
    // no record. Written with `why` set: a gap before it (records that never came), or the
    // earlier log of the name moved aside. Throws (a std::exception, in words) when the log
    // or its .start cannot be written or moved.
    TResult Store(const std::string& stand, const std::string& logName,
                  const std::string& logStart, const std::string& payload, std::string& why);
    // Closes the open logs (SIGHUP, the end); they are opened again at the next record.
    void CloseAll();

    uint64_t Written() const { return written_; }
    uint64_t Repeats() const { return repeats_; }

private:
    struct TStand {
        std::string LogPath; // the open log's path
        std::unique_ptr<app::TDataLog> Log;
    };
    struct TFile {
        uint64_t LastSeq = 0; // the highest seq in it
        std::string LogStart; // of the log it holds; empty: not known
    };
    TFile& Known(const std::string& path);
    std::string MoveAside(TStand& stand, const std::string& path);
    app::TDataLog& Open(TStand& stand, const std::string& path);

    std::string folder_;
    std::map<std::string, TStand> stands_;
    std::map<std::string, TFile> files_; // per collected file, as far as read or written
    uint64_t written_ = 0;
    uint64_t repeats_ = 0;
};

// Whether `name` can be a file or folder name as it is: letters, digits, ".", "_", "-",
// not "." or "..", at most 200 characters.
bool IsPlainName(const std::string& name);

} // namespace orvi::collect
