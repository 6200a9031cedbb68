#pragma once
// The device-independent dispatcher: the engine under the com port component.
//
// A dispatcher is created by the component for one open of one port and destroyed
// when the port closes. It owns the input ring (always 8192 bytes) that the dispatcher
// worker fills from the device, the output ring that the component fills and the
// output worker empties, the line settings, the accumulated line errors and modem
// status, the trigger and handler lists, and the trace and dispatch log.
//
// Every operation returns an integer result: 0 or a documented positive value on
// success, a negative result code (serial/ErrorCodes.h) on failure.
//
// Threads and locks:
//   - the owning (main) thread creates, opens, closes and destroys the dispatcher and
//     calls the component's operations;
//   - the dispatcher worker fills the input ring, checks triggers and calls handlers;
//     handlers may call TakeByte, InputCount and QueueBlock; with ReadOnCaller on, the
//     thread in WaitAndRead fills the ring instead (the fill order keeps one fill at a
//     time), and the worker checks only status and timer triggers;
//   - the output worker touches only the output ring and its indexes (under OutLock);
//   - the event worker waits for communication events and hands EventWord over to the
//     dispatcher worker through ComEventReady / ComEventDone.
//   MainLock guards the device state, the DTR/RTS and flow fields, ModemStatus,
//   LineErrors as read by TakeLineError/TakeLineBreak, the trigger and handler lists,
//   the trace and the log. OutLock guards OutRing and its indexes and the status
//   refresh that computes the pending count. InLock guards the input ring (TInputRing).
//   All three are re-entrant. Order: the input ring's fill order (held by the fill across
//   its device read, and by PurgeInput) comes before InLock; InLock may be held while
//   OutLock or MainLock is taken; QueueBlock leaves OutLock before it takes MainLock;
//   nothing holds MainLock while it waits for a worker. A dispatch's end and ClosePort's
//   "defer or release" both happen under MainLock, so a close is never deferred to a
//   worker that has already decided not to release.
//   The fill order is held by the dispatcher worker while it reads the device (a read
//   never waits for data: on POSIX it returns at once; on Windows a read still pending
//   after 20 ms is cancelled, its end awaited for at most 1 s, kReadCancelLimitMs in
//   CommDevice_win32.cpp, and then given up on) and, when the dispatch log is on, while
//   it waits for the trace-log lock, which another thread may hold while it writes the
//   log file. So PurgeInput waits at most that long for the fill, and never more than
//   platform::CallGate::kShutLimit (3 s): then it purges without the order (see
//   PurgeInput). Besides, it takes InLock, which nobody holds across a device read or a
//   wait for a worker.
#include "platform/Clock.h"
#include "platform/CommDevice.h"
#include "platform/Event.h"
#include "platform/MessageTarget.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "serial/dispatch/InputRing.h"
#include "serial/dispatch/TraceLog.h"
#include "serial/dispatch/Triggers.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvi {

class TOrvBaseDispatcher;
class TOrvDispatcherThread;

// The accumulated line errors use the device's error bits (platform::ce).
constexpr uint32_t kLineErrorBits = 0x1F;

// Option bits given to OpenPort.
namespace openopt {
constexpr uint32_t DtrOn = 0x01;
constexpr uint32_t RtsOn = 0x02;
constexpr uint32_t DtrByFlow = 0x10;
constexpr uint32_t RtsByFlow = 0x20;
} // namespace openopt

// What DevicePurge discards.
enum TPurgeWhich : uint32_t {
    pwOutput = 0, // pending output
    pwInput = 1,  // pending input
};

// A copy of the ring indexes, for tests and diagnostics.
struct RingState {
    uint32_t InHead = 0, InTail = 0;
    bool InRingFull = false;
    uint32_t OutHead = 0, OutTail = 0;
    bool OutRingFull = false;
    uint64_t OutPurges = 0; // output purges so far: a write that overlapped one drops its piece
    uint32_t OutQueueSize = 0;
};

// The owner of a dispatcher (the com port component); opaque to the dispatcher.
class TOrvDispatcherOwner {
public:
    virtual ~TOrvDispatcherOwner() = default;
};

class TOrvBaseDispatcher {
public:
    explicit TOrvBaseDispatcher(TOrvDispatcherOwner* owner);
    virtual ~TOrvBaseDispatcher();
    TOrvBaseDispatcher(const TOrvBaseDispatcher&) = delete;
    TOrvBaseDispatcher& operator=(const TOrvBaseDispatcher&) = delete;

    // ---- life cycle and data path ----
    int32_t OpenPort(const std::string& name, int32_t baud, int32_t parity, int32_t dataBits,
                     int32_t stopBits, uint32_t inSize, uint32_t outSize, uint32_t options);
    // 0, or the negative code of the device's close (a negated system error). One limit,
    // platform::CallGate::kShutLimit (3 s), bounds all the close waits for in the device:
    // the output worker leaving its write, a fill's device read, the calls still inside
    // the device. When one of them did not end within it (a driver that never ends a
    // cancelled request) the close gives up on it: the result is the negated
    // platform::syserr::TimedOut, the device keeps its handles for that call, and the
    // dispatcher lets go of its workers (WorkersLetGo) instead of waiting for them; a
    // let-go worker that comes back calls no handler. Otherwise a close that returned has
    // ended its workers (WorkerCount 0, WorkersActive false), unless it was deferred to
    // a handler that is running (ClosePending).
    int32_t ClosePort();
    // Adds the device's new line errors to LineErrors and returns the status.
    platform::CommStatus RefreshCommStatus();
    // Bytes the calling thread may take now: those the dispatcher worker has filled
    // and passed to the data triggers, less those the current handler took in a
    // dispatch. During a data dispatch only the thread running the handler sees any.
    // Holds only InLock, and no lock while the ring is empty; the dispatcher worker
    // alone reads the device.
    uint32_t InputCount();
    // The n-th byte (1 = the next) that the calling thread's takes would give, left in
    // the ring: exactly what a take would take (in a dispatch, only its handler sees any).
    int32_t PeekByte(uint32_t n, uint8_t& byte);
    int32_t TakeByte(uint8_t& byte);
    // Takes exactly `len` bytes, or none with -3005 when fewer are waiting.
    int32_t TakeBlock(uint8_t* data, uint32_t len);
    int32_t QueueBlock(const uint8_t* data, uint32_t len);
    uint32_t OutputUsed();
    uint32_t OutputFree();
    // Discards the input received so far: the bytes in the input ring and in the driver.
    // It may drop any byte that arrived before it returned, and never drops one that
    // arrives after it returned: a fill's device read lies wholly before the purge (its
    // bytes are dropped with the ring) or wholly after it (they are kept). A purge is
    // final: it never returns a byte that was in the ring when it was called, also when
    // it comes during a dispatch whose handler then raises or closes; the handlers of that
    // dispatch get nothing more. It blocks while a fill reads the device (see the head
    // comment), at most platform::CallGate::kShutLimit: a read that outlasts it is left
    // out (its bytes, should it ever return, are kept), the rest is purged, and the result
    // is the negated platform::syserr::TimedOut.
    int32_t PurgeInput();
    int32_t PurgeOutput();
    bool FillInputRing();

    // ---- line settings and line status ----
    int32_t SetLineSettings(int32_t baud, int32_t parity, int32_t dataBits, int32_t stopBits);
    void GetLineSettings(int32_t& baud, int32_t& parity, int32_t& dataBits, int32_t& stopBits);
    int32_t SetQueueSizes(uint32_t inSize, uint32_t outSize);
    int32_t SetDtr(int32_t on);
    int32_t SetRts(int32_t on);
    int32_t SetHardwareFlow(uint32_t full, uint32_t resume, uint32_t options);
    int32_t SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t options);
    int32_t ClearSoftwareFlow();
    int32_t SetFlowChars(uint8_t xonChar, uint8_t xoffChar);
    void GetFlowSettings(uint32_t& hwOptions, uint32_t& swOptions, uint8_t& xonChar,
                         uint8_t& xoffChar);
    void SetOptionBits(uint32_t bits);
    void ClearOptionBits(uint32_t bits);
    uint32_t ReadModemStatus(uint32_t keep);
    void MarkModemDeltas();
    int32_t TakeLineError();
    bool TakeLineBreak();
    // The device state as last read or written (under MainLock).
    platform::DeviceState GetDeviceState();
    // How long DrainAndSettle sleeps after the output drained, in milliseconds.
    static uint32_t SettleTimeMs(uint32_t baudRate, const platform::DeviceState& state);
    static uint32_t BaudFromCode(uint32_t code);

    // ---- writing on the caller's thread ----
    // When on, QueueBlock hands a block to the driver on the calling thread while nothing
    // is pending in the output ring, and leaves to the output worker only what the driver
    // did not take at once (POSIX; on Windows the output worker writes everything). The
    // bytes and their order are the same; a program that waits for a reply to every
    // request saves the hand-over to the output worker. Off when the dispatcher is made.
    void SetWriteAtOnce(bool on) { writeAtOnce_ = on; }
    bool WriteAtOnce() const { return writeAtOnce_.load(); }

    // ---- reading on the caller's thread ----
    // When on, the thread that waits for input reads the device itself (WaitAndRead), and
    // the dispatcher worker neither watches nor reads input any more: a reply reaches the
    // waiting thread without a hand-over from the worker. Bytes read this way are takeable
    // at once and no data trigger sees them; status and timer triggers go on as before.
    // Only where a thread can wait for the device's input (POSIX): elsewhere turning it on
    // returns false and changes nothing. Off when the dispatcher is made; best turned on
    // before any input is awaited (a wait the worker began before it still reads once).
    bool SetReadOnCaller(bool on);
    bool ReadOnCaller() const { return readOnCaller_.load(); }
    // With ReadOnCaller on: waits at most `timeoutMs` for bytes in the driver (whatever the
    // ring holds already), reads what waits into the input ring and returns the bytes
    // takeable now. Without it, the bytes takeable now, at once. One thread at a time.
    uint32_t WaitAndRead(uint32_t timeoutMs);

    // ---- RS-485 and worker priorities ----
    void SetRS485(bool on);
    virtual void SetWorkerBoost(uint8_t boost);

    // ---- triggers and handlers ----
    TOrvTriggers& Triggers() { return triggers_; }
    virtual void SetHandlerFlags(THandlerMode mode);

    // ---- trace and log ----
    TOrvTraceLog& TraceLog() { return traceLog_; }

    // ---- identity ----
    int32_t Handle() const { return handle_; }
    TOrvDispatcherOwner* Owner() const { return owner_; }
    const std::string& DeviceName() const { return deviceName_; }
    // The port name of the log's header, "COM5"; set by the component after creation.
    void SetDeviceName(const std::string& name) {
        deviceName_ = name;
        traceLog_.SetDeviceName(name);
    }
    bool IsOpen() const { return deviceOpen_.load(); }

    // Destroys `dispatcher`; one that let go of workers still running is kept instead, for
    // they still use its memory, and destroyed by a later call once they have all ended
    // (kept ones are never destroyed while a worker runs; at exit they are left). The
    // owner removes its window first (Triggers), so that a late worker reaches no one.
    // Owning thread only.
    static void Dispose(std::unique_ptr<TOrvBaseDispatcher> dispatcher);

    // ---- worker state (for the component's deferred close) ----
    // True once a close gave up on a worker's device call (see ClosePort).
    bool WorkersLetGo() const { return workersLetGo_.load(); }
    int32_t WorkerCount() const { return workerCount_.load(); }
    bool WorkersActive() const { return workersActive_.load(); }
    bool ClosePending() const { return closePending_.load(); }
    bool InDispatch() const { return inDispatch_.load(); }

    RingState Rings();
    uint32_t LineErrors();
    uint32_t ModemStatus();
    int32_t CurrentBaud();

    // The dispatcher worker's two steps of every pass.
    void ProcessComEvent();
    void CheckStatusAndTimers();

protected:
    // Closes the port and waits for every worker to end (without a limit: a dispatcher
    // that let go of its workers is destroyed through Dispose, once they have ended).
    // Every concrete dispatcher class calls it first in its destructor: the workers call
    // virtual operations, so they must have ended before any part of the object is
    // destroyed. Calling it again does nothing.
    void Shutdown();

    // ---- device operations, implemented by the device layer ----
    // The result rule of the device layer: 0 on success (or, where said, a count or a
    // word that cannot be negative), or a negative code of serial/ErrorCodes.h (a
    // negated system error among them). A failure is never a positive value, and a
    // count is never negated.
    //   DevicePurge    0 or the negated system error; an output purge waits for the output
    //                  worker to leave its write at most `waitLimit` (and its own limit);
    //   DeviceRead     the bytes read (0: none waiting), or a negative code;
    //   DeviceWrite    0 when all `count` bytes were queued, or a negative code (none was);
    //   DeviceGetState, DeviceSetState, DeviceClose   0 or a negative code; DeviceClose
    //                  waits at most `limit` for the calls still inside the device;
    //   DeviceStatus   the driver's line-error word (ce:: bits), never a code.
    virtual int32_t DeviceEscape(uint32_t func) = 0;
    virtual int32_t DevicePurge(TPurgeWhich which, std::chrono::milliseconds waitLimit) = 0;
    virtual uint32_t DeviceStatus(platform::CommStatus& status) = 0;
    virtual int32_t DeviceErrorHook(int32_t code) = 0;
    virtual int32_t DeviceGetState(platform::DeviceState& state) = 0;
    virtual int32_t DeviceRead(uint8_t* buffer, uint32_t count) = 0;
    virtual int32_t DeviceSetState(const platform::DeviceState& state) = 0;
    virtual int32_t DeviceWrite(const uint8_t* data, uint32_t count) = 0;
    virtual bool DeviceSetupQueues(uint32_t inSize, uint32_t outSize) = 0;
    virtual void ReleasePort();
    // False when a worker thread could not be created (those started still run).
    virtual bool StartWorkers() = 0;
    virtual void StopWorkers() = 0;
    // Returns 0 on success, -8 when the device layer could not create its events,
    // or the negated system error of the open.
    virtual int32_t DeviceOpen(const std::string& name, uint32_t inSize, uint32_t outSize) = 0;
    virtual int32_t DeviceClose(std::chrono::milliseconds limit) = 0;
    virtual int32_t DeviceYield() = 0;
    // The modem input lines (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80); 0 where unknown.
    virtual uint32_t DeviceModemStatus() = 0;
    // True while a worker other than the calling thread still runs.
    virtual bool OtherWorkersRunning() const = 0;
    // Raise or lower a worker's priority; the device layer owns the threads.
    virtual void ApplyWorkerPriorities() {}
    // True on the Windows 9x family (RS-485 by direct port access); never here.
    virtual bool Is9xFamily() const { return false; }

    void AllocateRings(uint32_t inSize, uint32_t outSize);
    void InitialiseLines(uint32_t options);
    // Reads up to `count` waiting bytes into the ring's free space at `at` and logs
    // them; the dispatcher worker only, without InLock (the free space is its own).
    uint32_t ReadIntoRing(uint8_t* at, uint32_t count);
    int32_t TakeBytes(uint8_t* data, uint32_t len, bool block);
    // PurgeInput, waiting for the fill order until `until`; `ordered` false when it purged
    // without it.
    int32_t PurgeInputWithin(std::chrono::steady_clock::time_point until, bool& ordered);
    // Asks the dispatcher worker for a pass now: room was made for bytes that the
    // driver still holds.
    virtual void RequestInputFill() {}
    // True where a thread other than the worker can wait for the device's input.
    virtual bool DeviceCanWaitInput() const { return false; }
    // Waits at most `timeoutMs` for bytes in the driver; true when some wait. A device
    // that is not watched (closed, hung up) still makes it wait its time.
    virtual bool DeviceWaitInput(uint32_t) { return false; }
    bool RunStatusChecks(); // false when a handler asked to close
    // Runs `check` while it reports a fired trigger; false as soon as a handler asked
    // for the close (the pass ends there).
    template <class Check> bool RunUntilQuiet(Check check);
    void ClearStatusHits();
    void DrainAndSettle();
    int32_t WriteDeviceState(platform::DeviceState& state);
    static uint8_t StopBitCode(uint8_t current, uint8_t byteSize, int32_t stopBits);

    // Ring helpers for the device layer (caller holds OutLock).
    uint32_t OutPendingLocked() const;
    void AdvanceOutTail(uint32_t n);

    // True while the fill has no room in the input ring: the worker then stops watching
    // for input until takers make room.
    bool InputRingFull() {
        std::lock_guard lock(InLock);
        return inRing_.NeedsRoom();
    }

    // Bookkeeping shared with the device layer and the workers.
    void WorkerStarted();
    // Takes back the count of `n` workers whose threads were never created.
    void WorkersNotStarted(int32_t n);
    // Last act of every worker. `isDispatcherWorker` releases the port when the worker
    // was asked to (deferred close).
    void WorkerEnded(bool isDispatcherWorker);
    // Runs pending messages of the calling thread until `done` or `timeoutMs` passes
    // (platform::kInfinite: no limit). Returns done().
    template <class Pred> bool PumpUntil(Pred done, uint32_t timeoutMs);
    // Makes the pending output one piece starting at OutTail (rotating the ring when
    // the data wraps) and returns its length; 0 when nothing is pending. OutLock held.
    uint32_t MakeContiguousLocked();

    friend class TOrvTriggers;
    friend class TOrvDispatcherThread;

    // ---- fields ----
    TOrvDispatcherOwner* owner_;
    int32_t handle_ = -1;
    std::atomic<bool> deviceOpen_{false};

    std::recursive_mutex MainLock;
    std::recursive_mutex OutLock;
    std::recursive_mutex InLock;
    // One ReleasePort at a time (main thread or dispatcher worker). Re-entrant: the
    // release serves window messages while it waits for the workers, and a message
    // handler may close (and so release) again on the same thread.
    std::recursive_mutex releaseLock_;

    // MainLock
    platform::DeviceState DeviceState_;
    int32_t CurrentBaud_ = 115200;
    uint32_t OptionBits = 0;
    bool DtrOn = false, DtrByFlow = false, RtsOn = false, RtsByFlow = false;
    std::atomic<bool> RS485On{false};
    uint16_t PortBaseAddress = 0;
    uint32_t ModemStatus_ = 0;
    std::atomic<bool> RingSeen{false};
    uint8_t WorkerBoost = 0;
    std::atomic<bool> OutputSent{false};
    std::atomic<bool> writeAtOnce_{false}; // read by DeviceWrite under OutLock
    std::atomic<bool> readOnCaller_{false}; // read by the dispatcher worker every pass

    // LineErrors is updated by the status refresh under the caller's lock (InLock or
    // OutLock) and read under MainLock, so it is atomic.
    std::atomic<uint32_t> LineErrors_{0};
    platform::CommStatus CommStatus_; // OutLock
    uint32_t InQueueSize = 0;
    uint32_t OutQueueSize = 0;

    // OutLock
    std::unique_ptr<uint8_t[]> OutRing;
    uint32_t OutHead = 0, OutTail = 0;
    bool OutRingFull = false;
    uint64_t OutPurges = 0; // output purges so far: a write that overlapped one drops its piece

    // InLock (its fill order aside, see InputRing.h)
    TInputRing inRing_;
    // The last fill read a stream's worth (kStreamingRead or more) and the ring has
    // room: the dispatcher worker passes again at once (unless the caller reads, see
    // ReadOnCaller). Read by the worker without InLock.
    std::atomic<bool> InputStreaming{false};
    static constexpr uint32_t kStreamingRead = 512;

    // Cross-thread flags.
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> closePending_{false};
    std::atomic<bool> inDispatch_{false};
    std::atomic<bool> ReleaseOnExit{false};
    std::atomic<bool> workersActive_{false};
    // Set by the device layer's close when it gave up on a call still in progress: from
    // then on nothing waits for the workers, and the owner disposes of the dispatcher
    // with Dispose, which keeps it alive until they have ended.
    std::atomic<bool> workersLetGo_{false};
    std::atomic<int32_t> workerCount_{0};
    std::atomic<uint32_t> EventWord{0};

    TOrvTriggers triggers_;
    TOrvTraceLog traceLog_;
    std::string deviceName_;
};

template <class Pred> bool TOrvBaseDispatcher::PumpUntil(Pred done, uint32_t timeoutMs) {
    const uint32_t start = platform::TickCount();
    while (!done()) {
        if (timeoutMs != platform::kInfinite && platform::TickCount() - start >= timeoutMs)
            return done();
        ProcessOnePendingMessage();
    }
    return true;
}

} // namespace orvi
