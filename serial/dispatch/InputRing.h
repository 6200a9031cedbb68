#pragma once
// The input ring: 8192 bytes that the dispatcher worker fills from the device, that the
// data triggers scan, and that callers and handlers take. Its one owner is the
// dispatcher; the dispatcher and the triggers change it only through these operations.
//
// Byte counts since the allocation: filled >= scanned >= taken. Takers see only
// scanned bytes, so no byte is taken before the triggers have seen it, and a scan never
// refers to a byte already taken or purged (a full ring of unscanned bytes included).
// The ring's head and tail are these counts modulo its size.
//
// The dispatch protocol: during a data dispatch (BeginDispatch with peek) only the
// peeker (the thread running the current handler; for a window handler, the window's
// thread while it serves the message sent to it) takes, and its takes are peeks below
// `peekEnd`; every handler starts from the same byte; EndDispatch consumes the most that
// any handler took. A hold keeps every taker off between the dispatches of one match.
//
// Purge: Purge drops every byte in the ring at that moment, at once and for good (in a
// dispatch too: no handler gets a purged byte afterwards, and a dispatch that then ends
// by an abort or an exception does not bring them back), and never one that a fill
// commits after it. A fill takes its free space, reads the device without the
// dispatcher's InLock and commits the read; it holds FillOrder from taking the space to
// the commit, and a purge holds it around the device's flush and the drop, so that a
// read lies wholly before a purge (its bytes go with it) or wholly after it (they stay).
// While it holds FillOrder the fill waits for the device read and, when the dispatch
// log is on, for the trace-log lock while another thread writes the log; a purge that
// cannot get FillOrder within its limit purges without it (see PurgeInput).
//
// Threads: every operation needs the dispatcher's InLock held by the caller, except
// VisibleHint (a published count, readable without a lock) and FillOrder (taken before
// InLock). The fill's free space is the dispatcher worker's alone between FreeSpace and
// CommitFill: takers only ever add to it.
#include "platform/MessageTarget.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace orvi {

constexpr uint32_t kInRingSize = 0x2000;

// The fill's order: a plain lock that a waiter may give up on after a time. Made of a
// mutex and a condition variable, which every thread checker follows (not every one
// follows a timed lock). Lockable, so std::lock_guard and std::unique_lock take it.
class TOrderLock {
public:
    void lock() {
        std::unique_lock l(lock_);
        free_.wait(l, [this] { return !held_; });
        held_ = true;
    }
    bool try_lock() {
        std::lock_guard l(lock_);
        if (held_)
            return false;
        held_ = true;
        return true;
    }
    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& until) {
        std::unique_lock l(lock_);
        if (!free_.wait_until(l, until, [this] { return !held_; }))
            return false;
        held_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard l(lock_);
            held_ = false;
        }
        free_.notify_one();
    }

private:
    std::mutex lock_;
    std::condition_variable free_;
    bool held_ = false; // lock_
};

class TInputRing {
public:
    // `roomForBacklog` is called (InLock held) when takers made room in a ring that the
    // fill found full: the dispatcher worker should fill again now.
    explicit TInputRing(std::function<void()> roomForBacklog);

    void Allocate(); // zero-filled, every count and the dispatch state reset
    void Release();
    bool Allocated() const { return data_ != nullptr; }

    // ---- the fill (dispatcher worker) ----
    TOrderLock& FillOrder() { return fillOrder_; }
    // Free room from the head on: `first` bytes at `at`, then `second` from index 0.
    struct Space {
        uint8_t* at = nullptr;
        uint32_t first = 0;
        uint32_t second = 0;
    };
    Space FreeSpace() const;
    uint8_t* Data() const { return data_.get(); }
    // Puts n bytes read into the free space into the ring. A ring left full is marked as
    // backlogged: the worker stops watching input until room is made.
    void CommitFill(uint32_t n);
    void MarkBacklog() { backlog_ = Full(); }
    // True when the fill has no room now or waits for takers to make room.
    bool NeedsRoom() const { return Full() || backlog_; }

    // ---- the scan (dispatcher worker) ----
    // Feeds unscanned bytes in order to `feed` until it returns true for one; true then.
    template <class Feed> bool Scan(Feed feed);
    // Every filled byte becomes takeable unscanned: no trigger scans any more.
    void ScanAll();

    // ---- takers ----
    // Copies `len` bytes in order and consumes them (peeks them in a data dispatch);
    // false, changing nothing, when fewer than `len` are there for the calling thread.
    bool Take(uint8_t* data, uint32_t len);
    // Bytes the calling thread may take now.
    uint32_t Count() const;
    // The n-th byte (1 = the next) that takes by the calling thread would give, not
    // consumed: a peek sees exactly what a take would take, in a dispatch and after a
    // purge too.
    bool PeekAt(uint32_t n, uint8_t& byte) const;

    // ---- purge ----
    // See the head comment. Resets no trigger state (the caller's).
    void Purge();
    uint64_t Purges() const { return purges_; }

    // ---- the dispatch (dispatcher worker) ----
    void BeginDispatch(bool peek, uint64_t peekEnd);
    // The calling thread runs the next handler (`window`: the window's thread does).
    void SetPeeker(platform::WindowHandle window);
    void StartHandler() { peekCount_ = 0; }
    void EndHandler() { maxPeekCount_ = std::max(maxPeekCount_, peekCount_); }
    // Leaves the dispatch, consuming what the handlers took when it `completed`; after an
    // abort the bytes stay. Returns the most that one handler took.
    uint32_t EndDispatch(bool completed);
    void SetHold(bool hold) { hold_ = hold; }

    // ---- counts ----
    uint32_t Waiting() const { return uint32_t(filled_ - taken_); }
    uint32_t Visible() const { return uint32_t(scanned_ - taken_); }
    bool Full() const { return Waiting() == kInRingSize; }
    uint64_t Scanned() const { return scanned_; }
    uint32_t Head() const { return uint32_t(filled_ % kInRingSize); }
    uint32_t Tail() const { return uint32_t(taken_ % kInRingSize); }
    // Visible() as last published, readable without InLock: a caller that polls an empty
    // ring learns so without contending for InLock with the worker. A value read while
    // it is published is as good as one read a moment earlier.
    uint32_t VisibleHint() const { return visibleHint_.load(std::memory_order_acquire); }

private:
    void Consume(uint32_t n);
    void Publish() { visibleHint_.store(Visible(), std::memory_order_release); }
    bool IsPeeker() const;
    // What the calling thread may take: `skip` bytes it already peeked, `avail` in all.
    bool Window(uint32_t& skip, uint32_t& avail) const;

    std::function<void()> roomForBacklog_;
    TOrderLock fillOrder_;
    std::unique_ptr<uint8_t[]> data_;
    uint64_t filled_ = 0, scanned_ = 0, taken_ = 0;
    std::atomic<uint32_t> visibleHint_{0};
    bool backlog_ = false; // the fill found the ring full
    uint64_t purges_ = 0;

    bool peekMode_ = false;
    uint32_t peekCount_ = 0, maxPeekCount_ = 0;
    uint64_t peekEnd_ = 0;
    bool dispatchPurged_ = false; // a purge came during the dispatch: it consumes nothing more
    bool hold_ = false;
    std::thread::id peekThread_;
    platform::WindowHandle peekWindow_ = 0;
};

template <class Feed> bool TInputRing::Scan(Feed feed) {
    bool hit = false;
    while (!hit && scanned_ < filled_) {
        const uint8_t byte = data_[scanned_ % kInRingSize];
        ++scanned_;
        hit = feed(byte);
    }
    Publish();
    return hit;
}

} // namespace orvi
