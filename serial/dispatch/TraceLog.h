#pragma once
// The dispatcher's two optional records of the traffic and their text files:
//   - the trace: every byte taken by the component ('R') and queued for sending ('T'),
//     as (kind, byte) pairs in a circular buffer of a fixed number of entries;
//   - the dispatch log: time-stamped entries (device reads and writes, trigger
//     notifications, handler changes) with their data bytes, in a circular byte buffer
//     that drops whole oldest entries when full.
// Recording never allocates and never touches a file; buffers are allocated when a
// trace or log starts.
//
// A file that cannot be opened, written or closed is reported as the negated system
// error number (Windows numbering). After a failed trace write the trace is stopped;
// after a failed log write every entry is still held and logging is off, so the log can
// be written again to another file.
//
// Threads: recording is called from the main thread and the dispatcher worker (under
// the dispatcher's InLock or after its OutLock was left); starting, stopping and
// writing from the main thread. lock_ guards every field; it is a leaf lock (nothing
// else is locked while it is held; only the clock, the message table and the file
// writes are called under it), so recording can be called under any of the dispatcher's locks.
// Writing a file holds it for the whole write; recording is off meanwhile. TraceOn/LogOn are also
// readable without the lock for the callers' cheap "is it on" test.
#include "platform/SystemInfo.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace orvi {

// The log entries the dispatcher records: the entry's type in the high byte, its subtype
// in the low byte. Their names are messages 15001 + type and 15100 + subtype.
enum TLogEntry : uint16_t {
    leReadCom = 0x0101,        // Dispatch, ReadCom: a device read (data: count; its bytes)
    leWriteCom = 0x0102,       // Dispatch, WriteCom: a queued block (data: count; its bytes)
    leTriggerAvail = 0x0205,   // Trigger, Avail: data-available notification (bytes reported)
    leTriggerTimer = 0x0206,   // Trigger, Timer: timer trigger fired (its handle)
    leTriggerData = 0x0207,    // Trigger, Data: data trigger matched (its handle)
    leTriggerStatus = 0x0208,  // Trigger, Status: status trigger fired (its handle)
    leWindowAdded = 0x0711,    // TrgHdAlc, Window: window handler added (the window)
    leWindowRemoved = 0x0811,  // TrgHdDsp, Window: window handler removed (the window)
    leAvailThreshold = 0x0910, // TrDatChg, Avail: data-available threshold set (the threshold)
};

class TOrvTraceLog {
public:
    TOrvTraceLog();

    // At open: trace and log off with empty fields, the log's time origin set.
    void Reset(uint32_t startTime);
    // The port name written in the log's header ("COM5").
    void SetDeviceName(const std::string& name);
    // Least size of the read-back buffer: max(input queue size, output queue size).
    // The buffer is made at least as large as the largest entry the log can hold, since
    // one device read can log up to 8192 bytes, more than either queue.
    void SetScratchSize(uint32_t size);
    // Replaces the millisecond clock (tests). Default: MillisecondClock.
    void SetClock(std::function<uint32_t()> clock);
    // Replaces the local date and time of the log header (tests).
    void SetLocalTime(std::function<platform::LocalDateTime()> localTime);

    // 0, -1002 above 4,000,000 entries, or -8 when the buffer cannot be had.
    int32_t TraceStart(uint32_t entries);
    void TraceStop();
    int32_t TraceClear();
    void TracePause();
    void TraceResume();
    bool TraceOn() const { return traceOn_.load(std::memory_order_relaxed); }
    bool TraceExists();
    void TraceRecord(uint8_t kind, uint8_t byte);
    // One entry per byte, all in one piece: no other caller's entries come between.
    void TraceBlock(uint8_t kind, const uint8_t* bytes, uint32_t count);
    // 0 or the negated file error.
    int32_t TraceWrite(const std::string& name, bool append, bool inHex, bool allHex);

    // Logging stays off when the buffers cannot be had (LogExists() tells).
    void LogStart(uint32_t size);
    void LogStop();
    void LogClear();
    void LogPause();
    void LogResume();
    bool LogOn() const { return logOn_.load(std::memory_order_relaxed); }
    bool LogExists();
    void LogRecord(uint8_t type, uint8_t subtype, uint32_t data, const uint8_t* extra,
                   uint32_t extraLength);
    void LogRecord(TLogEntry entry, uint32_t data, const uint8_t* extra = nullptr,
                   uint32_t extraLength = 0) {
        LogRecord(uint8_t(entry >> 8), uint8_t(entry & 0xFF), data, extra, extraLength);
    }
    // 0 or the negated file error.
    int32_t LogWrite(const std::string& name, bool append, bool inHex, bool allHex);

private:
    void TraceStopLocked();
    void TraceClearLocked();
    void LogStopLocked();
    void LogClearLocked();
    void LogPut(const uint8_t* bytes, uint32_t n);
    void LogCopyOut(uint32_t& pos, uint8_t* out, uint32_t n) const;
    void LogDropOldest();

    std::mutex lock_;
    std::atomic<bool> traceOn_{false}; // written under lock_
    std::atomic<bool> logOn_{false};   // written under lock_

    // Everything below: lock_.
    std::function<uint32_t()> clock_;
    std::function<platform::LocalDateTime()> localTime_;
    std::string DeviceName;
    uint32_t ScratchHint = 0;
    uint32_t StartTime = 0;

    // Trace: TraceSize entries of two bytes (kind, byte); TraceIndex is the next entry
    // to write and, once TraceWrapped, also the oldest.
    std::unique_ptr<uint8_t[]> TraceBuffer;
    uint32_t TraceIndex = 0;
    uint32_t TraceSize = 0;
    bool TraceWrapped = false;

    // Log: a ring of LogSize bytes holding whole entries (16-byte header, then the
    // extra bytes) from LogTail (oldest) to LogHead; LogFree bytes are unused.
    // LogScratch (ScratchSize bytes) takes one entry's extra bytes while writing.
    std::unique_ptr<uint8_t[]> LogBuffer;
    uint32_t LogHead = 0;
    uint32_t LogTail = 0;
    uint32_t LogFree = 0;
    uint32_t LogSize = 0;
    std::unique_ptr<uint8_t[]> LogScratch;
    uint32_t ScratchSize = 0;
};

} // namespace orvi
