#include "serial/dispatch/BaseDispatcher.h"

#include "platform/CallGate.h"
#include "platform/Clock.h"
#include "platform/SystemError.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/Utilities.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "serial/dispatch/DispatcherRegistry.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>

namespace orvi {

namespace {
// Events after which the modem lines are read: CTS, DSR, DCD and both ring indications.
constexpr uint32_t kModemEvents = platform::ev::Cts | platform::ev::Dsr | platform::ev::Rlsd |
                                  platform::ev::Ring | platform::ev::Ring9x;
// Events after which the line status is refreshed: break and line error.
constexpr uint32_t kLineEvents = platform::ev::Break | platform::ev::Err;
static_assert(kModemEvents == 0x2138 && kLineEvents == 0xC0);

// How long a close lets calls inside the device leave once woken, whatever is left of its
// limit (a healthy call leaves within a few ms).
constexpr std::chrono::milliseconds kCallsLeaveMs{100};

// What is left of a limit that started when this was made.
class TLimit {
public:
    explicit TLimit(std::chrono::milliseconds limit)
        : end_(std::chrono::steady_clock::now() + limit) {}
    std::chrono::steady_clock::time_point End() const { return end_; }
    std::chrono::milliseconds Left() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end_ - std::chrono::steady_clock::now());
        return std::max(left, std::chrono::milliseconds(0));
    }

private:
    std::chrono::steady_clock::time_point end_;
};
} // namespace

TOrvBaseDispatcher::TOrvBaseDispatcher(TOrvDispatcherOwner* owner)
    : owner_(owner), inRing_([this] { RequestInputFill(); }), triggers_(*this) {
    handle_ = DispatcherRegistry::Register(this);
}

TOrvBaseDispatcher::~TOrvBaseDispatcher() {
    // The device layer's destructor has already closed the port and waited for the
    // workers (it must: the device operations are gone by the time this runs).
    DispatcherRegistry::Unregister(handle_);
}

void TOrvBaseDispatcher::Shutdown() {
    if (closePending_)
        ReleasePort();
    else
        ClosePort();
    // Workers may be blocked sending a handler message to this thread; serve them.
    PumpUntil([this] { return workerCount_.load() == 0; }, platform::kInfinite);
}

// ---- open and close ----

int32_t TOrvBaseDispatcher::OpenPort(const std::string& name, int32_t baud, int32_t parity,
                                     int32_t dataBits, int32_t stopBits, uint32_t inSize,
                                     uint32_t outSize, uint32_t options) {
    // The last open's close still waits for a handler that has not returned, and its
    // workers run: nothing they use (rings, flags, device) is touched, and that close
    // completes when the handler returns. The start would refuse them anyway.
    if (workersActive_ && !deviceOpen_)
        throw Exception("Dispatcher already started");
    RingSeen = false;
    inDispatch_ = false;
    closePending_ = false;
    StopRequested = false;

    int32_t result = DeviceOpen(name, inSize, outSize);
    if (result < 0) {
        ClosePort();
        return result;
    }
    deviceOpen_ = true;

    result = SetQueueSizes(inSize, outSize);
    if (result < 0) {
        ClosePort();
        return result;
    }
    AllocateRings(inSize, outSize);
    InitialiseLines(options);

    result = SetLineSettings(baud, parity, dataBits, stopBits);
    if (result < 0) {
        ClosePort();
        return result;
    }
    RefreshCommStatus();
    traceLog_.SetDeviceName(deviceName_);
    traceLog_.SetScratchSize(std::max(inSize, outSize));
    traceLog_.Reset(MillisecondClock());
    if (!StartWorkers()) {
        // The workers that did start are stopped and the rings freed by the close.
        ClosePort();
        return -int32_t(platform::syserr::NotEnoughMemory);
    }
    return ecOK;
}

void TOrvBaseDispatcher::AllocateRings(uint32_t inSize, uint32_t outSize) {
    {
        std::lock_guard lock(InLock);
        inRing_.Allocate();
    }
    {
        std::lock_guard lock(OutLock);
        OutRing = std::make_unique<uint8_t[]>(std::max<uint32_t>(outSize, 1));
        OutHead = OutTail = 0;
        OutRingFull = false;
        InQueueSize = inSize;
        OutQueueSize = outSize;
    }
    LineErrors_ = 0;
    OutputSent = false;
    RS485On = false;
    PortBaseAddress = 0;
}

void TOrvBaseDispatcher::InitialiseLines(uint32_t options) {
    {
        std::lock_guard lock(MainLock);
        DeviceGetState(DeviceState_);
        DtrByFlow = (options & openopt::DtrByFlow) != 0;
        RtsByFlow = (options & openopt::RtsByFlow) != 0;
    }
    if (!DtrByFlow)
        SetDtr((options & openopt::DtrOn) ? 1 : 0);
    if (!RtsByFlow)
        SetRts((options & openopt::RtsOn) ? 1 : 0);

    triggers_.ResetScan();
    triggers_.ClearTriggers();
    triggers_.ResetStatusHits();
    {
        std::lock_guard lock(MainLock);
        ModemStatus_ = 0;
    }
    ReadModemStatus(0xF0);
    std::lock_guard lock(MainLock);
    CurrentBaud_ = 115200;
}

int32_t TOrvBaseDispatcher::ClosePort() {
    int32_t result = ecOK;
    if (deviceOpen_) {
        // One limit for all the close waits on: the output worker leaving its write for the
        // output purge, a fill's device read for the input purge, and every call still
        // inside the device. A read that outlasts it is given up on like a device call
        // that never leaves: its worker is let go of.
        const TLimit limit(platform::CallGate::kShutLimit);
        DevicePurge(pwOutput, limit.Left());
        bool ordered = true;
        PurgeInputWithin(limit.End(), ordered);
        // The calls inside the device get a moment to leave once woken, even when the
        // purge spent the limit.
        result = DeviceClose(std::max(limit.Left(), kCallsLeaveMs));
        if (!ordered) {
            workersLetGo_ = true;
            if (result == ecOK)
                result = -int32_t(platform::syserr::TimedOut);
        }
        deviceOpen_ = false;
    }
    // One step under MainLock, under which a dispatch also ends: either the dispatch
    // still runs and the dispatcher worker, ending after it, sees the close pending and
    // releases, or it has ended and this thread releases.
    bool deferred = false;
    {
        std::lock_guard lock(MainLock);
        if (inDispatch_)
            closePending_ = deferred = true;
    }
    if (!deferred)
        ReleasePort();
    return result;
}

namespace {

// Dispatchers that let go of workers still running, until those have ended. Left at
// exit (never destroyed): a worker may still be inside one then.
struct KeptDispatchers {
    std::mutex lock;
    std::vector<std::unique_ptr<TOrvBaseDispatcher>> list; // guarded by lock
};

KeptDispatchers& Kept() {
    static auto* kept = new KeptDispatchers;
    return *kept;
}

} // namespace

void TOrvBaseDispatcher::Dispose(std::unique_ptr<TOrvBaseDispatcher> dispatcher) {
    std::vector<std::unique_ptr<TOrvBaseDispatcher>> ended;
    {
        KeptDispatchers& kept = Kept();
        std::lock_guard lock(kept.lock);
        const auto running = [](const auto& d) { return d->WorkerCount() != 0; };
        const auto first = std::partition(kept.list.begin(), kept.list.end(), running);
        std::move(first, kept.list.end(), std::back_inserter(ended));
        kept.list.erase(first, kept.list.end());
        if (dispatcher && dispatcher->WorkersLetGo() && running(dispatcher))
            kept.list.push_back(std::move(dispatcher));
    }
    // Destroyed outside the lock: a destructor serves window messages while it joins.
    ended.clear();
    dispatcher.reset();
}

void TOrvBaseDispatcher::ReleasePort() {
    std::lock_guard release(releaseLock_);
    ReleaseOnExit = false;
    StopWorkers();
    if (OtherWorkersRunning())
        return; // a worker still runs; the rings go with the dispatcher
    std::scoped_lock lock(InLock, OutLock);
    inRing_.Release();
    OutRing.reset();
}

// ---- status ----

platform::CommStatus TOrvBaseDispatcher::RefreshCommStatus() {
    std::lock_guard lock(OutLock);
    LineErrors_ |= DeviceStatus(CommStatus_) & kLineErrorBits;
    return CommStatus_;
}

uint32_t TOrvBaseDispatcher::OutPendingLocked() const {
    if (OutRingFull)
        return OutQueueSize;
    if (OutTail < OutHead)
        return OutHead - OutTail;
    if (OutHead < OutTail)
        return OutQueueSize + OutHead - OutTail;
    return 0;
}

uint32_t TOrvBaseDispatcher::MakeContiguousLocked() {
    if (!OutRing || (!OutRingFull && OutHead == OutTail))
        return 0;
    if (OutTail < OutHead)
        return OutHead - OutTail;
    if (OutHead == 0)
        return OutQueueSize - OutTail;
    // The pending bytes wrap: rotate the ring in place so that the older part
    // [OutTail, size) is followed by the newer part [0, OutHead), all from index 0.
    const uint32_t pending = OutPendingLocked();
    uint8_t* ring = OutRing.get();
    std::rotate(ring, ring + OutTail, ring + OutQueueSize);
    OutHead = pending == OutQueueSize ? 0 : pending;
    OutTail = 0;
    return pending;
}

void TOrvBaseDispatcher::AdvanceOutTail(uint32_t n) {
    OutTail += n;
    if (OutTail >= OutQueueSize)
        OutTail = 0;
    if (OutTail == OutHead)
        OutHead = OutTail = 0;
    OutRingFull = false;
}

// ---- input ----

bool TOrvBaseDispatcher::FillInputRing() {
    // Held from taking the free space to the commit: no purge comes between (InputRing.h).
    std::lock_guard order(inRing_.FillOrder());
    TInputRing::Space space;
    {
        std::lock_guard lock(InLock);
        if (!inRing_.Allocated())
            return false;
        if (inRing_.Full()) {
            inRing_.MarkBacklog();
            InputStreaming = false;
            return true;
        }
        space = inRing_.FreeSpace();
    }
    const uint32_t waiting = RefreshCommStatus().InQue;
    if (waiting == 0) {
        InputStreaming = false;
        return false;
    }
    // The device is read without InLock, so that takers are not held up by the read.
    // The whole contiguous space is offered (the read returns what is there); the part
    // from the ring's start only for bytes known to wait beyond it.
    const uint32_t second =
        space.first < waiting ? std::min(space.second, waiting - space.first) : 0;
    uint32_t n = ReadIntoRing(space.at, space.first);
    if (n == space.first)
        n += ReadIntoRing(inRing_.Data(), second);

    std::lock_guard lock(InLock);
    // A ring left full waits for room (the takers ask for a refill when half of it is
    // free); one with room is watched for input again at once, whatever the driver holds.
    inRing_.CommitFill(n);
    // A large read while the ring still has room is a stream: more is most likely right
    // behind it, and the next pass reads it without waiting for input to be signalled.
    InputStreaming = n >= kStreamingRead && !inRing_.Full();
    return true;
}

bool TOrvBaseDispatcher::SetReadOnCaller(bool on) {
    if (on && !DeviceCanWaitInput())
        return false;
    readOnCaller_ = on;
    return true;
}

uint32_t TOrvBaseDispatcher::WaitAndRead(uint32_t timeoutMs) {
    if (!readOnCaller_)
        return InputCount();
    if (timeoutMs > 0)
        DeviceWaitInput(timeoutMs);
    FillInputRing();
    {
        // Takeable at once: no data trigger scans what the caller reads. Bytes the worker
        // filled before the caller took over stay with its scan while it dispatches them.
        std::lock_guard lock(InLock);
        if (inRing_.Allocated() && !inDispatch_)
            inRing_.ScanAll();
    }
    return InputCount();
}

uint32_t TOrvBaseDispatcher::ReadIntoRing(uint8_t* at, uint32_t count) {
    if (count == 0)
        return 0;
    int32_t n = DeviceRead(at, count);
    if (n < 0) {
        DeviceErrorHook(-1);
        n = 0;
    }
    if (traceLog_.LogOn())
        traceLog_.LogRecord(leReadCom, uint32_t(n), at, uint32_t(n));
    return uint32_t(n);
}

int32_t TOrvBaseDispatcher::PeekByte(uint32_t n, uint8_t& byte) {
    if (inRing_.VisibleHint() < n)
        return ecBufferIsEmpty;
    std::lock_guard lock(InLock);
    return inRing_.PeekAt(n, byte) ? ecOK : ecBufferIsEmpty;
}

int32_t TOrvBaseDispatcher::TakeByte(uint8_t& byte) {
    return TakeBytes(&byte, 1, false);
}

int32_t TOrvBaseDispatcher::TakeBlock(uint8_t* data, uint32_t len) {
    return TakeBytes(data, len, true);
}

int32_t TOrvBaseDispatcher::TakeBytes(uint8_t* data, uint32_t len, bool block) {
    const int32_t fail = block ? ecGetBlockFail : ecBufferIsEmpty;
    if (inRing_.VisibleHint() < len)
        return fail;
    std::lock_guard lock(InLock);
    if (!inRing_.Take(data, len))
        return fail;
    if (traceLog_.TraceOn())
        traceLog_.TraceBlock('R', data, len);
    return ecOK;
}

uint32_t TOrvBaseDispatcher::InputCount() {
    if (inRing_.VisibleHint() == 0)
        return 0;
    std::lock_guard lock(InLock);
    return inRing_.Count();
}

int32_t TOrvBaseDispatcher::PurgeInput() {
    bool ordered = true;
    return PurgeInputWithin(TLimit(platform::CallGate::kShutLimit).End(), ordered);
}

int32_t TOrvBaseDispatcher::PurgeInputWithin(std::chrono::steady_clock::time_point until,
                                             bool& ordered) {
    // A fill holds the fill order across its device read: a read that the driver does not
    // end would hold the purge for good. After the limit the purge goes on without the
    // order: the bytes in the ring and in the driver go all the same, and only the read in
    // progress is left out of it (its bytes, should it ever return, are kept).
    std::unique_lock order(inRing_.FillOrder(), std::defer_lock);
    ordered = order.try_lock_until(until);
    std::lock_guard lock(InLock);
    const int32_t result = DevicePurge(pwInput, std::chrono::milliseconds(0));
    inRing_.Purge();
    triggers_.ResetDataMatches();
    if (!ordered && result == ecOK)
        return -int32_t(platform::syserr::TimedOut);
    return result;
}

// ---- output ----

int32_t TOrvBaseDispatcher::QueueBlock(const uint8_t* data, uint32_t len) {
    if (len == 0)
        return ecOK;
    int32_t result = ecOK;
    uint32_t n = 0; // bytes queued
    {
        std::lock_guard lock(OutLock);
        if (!OutRing)
            return ecCommNotOpen;
        // Line errors not yet taken stay: the refresh adds the new ones.
        RefreshCommStatus();
        const uint32_t free = OutQueueSize - OutPendingLocked();
        if (len > free)
            return ecOutputBufferTooSmall;
        if (len == free)
            OutRingFull = true;
        if (RS485On && Is9xFamily()) {
            if (PortBaseAddress == 0)
                return ecBaseAddressNotSet;
            SetRts(1);
        }
        if (DeviceWrite(data, len) < 0) {
            // Nothing was queued; the ring is not left marked full for it.
            OutRingFull = false;
            RefreshCommStatus();
            result = ecPutBlockFail;
        } else {
            n = len;
        }
        OutputSent = true;
    }
    // The log entry and the block's trace entries are recorded together under MainLock,
    // so that two callers' blocks never interleave in the trace.
    std::lock_guard lock(MainLock);
    if (traceLog_.LogOn())
        traceLog_.LogRecord(leWriteCom, n, data, n);
    if (traceLog_.TraceOn())
        traceLog_.TraceBlock('T', data, n);
    return result;
}

uint32_t TOrvBaseDispatcher::OutputUsed() {
    std::lock_guard lock(OutLock);
    return RefreshCommStatus().OutQue;
}

uint32_t TOrvBaseDispatcher::OutputFree() {
    std::lock_guard lock(OutLock);
    return OutQueueSize - OutputUsed();
}

int32_t TOrvBaseDispatcher::PurgeOutput() {
    return DevicePurge(pwOutput, std::chrono::milliseconds::max());
}

// ---- worker bookkeeping ----

void TOrvBaseDispatcher::WorkerStarted() {
    ++workerCount_;
}

void TOrvBaseDispatcher::WorkersNotStarted(int32_t n) {
    if ((workerCount_ -= n) == 0)
        workersActive_ = false;
}

void TOrvBaseDispatcher::WorkerEnded(bool isDispatcherWorker) {
    if (isDispatcherWorker) {
        // No scan follows: every filled byte becomes takeable, those behind a match whose
        // handler raised included.
        std::lock_guard lock(InLock);
        if (inRing_.Allocated())
            inRing_.ScanAll();
    }
    if (isDispatcherWorker && ReleaseOnExit.exchange(false)) {
        // Another thread releasing now (a destroy after the deferred close) stops the
        // workers and waits for this one to end: it has nothing left to do here.
        std::unique_lock release(releaseLock_, std::try_to_lock);
        if (release.owns_lock())
            ReleasePort();
    }
    if (--workerCount_ == 0)
        workersActive_ = false;
}

// ---- snapshots for callers and tests ----

RingState TOrvBaseDispatcher::Rings() {
    std::scoped_lock lock(InLock, OutLock);
    return RingState{.InHead = inRing_.Head(),
                     .InTail = inRing_.Tail(),
                     .InRingFull = inRing_.Full(),
                     .OutHead = OutHead,
                     .OutTail = OutTail,
                     .OutRingFull = OutRingFull,
                     .OutPurges = OutPurges,
                     .OutQueueSize = OutQueueSize};
}

uint32_t TOrvBaseDispatcher::LineErrors() {
    return LineErrors_.load();
}

uint32_t TOrvBaseDispatcher::ModemStatus() {
    std::lock_guard lock(MainLock);
    return ModemStatus_;
}

int32_t TOrvBaseDispatcher::CurrentBaud() {
    std::lock_guard lock(MainLock);
    return CurrentBaud_;
}

platform::DeviceState TOrvBaseDispatcher::GetDeviceState() {
    std::lock_guard lock(MainLock);
    return DeviceState_;
}

// ---- the dispatcher worker's passes ----

// A handler that asks for the close ends the whole pass: every check below is left
// as soon as ClosePending is set, whatever the dispatch that set it returned.
void TOrvBaseDispatcher::ProcessComEvent() {
    // Served once: a pass without a new event does not repeat the modem and line checks.
    const uint32_t eventWord = EventWord.exchange(0);
    if (eventWord & kModemEvents) {
        MarkModemDeltas();
        if (!inDispatch_ && !RunStatusChecks())
            return;
        ClearStatusHits();
    }
    if (eventWord & kLineEvents) {
        RefreshCommStatus();
        if (!inDispatch_ && !RunStatusChecks())
            return;
        ClearStatusHits();
    }
    if (!readOnCaller_)
        FillInputRing();
    // A close may have come while the fill read the device (one that gave up on that
    // read included): nothing is scanned or dispatched after it.
    if (StopRequested)
        return;
    if (!inDispatch_) {
        if (!RunStatusChecks() || !RunUntilQuiet([this] { return triggers_.CheckDataTriggers(); }))
            return;
    }
    ClearStatusHits();
}

template <class Check> bool TOrvBaseDispatcher::RunUntilQuiet(Check check) {
    for (;;) {
        const bool fired = check();
        if (closePending_)
            return false;
        if (!fired)
            return true;
    }
}

bool TOrvBaseDispatcher::RunStatusChecks() {
    return RunUntilQuiet([this] { return triggers_.CheckStatusTriggers(); });
}

void TOrvBaseDispatcher::ClearStatusHits() {
    if (triggers_.StatusHit())
        triggers_.ResetStatusHits();
}

void TOrvBaseDispatcher::CheckStatusAndTimers() {
    if (closePending_ || inDispatch_ || StopRequested)
        return;
    triggers_.ClearStatusHitFlag();
    const bool quiet = RunUntilQuiet([this] {
        if (triggers_.CheckStatusTriggers())
            return true;
        return !closePending_ && triggers_.CheckTimerTriggers();
    });
    if (quiet)
        ClearStatusHits();
}

void TOrvBaseDispatcher::SetHandlerFlags(THandlerMode mode) {
    std::lock_guard lock(MainLock);
    triggers_.SetHandlerFlags(mode);
}

} // namespace orvi
