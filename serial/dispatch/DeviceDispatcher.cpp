#include "serial/dispatch/DeviceDispatcher.h"

#include "platform/Clock.h"
#include "platform/SystemError.h"
#include "platform/Thread.h"
#include "serial/ApplicationException.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DispatcherHooks.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace orvi {

using namespace platform;

// ---- worker threads ----

namespace {
// The worker object whose thread is the calling thread, if any.
thread_local const TOrvDispatcherThread* tCurrentWorker = nullptr;
} // namespace

TOrvDispatcherThread::TOrvDispatcherThread(TOrvDeviceDispatcher& dispatcher)
    : dispatcher_(dispatcher) {}

TOrvDispatcherThread::~TOrvDispatcherThread() {
    Join();
}

bool TOrvDispatcherThread::Start() {
    // StartWorkers has counted this worker already.
    if (!WorkerStartAllowed())
        return false;
    running_ = true;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void TOrvDispatcherThread::Run() {
    tCurrentWorker = this;
    try {
        Execute();
    } catch (...) {
        ShowApplicationException(std::current_exception());
    }
    // The port is released from here only when its close was deferred because handlers
    // were running, however the loop ended (a raising handler that closed included); an
    // ordinary stop is completed by the thread that asked.
    if (ReleasesPort())
        dispatcher_.ReleaseOnExit = dispatcher_.closePending_.load();
    // Counted out before it stops running: a stop that waited for it to stop running
    // finds the worker count lowered, so that a close that returned has ended its
    // workers and an open right after it starts new ones.
    dispatcher_.WorkerEnded(ReleasesPort());
    running_ = false;
}

void TOrvDispatcherThread::Join() {
    if (thread_.joinable() && !IsCurrentThread())
        thread_.join();
}

bool TOrvDispatcherThread::IsCurrentThread() const {
    return tCurrentWorker == this;
}

void TComThread::Execute() {
    auto& d = dispatcher_;
    d.device_.SetEventMask(TOrvDeviceDispatcher::EventWorkerMask());
    d.WorkerAck.Set();
    int emptyWaits = 0; // waits in a row that ended with no event
    do {
        uint32_t word = 0;
        // A device that cannot wait (unplugged, or a driver refusing the event wait)
        // ends this worker instead of retrying in a loop; the dispatcher worker's 50 ms
        // pass still moves the data. So does a wait that ends with no event again and
        // again outside a stop (one such end is a new mask), which would drive both
        // workers round in a tight loop.
        if (!d.device_.WaitEvent(word))
            break;
        emptyWaits = word == 0 ? emptyWaits + 1 : 0;
        if (emptyWaits > 1 && !d.StopRequested)
            break;
        if (word & (ev::Ring | ev::Ring9x))
            d.RingSeen = true;
        d.EventWord = word;
        if (d.StopRequested)
            break;
        d.ComEventReady.Set();
        d.ComEventDone.Wait(kInfinite);
    } while (!d.StopRequested);
    d.WorkerAck.Set();
}

void TDispThread::Execute() {
    auto& d = dispatcher_;
    d.WorkerAck.Set();
    do {
        // While input streams in, the next bytes are read as soon as this pass ends;
        // otherwise the worker wakes on input itself where the device lets it (the event
        // worker then leaves received bytes out of its events), and on the event
        // worker's hand-over. A full ring is not watched: its bytes wait for room.
        // With ReadOnCaller on, the caller watches and reads input: the worker does neither.
        const bool reads = !d.readOnCaller_;
        const uint32_t wait =
            reads && d.InputStreaming ? 0 : TOrvDeviceDispatcher::kDispatchPassMs;
        const int woken = d.device_.WaitEventsOrInput({&d.ComEventReady, &d.InputSpace},
                                                      reads && !d.InputRingFull(), wait);
        const bool signalled = woken == 0;
        if (d.StopRequested)
            break;
        d.ProcessComEvent();
        // Only an event that was handed over is acknowledged: a stray acknowledgement
        // would let the event worker run ahead of the next event's processing.
        if (signalled)
            d.ComEventDone.Set();
        d.CheckStatusAndTimers();
    } while (!d.StopRequested && !d.closePending_);
    d.WorkerAck.Set();
}

void TOutThread::Execute() {
    auto& d = dispatcher_;
    d.WorkerAck.Set();
    do {
        const int which = WaitAny({&d.OutDataReady, &d.OutFlush}, kInfinite);
        if (which == 0) {
            if (d.StopRequested)
                return;
            SendPending();
        } else {
            d.OutFlushAck.Set();
        }
    } while (!d.StopRequested && !d.closePending_);
}

void TOutThread::SendPending() {
    auto& d = dispatcher_;
    for (;;) {
        const uint8_t* piece = nullptr;
        uint32_t length = 0;
        uint64_t purges = 0;
        {
            std::lock_guard lock(d.OutLock);
            length = d.MakeContiguousLocked();
            if (length == 0)
                return;
            piece = d.OutRing.get() + d.OutTail;
            purges = d.OutPurges;
        }
        uint32_t written = 0;
        const IoResult result = d.device_.Write(piece, length, written, d.OutFlush);
        std::lock_guard lock(d.OutLock);
        // A purge that emptied the ring under this write (one that gave up waiting for
        // the acknowledgement) leaves nothing to advance.
        if (d.OutPurges != purges)
            return;
        if (result == IoResult::Failed) {
            d.AdvanceOutTail(length); // the piece is dropped
            continue;
        }
        d.AdvanceOutTail(written);
        if (result == IoResult::Aborted) {
            // The write has ended (on Windows it was cancelled and awaited), so the purge
            // may empty the ring that it wrote from.
            d.OutFlushAck.Set();
            return;
        }
    }
}

// ---- the device dispatcher ----

uint32_t TOrvDeviceDispatcher::EventWorkerMask() {
    return CommDevice::WatchesInput() ? kEventMask & ~ev::RxChar : kEventMask;
}

TOrvDeviceDispatcher::TOrvDeviceDispatcher(TOrvDispatcherOwner* owner)
    : TOrvBaseDispatcher(owner) {}

TOrvDeviceDispatcher::~TOrvDeviceDispatcher() {
    Shutdown();
    for (TOrvDispatcherThread* worker : Workers())
        if (worker)
            worker->Join();
}

std::array<TOrvDispatcherThread*, 3> TOrvDeviceDispatcher::Workers() const {
    return {comThread_.get(), dispThread_.get(), outThread_.get()};
}

bool TOrvDeviceDispatcher::EventsValid() const {
    return ComEventReady.Valid() && ComEventDone.Valid() && WorkerAck.Valid() &&
           OutDataReady.Valid() && OutFlush.Valid() && InputSpace.Valid() &&
           OutFlushAck.Valid() && CallerInputEnd.Valid();
}

void TOrvDeviceDispatcher::RequestInputFill() {
    InputSpace.Set();
}

bool TOrvDeviceDispatcher::DeviceCanWaitInput() const {
    return CommDevice::WatchesInput();
}

bool TOrvDeviceDispatcher::DeviceWaitInput(uint32_t timeoutMs) {
    return device_.WaitEventsOrInput({&CallerInputEnd}, true, timeoutMs) == 1;
}

bool TOrvDeviceDispatcher::EventWorkerRunning() const {
    return comThread_ && comThread_->Running();
}

bool TOrvDeviceDispatcher::OtherWorkersRunning() const {
    for (TOrvDispatcherThread* worker : Workers())
        if (worker && worker->Running() && !worker->IsCurrentThread())
            return true;
    return false;
}

int32_t TOrvDeviceDispatcher::DeviceOpen(const std::string& name, uint32_t, uint32_t) {
    if (!EventsValid())
        return -int32_t(syserr::NotEnoughMemory);
    const uint32_t error = device_.Open(name);
    return error ? -int32_t(error) : 0;
}

int32_t TOrvDeviceDispatcher::DeviceClose(std::chrono::milliseconds limit) {
    CallerInputEnd.Set();
    if (workersActive_) {
        StopRequested = true;
        device_.SetEventMask(0);
        ComEventDone.Set();
        WorkerAck.Reset();
    }
    const uint32_t error = device_.Close(limit);
    // A worker's call did not leave the device: that worker is not waited for again.
    if (error == syserr::TimedOut)
        workersLetGo_ = true;
    return error ? -int32_t(error) : 0;
}

int32_t TOrvDeviceDispatcher::DeviceEscape(uint32_t func) {
    // Lines a device cannot drive (a pseudo-terminal has none) are left as they are.
    device_.Escape(func);
    return 0;
}

int32_t TOrvDeviceDispatcher::DevicePurge(TPurgeWhich which, std::chrono::milliseconds waitLimit) {
    bool ok;
    if (which == pwOutput) {
        // Only the output worker acknowledges: the purge goes on once it has left
        // its write, so that write cannot advance the emptied ring.
        if (outThread_ && outThread_->Running() && !outThread_->IsCurrentThread()) {
            OutFlushAck.Reset();
            OutFlush.Set();
            const auto wait =
                std::min<std::chrono::milliseconds::rep>(waitLimit.count(), kPurgeWaitMs);
            OutFlushAck.Wait(uint32_t(wait));
        }
        {
            std::lock_guard lock(OutLock);
            OutRingFull = false;
            OutHead = OutTail = 0;
            ++OutPurges;
        }
        ok = device_.Purge(purge::TxAbort | purge::TxClear);
    } else {
        ok = device_.Purge(purge::RxAbort | purge::RxClear);
    }
    return ok ? 0 : -int32_t(LastError());
}

uint32_t TOrvDeviceDispatcher::DeviceStatus(CommStatus& status) {
    // The pending output is the ring's, not the driver's.
    const uint32_t errors = device_.ClearError(status, false);
    std::lock_guard lock(OutLock);
    status.OutQue = OutPendingLocked();
    return errors;
}

int32_t TOrvDeviceDispatcher::DeviceErrorHook(int32_t) {
    return 0;
}

int32_t TOrvDeviceDispatcher::DeviceGetState(DeviceState& state) {
    return device_.GetState(state) ? 0 : -1;
}

int32_t TOrvDeviceDispatcher::DeviceSetState(const DeviceState& state) {
    return device_.SetState(state) ? 0 : -int32_t(LastError());
}

int32_t TOrvDeviceDispatcher::DeviceRead(uint8_t* buffer, uint32_t count) {
    return std::max<int32_t>(device_.Read(buffer, count), 0);
}

int32_t TOrvDeviceDispatcher::DeviceWrite(const uint8_t* data, uint32_t count) {
    std::lock_guard lock(OutLock);
    // With nothing pending the output worker is not writing (it advances OutTail only once
    // its write has ended), so the driver gets this block before anything queued later.
    // QueueBlock marks the ring full when the block fills it, which an empty ring does only
    // for a block of the ring's size.
    const bool idle = OutHead == OutTail && (!OutRingFull || count == OutQueueSize);
    if (writeAtOnce_ && idle) {
        const uint32_t taken = device_.TryWrite(data, count);
        if (taken > 0)
            OutRingFull = false; // the rest, if any, is smaller than the ring
        if (taken == count)
            return ecOK;
        data += taken;
        count -= taken;
    }
    const uint32_t size = OutQueueSize;
    const uint32_t room = size - OutHead;
    if (count > room) {
        std::memcpy(OutRing.get() + OutHead, data, room);
        std::memcpy(OutRing.get(), data + room, count - room);
        OutHead = count - room;
    } else {
        std::memcpy(OutRing.get() + OutHead, data, count);
        OutHead += count;
        if (OutHead == size)
            OutHead = 0;
    }
    OutDataReady.Set();
    return ecOK;
}

bool TOrvDeviceDispatcher::DeviceSetupQueues(uint32_t inSize, uint32_t outSize) {
    return device_.SetupQueues(inSize, outSize);
}

int32_t TOrvDeviceDispatcher::DeviceYield() {
    YieldThread();
    return 0;
}

uint32_t TOrvDeviceDispatcher::DeviceModemStatus() {
    uint32_t status = 0;
    return device_.GetModemStatus(status) ? status : 0;
}

// ---- starting and stopping the workers ----

bool TOrvDeviceDispatcher::StartWorkers() {
    {
        std::lock_guard lock(MainLock);
        if (workersActive_)
            throw Exception("Dispatcher already started");
        workersActive_ = true;
        StopRequested = false;
    }
    for (TOrvDispatcherThread* worker : Workers())
        if (worker)
            worker->Join(); // threads of an earlier start have ended
    comThread_ = std::make_unique<TComThread>(*this);
    dispThread_ = std::make_unique<TDispThread>(*this);
    outThread_ = std::make_unique<TOutThread>(*this);
    // All three are counted before the first one runs. A worker that ends at once (the
    // event worker, when the driver refuses the event wait) would otherwise bring the
    // count to 0 while the others are still to start: WorkersActive would be cleared,
    // every later stop would skip the workers, and the destructor would wait for them
    // for ever.
    const auto workers = Workers();
    for (size_t i = 0; i < workers.size(); ++i)
        WorkerStarted();
    for (size_t i = 0; i < workers.size(); ++i) {
        if (!workers[i]->Start()) {
            // This one and the ones after it never run: uncount them. The caller closes
            // the port, which stops those already running.
            WorkersNotStarted(int32_t(workers.size() - i));
            return false;
        }
        WorkerAck.Wait(kWorkerStartMs); // a time-out is not an error
    }
    std::lock_guard lock(MainLock);
    ApplyWorkerPriorities();
    return true;
}

void TOrvDeviceDispatcher::StopWorkers() {
    {
        std::lock_guard lock(MainLock);
        if (!workersActive_)
            return;
        StopRequested = true;
    }
    // No lock is held while waiting: a worker may itself be waiting for MainLock.
    StopThread(
        outThread_.get(), [this] { OutFlush.Set(); }, kPurgeWaitMs);
    StopThread(
        comThread_.get(),
        [this] {
            device_.SetEventMask(0);
            ComEventDone.Set();
            WorkerAck.Reset();
        },
        kPurgeWaitMs);
    // Woken at once rather than left to finish its 50 ms wait; it may still be
    // calling a handler, which gets two bounded waits to return.
    StopThread(
        dispThread_.get(), [this] { ComEventReady.Set(); }, kStopWaitMs);
    StopThread(
        dispThread_.get(), [this] { ComEventReady.Set(); }, kStopWaitMs);
    // A worker that is still running (a handler that does not return) ends by itself
    // later; the destructor waits for it.
}

void TOrvDeviceDispatcher::StopThread(TOrvDispatcherThread* worker,
                                      const std::function<void()>& wake, uint32_t timeoutMs) {
    if (!worker || worker->IsCurrentThread() || !worker->Running())
        return;
    wake();
    // After a close that gave up on a call the workers are woken only: one of them may
    // never return, and the others end by themselves.
    PumpUntil([worker] { return !worker->Running(); }, workersLetGo_ ? 0 : timeoutMs);
}

void TOrvDeviceDispatcher::ApplyWorkerPriorities() {
    const int base = tpNormal + WorkerBoost;
    if (comThread_)
        SetThreadPriority(comThread_->Thread(), base);
    if (dispThread_)
        SetThreadPriority(dispThread_->Thread(), base);
    if (outThread_)
        SetThreadPriority(outThread_->Thread(), base + (RS485On ? 1 : 0));
}

} // namespace orvi
