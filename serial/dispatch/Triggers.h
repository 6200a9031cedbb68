#pragma once
// Triggers and handlers of a dispatcher: the data-available threshold, data triggers
// (received byte sequences), timer triggers, status triggers, and the window,
// procedure and event handlers that the dispatcher worker calls when one fires.
//
// Threads: the checks and the dispatch run on the dispatcher worker only; the lists
// change on the owning thread under the dispatcher's MainLock. The worker reads and
// updates trigger records under MainLock too, but never holds it while it calls a
// handler. During a dispatch the handler lists are walked without the lock, so
// removals are only marked and purged at its end (std::list keeps the walked nodes
// valid while others are appended).
#include "platform/MessageTarget.h"
#include "serial/Utilities.h"
#include "serial/dispatch/TraceLog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvi {

class TOrvBaseDispatcher;

// Trigger messages; the second parameter's high word carries the dispatcher's handle.
constexpr uint32_t MsgTriggerAvail = 0x7E01;
constexpr uint32_t MsgTriggerData = 0x7E02;
constexpr uint32_t MsgTriggerTimer = 0x7E03;
constexpr uint32_t MsgTriggerStatus = 0x7E04;

// What SetHandlerFlags does.
enum THandlerMode : int32_t {
    hmRecompute = 0,      // handlers are active when any is registered or the port handler is on
    hmPortHandlerOn = 1,  // the component has trigger events: its window handler is called too
    hmPortHandlerOff = 2, // it has none
};

// Status trigger types; a status trigger's handle carries its type in the low 3 bits.
enum TStatusType : uint32_t {
    stNone = 0,
    stModem = 1,
    stLine = 2,
    stOutBuffFree = 3,
    stOutBuffUsed = 4,
    stOutSent = 5,
};

constexpr int32_t kMaxDataTriggerLength = 22; // one match slot per sequence byte

struct TTimerTrigger {
    int32_t Handle;
    TickTimer Timer;
    uint8_t Carried[8]; // kept unchanged
    int32_t Active;     // non-zero: armed
};
static_assert(sizeof(TTimerTrigger) == 24);

struct TDataTrigger {
    int32_t Handle;
    int32_t Length; // 0: inactive
    int32_t Slots[22];
    int32_t Matched; // -1 or 0
    int32_t IgnoreCase;
    uint8_t Sequence[24]; // upper case when IgnoreCase
};
static_assert(sizeof(TDataTrigger) == 128);

struct TStatusTrigger {
    int32_t Handle;
    uint32_t Type;
    uint16_t Value;
    bool Active;
    bool Hit; // already fired in this pass
};
static_assert(sizeof(TStatusTrigger) == 12);

// Triggers kept by the component across a close and reopen.
struct TTriggerSnapshot {
    int32_t AvailThreshold = 0;
    std::optional<std::vector<TTimerTrigger>> Timers;
    std::optional<std::vector<TDataTrigger>> Data;
    std::optional<std::vector<TStatusTrigger>> Status;
};

// Advances the partial matches of a data trigger by one received byte; true when the
// byte completes the sequence (every slot then returns to idle).
bool MatchByte(TDataTrigger& trigger, uint8_t byte);

using TTriggerProc = void (*)(uint32_t msg, uint32_t trigger, uint32_t param);
using TTriggerEvent = std::function<void(uint32_t msg, uint32_t trigger, uint32_t param)>;

class TOrvTriggers {
public:
    explicit TOrvTriggers(TOrvBaseDispatcher& dispatcher);

    // ---- handlers ----
    void AddNotifyWindow(platform::WindowHandle window);
    void RemoveNotifyWindow(platform::WindowHandle window);
    void AddProcHandler(TTriggerProc proc);
    void RemoveProcHandler(TTriggerProc proc);
    // Returns an id for RemoveEventHandler. A synchronised handler runs on the thread
    // that owns the dispatcher while the worker waits.
    int32_t AddEventHandler(TTriggerEvent handler, bool synchronised);
    void RemoveEventHandler(int32_t id);
    void SetHandlerFlags(THandlerMode mode);
    bool HandlersActive() const { return handlersActive_.load(); }

    // ---- triggers ----
    void SetAvailThreshold(int32_t bytes);
    int32_t AvailThreshold();
    // Each returns the new handle, or a trigger result code (-5001 no more slots,
    // -5002 sequence too long or empty, -5003 bad handle or type).
    int32_t AddTimerTrigger();
    int32_t AddDataTrigger(const std::string& sequence, bool ignoreCase);
    int32_t AddStatusTrigger(uint32_t type);
    int32_t SetTimerTrigger(int32_t handle, int32_t ticks, bool activate);
    int32_t SetStatusTrigger(int32_t handle, uint16_t value, bool activate);
    int32_t RemoveTrigger(int32_t handle);

    // At open: threshold 0, every trigger removed, next handle 1.
    void ClearTriggers();
    // At open: data scanning starts at the ring's start.
    void ResetScan();
    void ResetStatusHits();
    void ResetDataMatches();
    bool StatusHit() const { return statusHit_; }
    void ClearStatusHitFlag() { statusHit_ = false; }

    void SaveTriggers(TTriggerSnapshot& snapshot);
    void RestoreTriggers(const TTriggerSnapshot& snapshot);
    static void FreeTriggerSnapshot(TTriggerSnapshot& snapshot);

    // ---- checks (dispatcher worker) ----
    bool CheckDataTriggers();
    bool CheckTimerTriggers();
    bool CheckStatusTriggers();
    bool CallHandlers(uint32_t msg, uint32_t trigger, uint32_t value);

private:
    struct WindowHandler {
        platform::WindowHandle Window;
        std::atomic<bool> Deleted{false};
    };
    struct ProcHandler {
        TTriggerProc Proc;
        std::atomic<bool> Deleted{false};
    };
    struct EventHandler {
        int32_t Id;
        TTriggerEvent Handler;
        bool Synchronised;
        std::atomic<bool> Deleted{false};
    };

    int32_t NextHandle(uint32_t type);
    template <class List> bool CallList(List& list, uint32_t msg, uint32_t trigger, uint32_t param);
    // Advances the ring by what the handlers took (when the dispatch completed), leaves peek
    // mode and the dispatch; the result CallHandlers returns.
    bool EndDispatch(bool completed, bool peek, uint32_t msg, uint32_t trigger);
    bool CallOne(const EventHandler& h, uint32_t msg, uint32_t trigger, uint32_t param);
    bool CallOne(const ProcHandler& h, uint32_t msg, uint32_t trigger, uint32_t param);
    bool CallOne(const WindowHandler& h, uint32_t msg, uint32_t trigger, uint32_t param);
    void PurgeDeletedHandlers();
    bool AnyHandlers() const;
    bool FindStatusTrigger(int32_t& handle, uint32_t& reported);
    // Feeds unscanned bytes to the data triggers up to the first completed sequence;
    // true when one completed. Caller holds InLock and MainLock.
    bool ScanLocked(uint32_t& longest);
    bool DispatchMatch(int32_t threshold, uint32_t before, uint32_t longest, uint64_t matchEnd,
                       uint64_t purges);
    // A dispatch in three steps: entering it (InLock and MainLock held, so that a count
    // taken under the same locks is still true when the handlers run), calling the
    // handlers, leaving it. Peekers see bytes below `peekEnd` only. A dispatch for a match
    // is skipped when an input purge came after the match (`purges`: the count then).
    static constexpr uint64_t kAnyPurges = UINT64_MAX;
    bool Dispatch(uint32_t msg, uint32_t trigger, uint32_t value, uint64_t peekEnd,
                  uint64_t purges);
    void BeginDispatchLocked(uint32_t msg, uint64_t peekEnd);
    bool RunDispatch(uint32_t msg, uint32_t trigger, uint32_t value);
    // The thread that calls this runs the next handler (`window`: the window's thread does).
    void SetPeeker(platform::WindowHandle window);
    // Lets other takers at the ring again when the dispatches of one match are over.
    struct TakeHoldRelease {
        explicit TakeHoldRelease(TOrvBaseDispatcher& d) : d_(d) {}
        ~TakeHoldRelease();
        TOrvBaseDispatcher& d_;
    };
    void Log(TLogEntry entry, uint32_t data);

    TOrvBaseDispatcher& dispatcher_;

    // MainLock
    std::list<WindowHandler> windows_;
    std::list<ProcHandler> procs_;
    std::list<EventHandler> events_;
    std::vector<TTimerTrigger> timers_;
    std::vector<TDataTrigger> data_;
    std::vector<TStatusTrigger> status_;
    int32_t availThreshold_ = 0;
    int32_t nextHandle_ = 1;
    int32_t nextEventId_ = 1;
    bool portHandlerOn_ = false;
    bool handlersDeleted_ = false;
    std::atomic<bool> handlersActive_{false};

    // Dispatcher worker only.
    uint64_t lastAvailScan_ = 0; // the scan count of the last data-available notification
    bool callWindows_ = false;   // of the dispatch in progress
    bool statusHit_ = false;
    std::vector<std::pair<int32_t, uint32_t>> matched_; // handle, length; reused
};

} // namespace orvi
