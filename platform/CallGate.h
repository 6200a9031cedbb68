#pragma once
// The gate a communications device's blocking calls (Read, Write, WaitEvent, each on its own
// thread) pass through, so that Close can refuse new calls and wait for those in progress to
// leave before the device's handles go: none of them may use a closed, or reused, handle.
//
// Threads: every member may be called from any thread; lock_ guards users_ and the changes
// of open_, which calls in progress may read without it to notice a close.
#include "platform/SystemError.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orvi::platform {

class CallGate {
public:
    // A call in progress. Entered() is false, with the last error InvalidHandle, when the
    // gate is shut.
    class Call {
    public:
        explicit Call(CallGate& gate) : gate_(gate), entered_(gate.Enter()) {}
        // The call's last error outlives the leave: the lock taken there may overwrite it
        // (on Windows, when the lock is contended).
        ~Call() {
            if (!entered_)
                return;
            const uint32_t error = LastError();
            gate_.Leave();
            SetLastError(error);
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        bool Entered() const { return entered_; }

    private:
        CallGate& gate_;
        bool entered_;
    };

    // Lets calls in; the device has just been opened.
    void Open() {
        std::lock_guard<std::mutex> lock(lock_);
        open_ = true;
    }

    // False from the start of Shut until the next Open: a call in progress that sees it
    // false returns.
    bool IsOpen() const { return open_.load(); }

    // How long Shut waits for the calls in progress to leave before it gives up: a driver
    // that never completes a cancel would otherwise hold the close for good.
    static constexpr std::chrono::milliseconds kShutLimit{3000};

    // Refuses new calls and waits for every call in progress to leave. `wake` makes the
    // calls in progress return; it runs at once and, while calls remain, again every
    // `repeat`, because a call that entered just before the gate shut may start its wait
    // after the first wake. True once no call remains; false when calls remain after
    // `limit`: they still use what the gate guards, which must then be left to them.
    template <class Wake>
    bool Shut(Wake wake, std::chrono::milliseconds repeat,
              std::chrono::milliseconds limit = kShutLimit) {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        std::unique_lock<std::mutex> lock(lock_);
        open_ = false;
        while (users_ > 0) {
            // Woken before the limit is looked at: a limit already spent (by the waits of
            // a close before this one) still tells the calls in progress to return.
            wake();
            const auto now = std::chrono::steady_clock::now();
            if (now >= giveUp)
                return false;
            idle_.wait_until(lock, std::min(now + repeat, giveUp));
        }
        return true;
    }

private:
    bool Enter() {
        std::lock_guard<std::mutex> lock(lock_);
        if (!open_) {
            SetLastError(syserr::InvalidHandle);
            return false;
        }
        ++users_;
        return true;
    }

    void Leave() {
        std::lock_guard<std::mutex> lock(lock_);
        if (--users_ == 0)
            idle_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable idle_;
    int users_ = 0;
    std::atomic<bool> open_{false};
};

} // namespace orvi::platform
