#include "serial/dispatch/BaseDispatcher.h"

#include "platform/Clock.h"
#include "platform/SystemError.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/Utilities.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "serial/dispatch/DispatcherRegistry.h"

#include <algorithm>
#include <cstring>

namespace orvi {

TOrvBaseDispatcher::TOrvBaseDispatcher(TOrvDispatcherOwner* owner)
    : owner_(owner), triggers_(*this) {
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
        InRing = std::make_unique<uint8_t[]>(kInRingSize);
        InHead = InTail = 0;
        InRingFull = false;
        PeekMode = false;
        PeekCount = MaxPeekCount = 0;
        InFilled = InTaken = InScanned = 0;
        PublishVisibleLocked();
        TakeHold = false;
        PeekWindow = 0;
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

void TOrvBaseDispatcher::ClosePort() {
    if (deviceOpen_) {
        PurgeOutput();
        PurgeInput();
        DeviceClose();
        deviceOpen_ = false;
    }
    if (inDispatch_)
        closePending_ = true;
    else
        ReleasePort();
}

void TOrvBaseDispatcher::ReleasePort() {
    std::lock_guard release(releaseLock_);
    ReleaseOnExit = false;
    StopWorkers();
    if (OtherWorkersRunning())
        return; // a worker still runs; the rings go with the dispatcher
    std::scoped_lock lock(InLock, OutLock);
    InRing.reset();
    OutRing.reset();
}

// ---- status ----

platform::CommStatus TOrvBaseDispatcher::RefreshCommStatus() {
    std::lock_guard lock(OutLock);
    LineErrors_ |= DeviceStatus(CommStatus_) & kLineErrorBits;
    return CommStatus_;
}

uint32_t TOrvBaseDispatcher::InWaitingLocked() const {
    if (InHead > InTail)
        return InHead - InTail;
    if (InHead < InTail)
        return InHead + kInRingSize - InTail;
    return InRingFull ? kInRingSize : 0;
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
    uint32_t head = 0, first = 0, second = 0;
    uint64_t purges = 0;
    {
        std::lock_guard lock(InLock);
        if (!InRing)
            return false;
        if (InRingFull) {
            InputBacklog = true;
            InputStreaming = false;
            return true;
        }
        FreeSpaceLocked(first, second);
        head = InHead; // only this worker moves it
        purges = InPurges;
    }
    const uint32_t waiting = RefreshCommStatus().InQue;
    if (waiting == 0) {
        InputStreaming = false;
        return false;
    }
    // The device is read without InLock, so that takers are not held up by the read.
    // The free space belongs to this worker alone: takers only ever add to it, and the
    // rings live until the workers have ended.
    // The whole contiguous space is offered (the read returns what is there); the part
    // from the ring's start only for bytes known to wait beyond it.
    second = first < waiting ? std::min(second, waiting - first) : 0;
    uint32_t n = ReadIntoRing(head, first);
    if (n == first)
        n += ReadIntoRing(0, second);

    std::lock_guard lock(InLock);
    // Bytes read while an input purge ran were received before it: they go with it.
    if (InPurges != purges)
        n = 0;
    CommitFill(n);
    // Bytes left in the driver for lack of room, or a ring filled up (the worker then
    // stops watching for input): the takers ask for a refill as soon as half the ring is
    // free, instead of leaving it for the next pass.
    InputBacklog = waiting > n || InRingFull;
    // A large read while the ring still has room is a stream: more is most likely right
    // behind it, and the next pass reads it without waiting for input to be signalled.
    InputStreaming = n >= kStreamingRead && !InRingFull;
    return true;
}

void TOrvBaseDispatcher::FreeSpaceLocked(uint32_t& first, uint32_t& second) const {
    if (InHead == InTail) {
        first = kInRingSize - InHead;
        second = InHead;
    } else if (InTail < InHead) {
        first = kInRingSize - InHead;
        second = InTail;
    } else {
        first = InTail - InHead;
        second = 0;
    }
}

uint32_t TOrvBaseDispatcher::ReadIntoRing(uint32_t at, uint32_t count) {
    if (count == 0)
        return 0;
    int32_t n = DeviceRead(InRing.get() + at, count);
    if (n < 0) {
        DeviceErrorHook(-1);
        n = 0;
    }
    if (traceLog_.LogOn())
        traceLog_.LogRecord(1, 1, uint32_t(n), InRing.get() + at, uint32_t(n));
    return uint32_t(n);
}

void TOrvBaseDispatcher::CommitFill(uint32_t n) {
    if (n == 0)
        return;
    InHead = (InHead + n) % kInRingSize;
    InFilled += n;
    InRingFull = InHead == InTail;
}

void TOrvBaseDispatcher::AdvanceInTail(uint32_t n) {
    InTail = (InTail + n) % kInRingSize;
    InTaken += n;
    InScanned = std::max(InScanned, InTaken);
    PublishVisibleLocked();
    if (n > 0)
        InRingFull = false;
    // Room made for bytes the driver still holds, by a taker or by the end of a dispatch
    // that consumed what its handlers peeked: the worker fills again now instead of
    // leaving them for its next pass.
    if (InputBacklog && InWaitingLocked() <= kInRingSize / 2) {
        InputBacklog = false;
        RequestInputFill();
    }
}

bool TOrvBaseDispatcher::IsPeekerLocked() const {
    // A window handler's takes are peeks only from inside the message the worker sent,
    // not from the window's thread elsewhere (its own polling, say).
    if (PeekWindow != 0)
        return platform::RunningSentMessageTarget() == PeekWindow;
    return std::this_thread::get_id() == PeekThread;
}

bool TOrvBaseDispatcher::TakeWindowLocked(uint32_t& skip, uint32_t& avail) const {
    skip = 0;
    avail = InRing ? InVisibleLocked() : 0;
    if (!PeekMode && !TakeHold)
        return true;
    // A dispatch runs: the bytes belong to its handlers, in the order they peek them.
    if (!PeekMode || !IsPeekerLocked())
        return false;
    skip = PeekCount;
    avail = uint32_t(std::min(InScanned, PeekEnd) - std::min(InTaken, PeekEnd));
    return true;
}

int32_t TOrvBaseDispatcher::PeekByte(uint32_t n, uint8_t& byte) {
    std::lock_guard lock(InLock);
    if (!InRing || n == 0 || InVisibleLocked() < n)
        return ecBufferIsEmpty;
    byte = InRing[(InTail + n - 1) % kInRingSize];
    return ecOK;
}

int32_t TOrvBaseDispatcher::TakeByte(uint8_t& byte) {
    return TakeBytes(&byte, 1, false);
}

int32_t TOrvBaseDispatcher::TakeBlock(uint8_t* data, uint32_t len) {
    return TakeBytes(data, len, true);
}

int32_t TOrvBaseDispatcher::TakeBytes(uint8_t* data, uint32_t len, bool block) {
    if (InVisibleHint.load(std::memory_order_acquire) < len)
        return block ? ecGetBlockFail : ecBufferIsEmpty;
    std::lock_guard lock(InLock);
    uint32_t skip = 0, avail = 0;
    if (!TakeWindowLocked(skip, avail) || avail < skip + len)
        return block ? ecGetBlockFail : ecBufferIsEmpty;
    const uint32_t start = (InTail + skip) % kInRingSize;
    const uint32_t firstPart = std::min(len, kInRingSize - start);
    std::memcpy(data, InRing.get() + start, firstPart);
    std::memcpy(data + firstPart, InRing.get(), len - firstPart);
    if (PeekMode) {
        PeekCount += len;
    } else {
        AdvanceInTail(len);
    }
    if (traceLog_.TraceOn())
        traceLog_.TraceBlock('R', data, len);
    return ecOK;
}

uint32_t TOrvBaseDispatcher::InputCount() {
    if (InVisibleHint.load(std::memory_order_acquire) == 0)
        return 0;
    std::lock_guard lock(InLock);
    uint32_t skip = 0, avail = 0;
    if (!TakeWindowLocked(skip, avail))
        return 0;
    return avail - std::min(avail, skip);
}

int32_t TOrvBaseDispatcher::PurgeInput() {
    std::lock_guard lock(InLock);
    const int32_t result = DevicePurge(1);
    ++InPurges;
    if (PeekMode) {
        // The running dispatch consumes everything when it ends, and its handlers get
        // nothing more: no purged byte is handed out after the purge.
        MaxPeekCount = InWaitingLocked();
        PeekEnd = std::min(PeekEnd, InTaken);
    } else {
        AdvanceInTail(InWaitingLocked());
        InRingFull = false;
        PeekCount = 0;
    }
    // Purged bytes are never scanned: the scan goes on behind them. A full ring stays
    // marked full until a running dispatch has consumed it: cleared now, its equal
    // indexes would read as an empty ring and the bytes would be read over.
    InScanned = InFilled;
    PublishVisibleLocked();
    triggers_.ResetDataMatches();
    return result;
}

// ---- output ----

int32_t TOrvBaseDispatcher::QueueBlock(const uint8_t* data, uint32_t len) {
    if (len == 0)
        return ecOK;
    int32_t result = ecOK;
    int32_t n = 0;
    {
        std::lock_guard lock(OutLock);
        if (!OutRing)
            return ecCommNotOpen;
        LineErrors_ = DeviceStatus(CommStatus_);
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
        n = DeviceWrite(data, len);
        if (n <= 0) {
            n = -n;
            LineErrors_ = DeviceStatus(CommStatus_);
            result = ecPutBlockFail;
        }
        OutputSent = true;
    }
    // The log entry and the block's trace entries are recorded together under MainLock,
    // so that two callers' blocks never interleave in the trace.
    std::lock_guard lock(MainLock);
    if (traceLog_.LogOn())
        traceLog_.LogRecord(1, 2, uint32_t(n), data, uint32_t(n));
    if (traceLog_.TraceOn())
        traceLog_.TraceBlock('T', data, uint32_t(n));
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
    return DevicePurge(0);
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
    if (isDispatcherWorker && ReleaseOnExit.exchange(false))
        ReleasePort();
    if (--workerCount_ == 0)
        workersActive_ = false;
}

// ---- snapshots for callers and tests ----

RingState TOrvBaseDispatcher::Rings() {
    std::scoped_lock lock(InLock, OutLock);
    return RingState{InHead, InTail, InRingFull, OutHead, OutTail, OutRingFull, OutQueueSize};
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
    const uint32_t eventWord = EventWord.load();
    if (eventWord & 0x2138) {
        MarkModemDeltas();
        if (!inDispatch_ && !RunStatusChecks())
            return;
        ClearStatusHits();
    }
    if ((eventWord & 0xFF) >= 0x40) {
        RefreshCommStatus();
        if (!inDispatch_ && !RunStatusChecks())
            return;
        ClearStatusHits();
    }
    FillInputRing();
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
    if (closePending_ || inDispatch_)
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

void TOrvBaseDispatcher::SetHandlerFlags(int32_t mode) {
    std::lock_guard lock(MainLock);
    triggers_.SetHandlerFlags(mode);
}

} // namespace orvi
