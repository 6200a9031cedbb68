#pragma once
// The collector's store: each stand's records, as they arrive from the broker, into data
// logs of the console's format under a folder, one subfolder per stand and one file per log
// of the stand (the message's "log" user property names it), so that a stand's collected log
// is byte for byte its own. Whole lines only (TDataLog); a record whose sequence number the
// file has already seen is a repeat and dropped.
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
    // Stores one message of `stand` (the last level of its topic). Rejected, with `why` in
    // words: a stand or log name that is no plain file name, or a payload that is no record.
    // Written with `why` set: a gap before it (records that never came). Throws
    // orvi::EInOutError when the log cannot be written.
    TResult Store(const std::string& stand, const std::string& logName,
                  const std::string& payload, std::string& why);
    // Closes the open logs (SIGHUP, the end); they are opened again at the next record.
    void CloseAll();

    uint64_t Written() const { return written_; }
    uint64_t Repeats() const { return repeats_; }

private:
    struct TStand {
        std::string LogPath; // the open log's path
        std::unique_ptr<app::TDataLog> Log;
    };
    app::TDataLog& Open(TStand& stand, const std::string& path);

    std::string folder_;
    std::map<std::string, TStand> stands_;
    std::map<std::string, uint64_t> lastSeq_; // per collected file: the highest seq in it
    uint64_t written_ = 0;
    uint64_t repeats_ = 0;
};

// Whether `name` can be a file or folder name as it is: letters, digits, ".", "_", "-",
// not "." or "..", at most 200 characters.
bool IsPlainName(const std::string& name);

} // namespace orvi::collect
