#pragma once
// Text written to a stream by a thread of its own, through a bounded queue, so that a reader
// that does not read (a full pipe, a stopped terminal) never holds up the thread that puts
// the text: the queue fills and further text is refused, never waited for. While nothing is
// queued or being written and the stream has room (Terminal.h's WritableNow), Put writes
// the text itself: no hand-over to the thread for a reader that keeps up.
//
// Threads: Put, Close and Failure are called by the owner's thread; the writer thread only
// takes from the queue and writes. shared_ (its queue, flags and failure) is guarded by its
// mutex, never held during a write; `writing` marks a write in progress on either thread, so
// that texts keep their order. A writer still blocked when Close's limit is over is let go:
// it keeps the shared state alive by itself and ends with the process.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace orvi::acquire {

class TLineWriter {
public:
    TLineWriter(std::FILE* out, size_t capacity);
    // Close with a limit of one second.
    ~TLineWriter();
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // Queues `text`; false when the queue is full or the stream failed (the text is dropped).
    bool Put(std::string text);
    // Waits at most `limit` for what is queued to be written, then ends the writer (or lets
    // it go when it is blocked); the number of texts left unwritten. Safe to call twice.
    size_t Close(std::chrono::milliseconds limit);
    // The system's words once a write failed (the reader went away); empty until then.
    std::string Failure() const;

private:
    struct TShared;
    // The writer thread's loop.
    static void Write(const std::shared_ptr<TShared>& shared);

    std::shared_ptr<TShared> shared_;
    bool closed_ = false;
};

} // namespace orvi::acquire
