#include "serial/dispatch/Triggers.h"

#include "serial/ErrorCodes.h"
#include "serial/dispatch/BaseDispatcher.h"
#include "serial/dispatch/DispatcherHooks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <thread>

namespace orvi {

namespace {
constexpr uint32_t kWindowSendTimeoutMs = 3000;
constexpr int32_t kMaxHandle = 0x0FFFFFFF; // handles stay positive with the type bits
constexpr size_t kMaxTriggersPerList = 1024;
constexpr int32_t kNoneMatched = 0;
constexpr int32_t kMatched = -1;
} // namespace

bool MatchByte(TDataTrigger& t, uint8_t byte) {
    if (t.IgnoreCase)
        byte = uint8_t(std::toupper(byte));
    const int32_t length = std::clamp<int32_t>(t.Length, 0, kMaxDataTriggerLength);
    bool matched = false, started = false, process = true;
    for (int32_t i = 0; i < length; ++i) {
        if (process) {
            const int32_t m = std::clamp<int32_t>(t.Slots[i], 0, length - 1);
            if (t.Sequence[m] == byte) {
                if (m == length - 1) {
                    // The reset comes before the later slots see this byte, so the
                    // byte can start a new partial match in the next slot.
                    matched = true;
                    std::fill(std::begin(t.Slots), std::end(t.Slots), 0);
                } else {
                    t.Slots[i] = m + 1;
                }
            } else if (t.Sequence[0] == byte) {
                t.Slots[i] = 1;
                started = true;
            } else {
                t.Slots[i] = 0;
            }
        }
        if (t.Slots[i] == 1)
            started = true;
        if (i == length - 1)
            process = false;
        else if (started)
            process = t.Slots[i + 1] != 0;
        else
            process = t.Slots[i + 1] != 0 || t.Sequence[0] == byte;
    }
    return matched;
}

TOrvTriggers::TOrvTriggers(TOrvBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}

void TOrvTriggers::Log(TLogEntry entry, uint32_t data) {
    if (dispatcher_.traceLog_.LogOn())
        dispatcher_.traceLog_.LogRecord(entry, data);
}

// ---- handlers ----

void TOrvTriggers::AddNotifyWindow(platform::WindowHandle window) {
    std::lock_guard lock(dispatcher_.MainLock);
    windows_.emplace_back().Window = window;
    handlersActive_ = true;
    Log(leWindowAdded, uint32_t(window));
}

void TOrvTriggers::RemoveNotifyWindow(platform::WindowHandle window) {
    std::lock_guard lock(dispatcher_.MainLock);
    auto it = std::find_if(windows_.begin(), windows_.end(), [window](const WindowHandler& h) {
        return h.Window == window && !h.Deleted;
    });
    if (it == windows_.end()) {
        SetHandlerFlags(hmRecompute);
        return;
    }
    Log(leWindowRemoved, uint32_t(window));
    if (dispatcher_.inDispatch_) {
        it->Deleted = true;
        handlersDeleted_ = true;
    } else {
        windows_.erase(it);
        SetHandlerFlags(hmRecompute);
    }
}

void TOrvTriggers::AddProcHandler(TTriggerProc proc) {
    std::lock_guard lock(dispatcher_.MainLock);
    procs_.emplace_back().Proc = proc;
    SetHandlerFlags(hmRecompute);
}

void TOrvTriggers::RemoveProcHandler(TTriggerProc proc) {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto it = procs_.begin(); it != procs_.end(); ++it) {
        if (it->Proc != proc || it->Deleted)
            continue;
        if (dispatcher_.inDispatch_) {
            it->Deleted = true;
            handlersDeleted_ = true;
        } else {
            procs_.erase(it);
        }
        break;
    }
    SetHandlerFlags(hmRecompute);
}

int32_t TOrvTriggers::AddEventHandler(TTriggerEvent handler, bool synchronised) {
    std::lock_guard lock(dispatcher_.MainLock);
    auto& h = events_.emplace_back();
    h.Id = nextEventId_++;
    h.Handler = std::move(handler);
    h.Synchronised = synchronised;
    SetHandlerFlags(hmRecompute);
    return h.Id;
}

void TOrvTriggers::RemoveEventHandler(int32_t id) {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->Id != id || it->Deleted)
            continue;
        if (dispatcher_.inDispatch_) {
            it->Deleted = true;
            handlersDeleted_ = true;
        } else {
            events_.erase(it);
        }
        break;
    }
    SetHandlerFlags(hmRecompute);
}

bool TOrvTriggers::AnyHandlers() const {
    return windows_.size() > 1 || !procs_.empty() || !events_.empty();
}

void TOrvTriggers::SetHandlerFlags(THandlerMode mode) {
    std::lock_guard lock(dispatcher_.MainLock);
    if (mode == hmPortHandlerOn) {
        portHandlerOn_ = true;
        handlersActive_ = true;
    } else if (mode == hmPortHandlerOff) {
        portHandlerOn_ = false;
        handlersActive_ = AnyHandlers();
    } else {
        handlersActive_ = AnyHandlers() || portHandlerOn_;
    }
}

// ---- trigger records ----

void TOrvTriggers::SetAvailThreshold(int32_t bytes) {
    std::lock_guard lock(dispatcher_.MainLock);
    availThreshold_ = bytes;
    Log(leAvailThreshold, uint32_t(bytes));
}

int32_t TOrvTriggers::AvailThreshold() {
    std::lock_guard lock(dispatcher_.MainLock);
    return availThreshold_;
}

int32_t TOrvTriggers::NextHandle(uint32_t type) {
    if (nextHandle_ > kMaxHandle)
        return ecNoMoreTriggers;
    return (nextHandle_++ << 3) | int32_t(type & 7);
}

int32_t TOrvTriggers::AddTimerTrigger() {
    std::lock_guard lock(dispatcher_.MainLock);
    if (timers_.size() >= kMaxTriggersPerList)
        return ecNoMoreTriggers;
    const int32_t handle = NextHandle(stNone);
    if (handle < 0)
        return handle;
    TTimerTrigger t{};
    t.Handle = handle;
    timers_.push_back(t);
    return handle;
}

int32_t TOrvTriggers::AddDataTrigger(const std::string& sequence, bool ignoreCase) {
    if (sequence.empty() || sequence.size() > size_t(kMaxDataTriggerLength))
        return ecTriggerTooLong;
    std::lock_guard lock(dispatcher_.MainLock);
    if (data_.size() >= kMaxTriggersPerList)
        return ecNoMoreTriggers;
    const int32_t handle = NextHandle(stNone);
    if (handle < 0)
        return handle;
    TDataTrigger t{};
    t.Handle = handle;
    t.Length = int32_t(sequence.size());
    t.IgnoreCase = ignoreCase ? 1 : 0;
    for (size_t i = 0; i < sequence.size(); ++i) {
        const auto c = uint8_t(sequence[i]);
        t.Sequence[i] = ignoreCase ? uint8_t(std::toupper(c)) : c;
    }
    data_.push_back(t);
    return handle;
}

int32_t TOrvTriggers::AddStatusTrigger(uint32_t type) {
    if (type < stModem || type > stOutSent)
        return ecBadTriggerHandle;
    std::lock_guard lock(dispatcher_.MainLock);
    if (status_.size() >= kMaxTriggersPerList)
        return ecNoMoreTriggers;
    const int32_t handle = NextHandle(type);
    if (handle < 0)
        return handle;
    status_.push_back(TStatusTrigger{handle, type, 0, false, false});
    return handle;
}

int32_t TOrvTriggers::SetTimerTrigger(int32_t handle, int32_t ticks, bool activate) {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto& t : timers_) {
        if (t.Handle != handle)
            continue;
        if (activate)
            SetTickTimer(t.Timer, ticks);
        t.Active = activate ? 1 : 0;
        return ecOK;
    }
    return ecBadTriggerHandle;
}

int32_t TOrvTriggers::SetStatusTrigger(int32_t handle, uint16_t value, bool activate) {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto& t : status_) {
        if (t.Handle != handle)
            continue;
        t.Value = value;
        t.Active = activate;
        t.Hit = false;
        return ecOK;
    }
    return ecBadTriggerHandle;
}

int32_t TOrvTriggers::RemoveTrigger(int32_t handle) {
    std::lock_guard lock(dispatcher_.MainLock);
    auto eraseFrom = [handle](auto& list) {
        auto it = std::find_if(list.begin(), list.end(),
                               [handle](const auto& t) { return t.Handle == handle; });
        if (it == list.end())
            return false;
        list.erase(it);
        return true;
    };
    return eraseFrom(timers_) || eraseFrom(data_) || eraseFrom(status_) ? ecOK : ecBadTriggerHandle;
}

void TOrvTriggers::ClearTriggers() {
    std::lock_guard lock(dispatcher_.MainLock);
    availThreshold_ = 0;
    timers_.clear();
    data_.clear();
    status_.clear();
    nextHandle_ = 1;
}

void TOrvTriggers::ResetScan() {
    lastAvailScan_ = 0;
}

void TOrvTriggers::ResetStatusHits() {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto& t : status_)
        t.Hit = false;
    statusHit_ = false;
}

void TOrvTriggers::ResetDataMatches() {
    std::lock_guard lock(dispatcher_.MainLock);
    for (auto& t : data_)
        std::fill(std::begin(t.Slots), std::end(t.Slots), 0);
}

void TOrvTriggers::SaveTriggers(TTriggerSnapshot& snapshot) {
    std::lock_guard lock(dispatcher_.MainLock);
    FreeTriggerSnapshot(snapshot);
    snapshot.AvailThreshold = availThreshold_;
    snapshot.Timers = timers_;
    snapshot.Data = data_;
    snapshot.Status = status_;
}

void TOrvTriggers::RestoreTriggers(const TTriggerSnapshot& snapshot) {
    std::lock_guard lock(dispatcher_.MainLock);
    availThreshold_ = snapshot.AvailThreshold;
    timers_.clear();
    data_.clear();
    status_.clear();
    if (snapshot.Timers)
        timers_ = *snapshot.Timers;
    if (snapshot.Data)
        data_ = *snapshot.Data;
    if (snapshot.Status)
        status_ = *snapshot.Status;
    // Handles made after the restore must not repeat a restored one.
    int32_t highest = 0;
    for (const auto& t : timers_)
        highest = std::max(highest, t.Handle >> 3);
    for (const auto& t : data_)
        highest = std::max(highest, t.Handle >> 3);
    for (const auto& t : status_)
        highest = std::max(highest, t.Handle >> 3);
    nextHandle_ = std::max(nextHandle_, highest + 1);
}

void TOrvTriggers::FreeTriggerSnapshot(TTriggerSnapshot& snapshot) {
    snapshot.AvailThreshold = 0;
    snapshot.Timers.reset();
    snapshot.Data.reset();
    snapshot.Status.reset();
}

// ---- checks ----

// Scans the bytes the ring holds beyond the scan position, up to the first byte that
// completes a data trigger's sequence (the ring keeps the scan position, InputRing.h).
bool TOrvTriggers::CheckDataTriggers() {
    auto& d = dispatcher_;
    auto& ring = d.inRing_;
    bool anyMatched = false;
    uint32_t longest = 0, before = 0, waiting = 0;
    uint64_t matchEnd = 0, purges = 0;
    int32_t threshold;
    matched_.clear();
    {
        std::scoped_lock lock(d.InLock, d.MainLock);
        threshold = availThreshold_;
        if (!ring.Allocated())
            return false;
        anyMatched = ScanLocked(longest);
        if (!anyMatched) {
            waiting = ring.Visible();
            if (threshold == 0 || ring.Scanned() == lastAvailScan_ || waiting < uint32_t(threshold))
                return false;
            lastAvailScan_ = ring.Scanned();
            if (!handlersActive_)
                return true;
            if (d.StopRequested)
                return false; // closed: no handler runs any more
            // Counted and entered at once: no other taker can make the count stale.
            BeginDispatchLocked(MsgTriggerAvail, ring.Scanned());
        } else {
            matchEnd = ring.Scanned();
            const uint32_t upTo = ring.Visible();
            before = upTo > longest ? upTo - longest : 0;
            // Matched triggers are reported from the last to the first.
            for (auto it = data_.rbegin(); it != data_.rend(); ++it) {
                if (!it->Matched)
                    continue;
                it->Matched = kNoneMatched;
                matched_.emplace_back(it->Handle, uint32_t(it->Length));
            }
            // The matched bytes go to the dispatches below, not to other takers between them.
            ring.SetHold(true);
            purges = ring.Purges();
        }
    }
    if (!anyMatched) {
        Log(leTriggerAvail, waiting);
        return RunDispatch(MsgTriggerAvail, waiting, 0);
    }
    const TakeHoldRelease release(d);
    return DispatchMatch(threshold, before, longest, matchEnd, purges);
}

bool TOrvTriggers::ScanLocked(uint32_t& longest) {
    auto& d = dispatcher_;
    const bool anyTrigger = std::any_of(data_.begin(), data_.end(),
                                        [](const TDataTrigger& t) { return t.Length != 0; });
    if (!anyTrigger) {
        d.inRing_.ScanAll();
        return false;
    }
    return d.inRing_.Scan([&](uint8_t byte) {
        bool anyMatched = false;
        for (auto& t : data_) {
            if (t.Length == 0)
                continue;
            if (!t.Matched)
                t.Matched = MatchByte(t, byte) ? kMatched : kNoneMatched;
            if (t.Matched) {
                anyMatched = true;
                longest = std::max(longest, uint32_t(t.Length));
            }
        }
        return anyMatched;
    });
}

// The dispatches of one match: the bytes in front of the sequence first (when they reach
// the threshold), then each matched trigger. Peekers see the bytes up to the matched
// sequence's end only.
bool TOrvTriggers::DispatchMatch(int32_t threshold, uint32_t before, uint32_t longest,
                                 uint64_t matchEnd, uint64_t purges) {
    auto& d = dispatcher_;
    bool result = true;
    if (threshold > 0 && matchEnd != lastAvailScan_ && before >= uint32_t(threshold)) {
        lastAvailScan_ = matchEnd;
        Log(leTriggerAvail, before);
        result = Dispatch(MsgTriggerAvail, before, 0, matchEnd - longest, purges);
        if (d.closePending_)
            return false;
    }
    for (const auto& [handle, length] : matched_) {
        Log(leTriggerData, uint32_t(handle));
        result = Dispatch(MsgTriggerData, uint32_t(handle), length, matchEnd, purges);
        if (d.closePending_)
            return false;
    }
    return result;
}

TOrvTriggers::TakeHoldRelease::~TakeHoldRelease() {
    std::lock_guard lock(d_.InLock);
    d_.inRing_.SetHold(false);
}

bool TOrvTriggers::CheckTimerTriggers() {
    int32_t handle = 0;
    {
        std::lock_guard lock(dispatcher_.MainLock);
        auto it = std::find_if(timers_.begin(), timers_.end(), [](const TTimerTrigger& t) {
            return t.Active && TickTimerExpired(t.Timer);
        });
        if (it == timers_.end())
            return false;
        it->Active = 0;
        handle = it->Handle;
    }
    Log(leTriggerTimer, uint32_t(handle));
    return CallHandlers(MsgTriggerTimer, uint32_t(handle), 0);
}

bool TOrvTriggers::FindStatusTrigger(int32_t& handle, uint32_t& reported) {
    auto& d = dispatcher_;
    std::lock_guard lock(d.MainLock);
    for (auto& t : status_) {
        if (!t.Active || t.Hit)
            continue;
        bool fires = false;
        reported = 0;
        switch (t.Type) {
        case stModem:
            fires = (((t.Value & 0xFF) ^ (d.ModemStatus_ & 0xFF)) & (t.Value >> 8)) != 0;
            break;
        case stLine: {
            const uint32_t errors = d.LineErrors_.load();
            fires = (t.Value & errors) != 0;
            if (fires)
                t.Value = uint16_t(errors);
            break;
        }
        case stOutBuffFree:
            reported = d.OutputFree();
            fires = reported >= t.Value;
            break;
        case stOutBuffUsed:
            reported = d.OutputUsed();
            fires = reported <= t.Value;
            break;
        case stOutSent:
            fires = d.OutputSent.exchange(false);
            break;
        default:
            break;
        }
        if (!fires) {
            reported = 0;
            continue;
        }
        t.Active = false;
        t.Hit = true;
        statusHit_ = true;
        handle = t.Handle;
        return true;
    }
    return false;
}

bool TOrvTriggers::CheckStatusTriggers() {
    int32_t handle = 0;
    uint32_t reported = 0;
    if (!FindStatusTrigger(handle, reported))
        return false;
    Log(leTriggerStatus, uint32_t(handle));
    return CallHandlers(MsgTriggerStatus, uint32_t(handle), reported);
}

// ---- the dispatch ----

void TOrvTriggers::SetPeeker(platform::WindowHandle window) {
    std::lock_guard lock(dispatcher_.InLock);
    dispatcher_.inRing_.SetPeeker(window);
}

bool TOrvTriggers::CallOne(const EventHandler& h, uint32_t msg, uint32_t trigger, uint32_t param) {
    if (h.Synchronised) {
        RunOnOwningThread([&] {
            SetPeeker(0);
            h.Handler(msg, trigger, param);
        });
        SetPeeker(0);
    } else {
        h.Handler(msg, trigger, param);
    }
    return true;
}

bool TOrvTriggers::CallOne(const ProcHandler& h, uint32_t msg, uint32_t trigger, uint32_t param) {
    h.Proc(msg, trigger, param);
    return true;
}

bool TOrvTriggers::CallOne(const WindowHandler& h, uint32_t msg, uint32_t trigger, uint32_t param) {
    // The window's thread runs the handler: its takes are the handler's peeks.
    SetPeeker(h.Window);
    // A window that does not answer in time is skipped for this dispatch.
    intptr_t ignored = 0;
    platform::SendMessageWithTimeout(h.Window, msg, trigger, intptr_t(param), kWindowSendTimeoutMs,
                                     &ignored);
    SetPeeker(0);
    return true;
}

// Calls every handler of one list in order; false when a handler asked for the close.
template <class List>
bool TOrvTriggers::CallList(List& list, uint32_t msg, uint32_t trigger, uint32_t param) {
    auto& d = dispatcher_;
    typename List::iterator it;
    {
        std::lock_guard lock(d.MainLock);
        it = list.begin();
        if (it == list.end())
            return true;
    }
    for (;;) {
        {
            std::lock_guard lock(d.InLock);
            d.inRing_.StartHandler();
        }
        if (!it->Deleted)
            CallOne(*it, msg, trigger, param);
        if (d.closePending_)
            return false;
        {
            std::lock_guard lock(d.InLock);
            d.inRing_.EndHandler();
        }
        std::lock_guard lock(d.MainLock);
        if (++it == list.end())
            return true;
    }
}

bool TOrvTriggers::CallHandlers(uint32_t msg, uint32_t trigger, uint32_t value) {
    return Dispatch(msg, trigger, value, UINT64_MAX, kAnyPurges);
}

bool TOrvTriggers::Dispatch(uint32_t msg, uint32_t trigger, uint32_t value, uint64_t peekEnd,
                            uint64_t purges) {
    if (!handlersActive_)
        return true;
    {
        std::scoped_lock lock(dispatcher_.InLock, dispatcher_.MainLock);
        // The matched bytes were purged: they fire nothing.
        if (purges != kAnyPurges && purges != dispatcher_.inRing_.Purges())
            return true;
        // The port was closed (by a close that may have given up on this worker's device
        // call and returned long ago): no handler of it runs any more. Looked at under
        // MainLock, under which the close decides whether a dispatch runs.
        if (dispatcher_.StopRequested)
            return false;
        BeginDispatchLocked(msg, peekEnd);
    }
    return RunDispatch(msg, trigger, value);
}

void TOrvTriggers::BeginDispatchLocked(uint32_t msg, uint64_t peekEnd) {
    auto& d = dispatcher_;
    d.inDispatch_ = true;
    callWindows_ = windows_.size() > 1 || portHandlerOn_;
    d.inRing_.BeginDispatch(msg == MsgTriggerAvail || msg == MsgTriggerData, peekEnd);
}

bool TOrvTriggers::RunDispatch(uint32_t msg, uint32_t trigger, uint32_t value) {
    auto& d = dispatcher_;
    const bool peek = msg == MsgTriggerAvail || msg == MsgTriggerData;
    const uint32_t param = value + uint32_t(d.Handle()) * 65536u;
    bool completed = false;
    try {
        completed = CallList(events_, msg, trigger, param) &&
                    CallList(procs_, msg, trigger, param) &&
                    (!callWindows_ || CallList(windows_, msg, trigger, param));
    } catch (...) {
        // The handler's exception ends the dispatcher worker. End the dispatch as an abort
        // does, so that takers consume again and a close is not deferred to a worker that
        // no longer runs.
        EndDispatch(false, peek, msg, trigger);
        throw;
    }
    return EndDispatch(completed, peek, msg, trigger);
}

bool TOrvTriggers::EndDispatch(bool completed, bool peek, uint32_t msg, uint32_t trigger) {
    auto& d = dispatcher_;
    bool result = completed;
    {
        std::lock_guard lock(d.InLock);
        // After an abort the bytes stay where they are; the port is closing.
        const uint32_t most = d.inRing_.EndDispatch(completed);
        if (completed && peek && msg == MsgTriggerAvail && most != trigger)
            result = false;
    }
    std::lock_guard lock(d.MainLock);
    d.inDispatch_ = false;
    if (handlersDeleted_)
        PurgeDeletedHandlers();
    return result;
}

void TOrvTriggers::PurgeDeletedHandlers() {
    auto deleted = [](const auto& h) { return h.Deleted.load(); };
    windows_.remove_if(deleted);
    procs_.remove_if(deleted);
    events_.remove_if(deleted);
    handlersDeleted_ = false;
    SetHandlerFlags(hmRecompute);
}

} // namespace orvi
