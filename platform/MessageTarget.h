#pragma once
// Window messaging: a message target owned by one thread, to which any thread can post
// messages or send them with a time-out; the owning thread takes and dispatches them.
// On Windows a target is a real message-only window of the registered class
// "ovComWindow"; on POSIX it is a queue of our own whose owning thread is woken
// through a file descriptor, so that any event loop (Qt's included) can drain it.
//
// Delivery order on the owning thread: messages sent from other threads first, in the
// order they were sent, then posted messages in the order they were posted (the
// Windows rule). A message sent from the owning thread to its own target runs at once.
//
// Threads: a MessageTarget is created and destroyed on its owning thread; Post, Send
// and IsTarget may be called from any thread at any time, also for a target that has
// been destroyed (they then fail).
#include <cstdint>
#include <functional>

namespace orvi::platform {

using WindowHandle = intptr_t; // 0 is no window

// A window procedure: message number, first and second parameter -> result.
using WindowProcedure = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

class MessageTarget {
public:
    explicit MessageTarget(WindowProcedure procedure);
    ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    WindowHandle Handle() const { return handle_; }
    bool Valid() const { return handle_ != 0; }

private:
    WindowHandle handle_ = 0;
};

// PostMessage: queues the message for the target's thread and returns at once.
bool PostMessageTo(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// SendMessageTimeout with SMTO_BLOCK: runs the message on the target's thread and waits
// for its result at most timeoutMs (kInfinite from Event.h: no limit). False when the
// target does not exist or the time ran out; a message that timed out before the
// owning thread started it is dropped, not delivered late.
bool SendMessageWithTimeout(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                            uint32_t timeoutMs, intptr_t* result);

// Takes at most one pending message of the calling thread's targets and dispatches it,
// waiting up to waitMs for one to arrive. A quit request is posted again instead of
// being consumed, and reported by returning false with *quit = true (when quit is
// given). Returns true when a message was dispatched.
bool ProcessOneMessage(uint32_t waitMs, bool* quit = nullptr);

// Posts a quit request to the calling thread's queue.
void PostQuitMessageToThread(int exitCode);

// POSIX: a file descriptor that becomes readable while the calling thread's queue has
// messages (for event loops to watch). Windows: 0 (the system's queue is used).
intptr_t ThreadQueueWakeHandle();

// True when the target exists and is owned by the calling thread.
bool IsOwnedByCallingThread(WindowHandle target);

// The target whose procedure the calling thread is running for a message that another
// thread sent (SendMessageWithTimeout), the innermost one when they nest; 0 when none.
WindowHandle RunningSentMessageTarget();

} // namespace orvi::platform
