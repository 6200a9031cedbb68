#pragma once
// A data log opened for reading (mapped into memory on POSIX) and indexed on a thread of
// its own while the chart already draws what is indexed; followed, when asked, as another
// program appends to it.
//
// Threads: one owner thread (the window's, or the command line's) calls every public
// method; Query (and what is built on it: ExportCsv, ComputeRangeStats) may also be called
// from a thread of the owner's making, such as an export's, while the owner keeps the log
// alive; the indexing thread, started by Start, runs Run. mutex_ guards index_ and map_:
// the indexing thread takes it only to publish (a chunk's blocks, or an unterminated last
// line after settle_) and to fetch the newest file, and parses unlocked; the owner holds
// it while it queries (Query). builder_ belongs to the indexing thread alone (to the owner
// when no thread was started).
#include "platform/ReadOnlyFile.h"
#include "viewer/LogIndex.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvi::viewer {

class TIndexedLog {
public:
    // Opens the file; null with the reason in `error` when it cannot be read.
    static std::unique_ptr<TIndexedLog> Open(const std::string& path, std::string& error);
    // Stops the indexing thread and waits for it.
    ~TIndexedLog();
    TIndexedLog(const TIndexedLog&) = delete;
    TIndexedLog& operator=(const TIndexedLog&) = delete;

    // Indexes the whole file on this thread; an unterminated last line counts as a line.
    void IndexHere();
    // Starts indexing on a thread of its own. A last line without its line end waits for
    // it, and shows once the file has not grown for `settle` (taken back and read again if
    // the file grows after all). Call once, instead of IndexHere.
    void Start(std::chrono::milliseconds settle = kSettle);
    static constexpr std::chrono::milliseconds kSettle{500};
    // Stops indexing for good; what is indexed stays. Safe to call twice.
    void Cancel();

    enum class TChange {
        None,
        Grew,        // reopened; the new bytes are being indexed
        StartedOver, // emptied or replaced: the caller opens the file again
        Unreadable,  // gone or no access; what is indexed stays
    };
    // Looks at the file as it is now (the follow step, cheap enough for every 50 ms).
    TChange Poll();

    // Runs f(const TLogIndex&, const TByteReader&) under the lock and returns its result.
    template <class F> auto Query(F&& f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(index_, reader_);
    }

    const std::string& Path() const { return path_; }
    uint64_t FileBytes() const { return mappedBytes_; }
    uint64_t IndexedBytes() const { return indexedBytes_; }
    // True when indexing waits for the file to grow, or a 0x1A ended it, or it was cancelled.
    bool Done() const;
    bool Cancelled() const { return cancelled_; }
    // Grows by one with every publication of new records.
    uint64_t Generation() const { return generation_; }

private:
    TIndexedLog(std::string path, std::shared_ptr<const platform::TReadOnlyFile> map);
    void Run();
    void WaitForLineEnd(std::unique_lock<std::mutex>& lock,
                        const std::shared_ptr<const platform::TReadOnlyFile>& map);
    // Indexes what `map` holds beyond what is indexed; publishes chunk by chunk.
    void IndexAvailable(const platform::TReadOnlyFile& map, bool atEnd);
    void Publish();
    // Shows the unterminated last line of `file` (see TIndexBuilder::WithLastLine).
    void PublishLastLine(const platform::TReadOnlyFile& file);

    const std::string path_;
    std::string head_; // the file's first bytes, to tell a replaced file by

    mutable std::mutex mutex_;
    std::condition_variable wake_;                       // with mutex_: new bytes or stop
    std::shared_ptr<const platform::TReadOnlyFile> map_; // guarded by mutex_
    TLogIndex index_;                                    // guarded by mutex_
    TByteReader reader_;                                 // reads map_; called only with mutex_ held
    bool stop_ = false;                                  // guarded by mutex_

    TIndexBuilder builder_; // indexing thread only
    std::atomic<uint64_t> mappedBytes_{0};
    std::atomic<uint64_t> indexedBytes_{0};
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> ended_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> idle_{false};              // the indexing thread waits for new bytes
    std::chrono::milliseconds settle_ = kSettle; // set by Start before the thread starts
    std::thread thread_;
};

} // namespace orvi::viewer
