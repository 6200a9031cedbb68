#pragma once
// Synchronisation events with Windows semantics: an auto-reset event releases one
// waiter and resets itself, a manual-reset event stays set until Reset. A set of
// events can be waited on together, and the comm device can wait on an event beside
// its own I/O (so a purge or a stop can interrupt a write or an event wait).
//
// Thread safety: every operation may be called from any thread at any time while the
// Event object exists.
#include <cstdint>
#include <initializer_list>

namespace orvi::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool Valid() const;
    void Set();
    void Reset();
    // Waits until the event is set (consuming it if auto-reset). False on time-out.
    bool Wait(uint32_t timeoutMs);

    // The OS object behind the event: an eventfd on POSIX, a HANDLE on Windows.
    intptr_t NativeHandle() const { return handle_; }
    bool ManualReset() const { return manual_; }

    // For waiters that multiplex the event with other OS objects: after the native
    // handle reported readiness, claims the signal (false if another waiter took it).
    bool TryConsume();

private:
    intptr_t handle_;
    bool manual_;
};

// Waits until one of the events is set; returns its index, or -1 on time-out.
// An auto-reset event that ends the wait is consumed.
int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs);

} // namespace orvi::platform
