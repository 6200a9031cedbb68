#include "platform/MessageTarget.h"

#include "platform/Event.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace orvi::platform {

// Every thread that uses messaging gets a queue of its own. Its wake descriptor is an
// eventfd in semaphore mode whose counter is the number of pending messages (a pending
// quit request counts as one), so it is readable exactly while something is pending
// and an event loop can watch it level-triggered. A process-wide registry maps window
// handles to the queue of the owning thread; handles are never reused.

namespace {

using Clock = std::chrono::steady_clock;
using Procedure = std::shared_ptr<const WindowProcedure>;

// A message sent from another thread. The sender waits on `done` until the owning
// thread has run it (kDone) or it can no longer run (kFailed).
struct SentMessage {
    enum State { kPending, kDone, kFailed };

    SentMessage(WindowHandle t, uint32_t m, uintptr_t w, intptr_t l)
        : target(t), msg(m), wParam(w), lParam(l) {}

    const WindowHandle target;
    const uint32_t msg;
    const uintptr_t wParam;
    const intptr_t lParam;

    std::mutex mutex;
    std::condition_variable done;
    State state = kPending; // guarded by mutex
    intptr_t result = 0;    // guarded by mutex
};
using SentPtr = std::shared_ptr<SentMessage>;

void Complete(SentMessage& message, SentMessage::State state, intptr_t result) {
    {
        std::lock_guard lock(message.mutex);
        message.state = state;
        message.result = result;
    }
    message.done.notify_all();
}

struct PostedMessage {
    WindowHandle target;
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
};

// What the owning thread takes from its queue in one step.
struct Taken {
    enum Kind { kNone, kSent, kPosted, kQuit };
    Kind kind = kNone;
    SentPtr sent;
    PostedMessage posted{};
    Procedure procedure;
};

// The message queue of one thread. Created by its owning thread on first use; other
// threads reach it through the registry. Lock order: a queue's mutex_ may be held
// while taking a SentMessage's mutex, never the other way round.
class ThreadQueue {
public:
    // Null when the wake descriptor cannot be created.
    static std::shared_ptr<ThreadQueue> Create() {
        const int fd = eventfd(0, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0)
            return nullptr;
        return std::shared_ptr<ThreadQueue>(new ThreadQueue(fd));
    }

    ~ThreadQueue() { close(wakeFd_); }
    ThreadQueue(const ThreadQueue&) = delete;
    ThreadQueue& operator=(const ThreadQueue&) = delete;

    std::thread::id Owner() const { return owner_; }
    int WakeFd() const { return wakeFd_; }

    void AddTarget(WindowHandle target, Procedure procedure) {
        std::lock_guard lock(mutex_);
        targets_.emplace(target, std::move(procedure));
    }

    // Drops the target's posted messages and releases the senders still waiting on it.
    void RemoveTarget(WindowHandle target) {
        std::lock_guard lock(mutex_);
        targets_.erase(target);
        std::erase_if(posted_, [target](const PostedMessage& m) { return m.target == target; });
        std::erase_if(sent_, [target](const SentPtr& m) {
            if (m->target != target)
                return false;
            Complete(*m, SentMessage::kFailed, 0);
            return true;
        });
        SyncWake();
    }

    bool HasTarget(WindowHandle target) const {
        std::lock_guard lock(mutex_);
        return !closed_ && targets_.contains(target);
    }

    Procedure Find(WindowHandle target) const {
        std::lock_guard lock(mutex_);
        const auto it = targets_.find(target);
        return it == targets_.end() || closed_ ? nullptr : it->second;
    }

    bool Post(const PostedMessage& message) {
        std::lock_guard lock(mutex_);
        if (closed_ || !targets_.contains(message.target))
            return false;
        posted_.push_back(message);
        SyncWake();
        return true;
    }

    bool Enqueue(const SentPtr& message) {
        std::lock_guard lock(mutex_);
        if (closed_ || !targets_.contains(message->target))
            return false;
        sent_.push_back(message);
        SyncWake();
        return true;
    }

    // A sender gave up waiting: true when the message was still queued (it is dropped),
    // false when the owning thread had already taken it.
    bool Withdraw(const SentPtr& message) {
        std::lock_guard lock(mutex_);
        const auto it = std::find(sent_.begin(), sent_.end(), message);
        if (it == sent_.end())
            return false;
        sent_.erase(it);
        SyncWake();
        return true;
    }

    void PostQuit() {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        quit_ = true;
        SyncWake();
    }

    // Sent messages first, then posted ones; a quit request only when neither is
    // pending, and it stays queued.
    Taken Take() {
        std::lock_guard lock(mutex_);
        Taken taken;
        if (!sent_.empty()) {
            taken.kind = Taken::kSent;
            taken.sent = std::move(sent_.front());
            sent_.pop_front();
            taken.procedure = targets_.at(taken.sent->target);
        } else if (!posted_.empty()) {
            taken.kind = Taken::kPosted;
            taken.posted = posted_.front();
            posted_.pop_front();
            taken.procedure = targets_.at(taken.posted.target);
        } else if (quit_) {
            taken.kind = Taken::kQuit;
        }
        SyncWake();
        return taken;
    }

    // The owning thread ended: nothing is delivered any more.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        for (const SentPtr& m : sent_)
            Complete(*m, SentMessage::kFailed, 0);
        sent_.clear();
        posted_.clear();
        quit_ = false;
        SyncWake();
    }

private:
    explicit ThreadQueue(int fd) : owner_(std::this_thread::get_id()), wakeFd_(fd) {}

    // Brings the eventfd counter to the number of pending messages. Called under mutex_.
    void SyncWake() {
        const uint64_t pending = sent_.size() + posted_.size() + (quit_ ? 1 : 0);
        if (pending > signalled_) {
            const uint64_t add = pending - signalled_;
            if (write(wakeFd_, &add, sizeof add) == ssize_t(sizeof add))
                signalled_ = pending;
        }
        uint64_t one = 0;
        while (signalled_ > pending && read(wakeFd_, &one, sizeof one) == ssize_t(sizeof one))
            --signalled_;
    }

    const std::thread::id owner_;
    const int wakeFd_;

    mutable std::mutex mutex_;
    std::unordered_map<WindowHandle, Procedure> targets_; // guarded by mutex_
    std::deque<SentPtr> sent_;                            // guarded by mutex_
    std::deque<PostedMessage> posted_;                    // guarded by mutex_
    bool quit_ = false;                                   // guarded by mutex_
    bool closed_ = false;                                 // guarded by mutex_
    uint64_t signalled_ = 0;                              // guarded by mutex_
};
using QueuePtr = std::shared_ptr<ThreadQueue>;

// Window handle -> queue of the owning thread, for every live target of the process.
class Registry {
public:
    WindowHandle NewHandle() { return next_.fetch_add(1); }

    void Add(WindowHandle target, QueuePtr queue) {
        std::lock_guard lock(mutex_);
        queues_.emplace(target, std::move(queue));
    }

    QueuePtr Remove(WindowHandle target) {
        std::lock_guard lock(mutex_);
        const auto it = queues_.find(target);
        if (it == queues_.end())
            return nullptr;
        QueuePtr queue = std::move(it->second);
        queues_.erase(it);
        return queue;
    }

    QueuePtr Find(WindowHandle target) const {
        std::lock_guard lock(mutex_);
        const auto it = queues_.find(target);
        return it == queues_.end() ? nullptr : it->second;
    }

private:
    std::atomic<WindowHandle> next_{1};
    mutable std::mutex mutex_;
    std::unordered_map<WindowHandle, QueuePtr> queues_; // guarded by mutex_
};

// Never destroyed: threads may still post while the process shuts down.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

// Closes the thread's queue when the thread ends, releasing its waiting senders.
struct QueueHolder {
    QueuePtr queue;
    ~QueueHolder() {
        if (queue)
            queue->Close();
    }
};

const QueuePtr& CallingThreadQueue() {
    thread_local QueueHolder holder;
    if (!holder.queue)
        holder.queue = ThreadQueue::Create();
    return holder.queue;
}

// Waits for the sent message's completion. On time-out a message the owner has not
// taken yet is withdrawn, so it is never delivered late.
bool AwaitReply(ThreadQueue& queue, const SentPtr& message, uint32_t timeoutMs, intptr_t* result) {
    std::unique_lock lock(message->mutex);
    const auto finished = [&] { return message->state != SentMessage::kPending; };
    if (timeoutMs == kInfinite) {
        message->done.wait(lock, finished);
    } else if (!message->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished)) {
        lock.unlock();
        if (queue.Withdraw(message))
            return false;
        lock.lock();
    }
    if (message->state != SentMessage::kDone)
        return false; // failed, or still running on the owning thread
    if (result != nullptr)
        *result = message->result;
    return true;
}

thread_local WindowHandle tSentTarget = 0; // RunningSentMessageTarget

// Runs a sent message; a procedure that raises still releases its sender.
void DeliverSent(const Taken& taken) {
    SentMessage& m = *taken.sent;
    intptr_t result = 0;
    const WindowHandle outer = std::exchange(tSentTarget, m.target);
    try {
        result = (*taken.procedure)(m.msg, m.wParam, m.lParam);
    } catch (...) {
        tSentTarget = outer;
        Complete(m, SentMessage::kFailed, 0);
        throw;
    }
    tSentTarget = outer;
    Complete(m, SentMessage::kDone, result);
}

// Waits until the wake descriptor is readable or the deadline passed (false).
bool WaitForWake(int fd, uint32_t waitMs, Clock::time_point deadline) {
    for (;;) {
        int timeout = -1;
        if (waitMs != kInfinite) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            timeout = int(std::min<int64_t>(left, INT_MAX));
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, timeout);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

MessageTarget::MessageTarget(WindowProcedure procedure) {
    if (!procedure)
        return;
    const QueuePtr& queue = CallingThreadQueue();
    if (!queue)
        return;
    auto shared = std::make_shared<const WindowProcedure>(std::move(procedure));
    const WindowHandle handle = TheRegistry().NewHandle();
    queue->AddTarget(handle, std::move(shared));
    try {
        TheRegistry().Add(handle, queue);
    } catch (...) {
        queue->RemoveTarget(handle);
        throw;
    }
    handle_ = handle;
}

MessageTarget::~MessageTarget() {
    if (handle_ == 0)
        return;
    if (const QueuePtr queue = TheRegistry().Remove(handle_))
        queue->RemoveTarget(handle_);
}

bool PostMessageTo(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    const QueuePtr queue = TheRegistry().Find(target);
    return queue && queue->Post(PostedMessage{target, msg, wParam, lParam});
}

bool SendMessageWithTimeout(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                            uint32_t timeoutMs, intptr_t* result) {
    const QueuePtr queue = TheRegistry().Find(target);
    if (!queue)
        return false;
    if (queue->Owner() == std::this_thread::get_id()) {
        const Procedure procedure = queue->Find(target);
        if (!procedure)
            return false;
        const intptr_t r = (*procedure)(msg, wParam, lParam);
        if (result != nullptr)
            *result = r;
        return true;
    }
    auto message = std::make_shared<SentMessage>(target, msg, wParam, lParam);
    if (!queue->Enqueue(message))
        return false;
    return AwaitReply(*queue, message, timeoutMs, result);
}

bool ProcessOneMessage(uint32_t waitMs, bool* quit) {
    if (quit != nullptr)
        *quit = false;
    const QueuePtr& queue = CallingThreadQueue();
    if (!queue)
        return false;
    const auto deadline = waitMs == kInfinite ? Clock::time_point::max()
                                              : Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const Taken taken = queue->Take();
        switch (taken.kind) {
        case Taken::kSent:
            DeliverSent(taken);
            return true;
        case Taken::kPosted:
            (*taken.procedure)(taken.posted.msg, taken.posted.wParam, taken.posted.lParam);
            return true;
        case Taken::kQuit:
            if (quit != nullptr)
                *quit = true;
            return false;
        case Taken::kNone:
            break;
        }
        if (!WaitForWake(queue->WakeFd(), waitMs, deadline))
            return false;
    }
}

// The exit code is not reported by ProcessOneMessage, so it is not kept.
void PostQuitMessageToThread(int /*exitCode*/) {
    if (const QueuePtr& queue = CallingThreadQueue())
        queue->PostQuit();
}

intptr_t ThreadQueueWakeHandle() {
    const QueuePtr& queue = CallingThreadQueue();
    return queue ? queue->WakeFd() : -1;
}

bool IsOwnedByCallingThread(WindowHandle target) {
    const QueuePtr queue = TheRegistry().Find(target);
    return queue && queue->Owner() == std::this_thread::get_id() && queue->HasTarget(target);
}

WindowHandle RunningSentMessageTarget() {
    return tSentTarget;
}

} // namespace orvi::platform
