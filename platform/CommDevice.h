#pragma once
// The communications device: one open serial port (or pseudo-terminal) with the
// operations the dispatcher needs, in Windows communications-API terms on every
// platform. Backends: CommDevice_posix.cpp (termios), CommDevice_win32.cpp (Win32).
//
// Thread safety: one thread opens and closes the device. While it is open, the
// dispatcher's workers call Read, Write, WaitEvent and the status calls concurrently;
// SetEventMask(0) and an abort Event are the ways to end a blocked WaitEvent or Write
// from another thread. Close may overlap any of them: it ends a Write or WaitEvent in
// progress (they fail), waits (for a bounded time) for every call in progress to leave
// before the device goes, and calls that start after it began fail with InvalidHandle.
// The device may be destroyed only once no call is in progress.
//
// Results here are the platform's (true/false or a count, LastError a system error). The
// dispatcher's device operations built on them (serial/dispatch/BaseDispatcher.h) follow
// one result rule: 0 (or a count) on success, or a negative code of serial/ErrorCodes.h,
// a system error being negated.
#include "platform/CallGate.h"
#include "platform/Event.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace orvi::platform {

// The Windows device control block's fields with their meanings kept on every
// platform (baud in bits per second, parity 0 none/1 odd/2 even/3 mark/4 space,
// stop bits 0 one/1 one and a half/2 two).
struct DeviceState {
    uint32_t BaudRate = 9600;
    uint32_t Flags = 1; // dcb:: bits below
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;

    bool operator==(const DeviceState&) const = default;
};

namespace dcb {
constexpr uint32_t fBinary = 0x0001;
constexpr uint32_t fParity = 0x0002;
constexpr uint32_t fOutxCtsFlow = 0x0004;
constexpr uint32_t fOutxDsrFlow = 0x0008;
constexpr uint32_t DtrControlShift = 4; // 2 bits: 0 disable, 1 enable, 2 handshake
constexpr uint32_t DtrControlMask = 0x0030;
constexpr uint32_t fDsrSensitivity = 0x0040;
constexpr uint32_t fTXContinueOnXoff = 0x0080;
constexpr uint32_t fOutX = 0x0100;
constexpr uint32_t fInX = 0x0200;
constexpr uint32_t fErrorChar = 0x0400;
constexpr uint32_t fNull = 0x0800;
constexpr uint32_t RtsControlShift = 12; // 2 bits: 0 disable, 1 enable, 2 handshake, 3 toggle
constexpr uint32_t RtsControlMask = 0x3000;
constexpr uint32_t fAbortOnError = 0x4000;

constexpr uint32_t ControlDisable = 0;
constexpr uint32_t ControlEnable = 1;
constexpr uint32_t ControlHandshake = 2;
constexpr uint32_t ControlToggle = 3;

constexpr uint32_t DtrControl(uint32_t flags) { return (flags & DtrControlMask) >> DtrControlShift; }
constexpr uint32_t RtsControl(uint32_t flags) { return (flags & RtsControlMask) >> RtsControlShift; }
constexpr uint32_t WithDtrControl(uint32_t flags, uint32_t c) {
    return (flags & ~DtrControlMask) | (c << DtrControlShift);
}
constexpr uint32_t WithRtsControl(uint32_t flags, uint32_t c) {
    return (flags & ~RtsControlMask) | (c << RtsControlShift);
}
} // namespace dcb

// Communication events (EV_*).
namespace ev {
constexpr uint32_t RxChar = 0x0001;
constexpr uint32_t RxFlag = 0x0002;
constexpr uint32_t TxEmpty = 0x0004;
constexpr uint32_t Cts = 0x0008;
constexpr uint32_t Dsr = 0x0010;
constexpr uint32_t Rlsd = 0x0020;
constexpr uint32_t Break = 0x0040;
constexpr uint32_t Err = 0x0080;
constexpr uint32_t Ring = 0x0100;
constexpr uint32_t Ring9x = 0x2000;
} // namespace ev

// Line error bits returned by ClearError (CE_*).
namespace ce {
constexpr uint32_t RxOver = 0x01;
constexpr uint32_t Overrun = 0x02;
constexpr uint32_t RxParity = 0x04;
constexpr uint32_t Frame = 0x08;
constexpr uint32_t Break = 0x10;
} // namespace ce

// Modem line states (MS_*_ON).
namespace ms {
constexpr uint32_t Cts = 0x10;
constexpr uint32_t Dsr = 0x20;
constexpr uint32_t Ring = 0x40;
constexpr uint32_t Rlsd = 0x80;
} // namespace ms

// Extended functions (EscapeCommFunction codes).
namespace escape {
constexpr uint32_t SetRts = 3;
constexpr uint32_t ClrRts = 4;
constexpr uint32_t SetDtr = 5;
constexpr uint32_t ClrDtr = 6;
constexpr uint32_t GetBaseIrq = 10;
} // namespace escape

// PurgeComm flags.
namespace purge {
constexpr uint32_t TxAbort = 0x1;
constexpr uint32_t RxAbort = 0x2;
constexpr uint32_t TxClear = 0x4;
constexpr uint32_t RxClear = 0x8;
} // namespace purge

// ClearCommError's status: flags word, bytes waiting in the driver, bytes pending out.
struct CommStatus {
    uint32_t Flags = 0;
    uint32_t InQue = 0;
    uint32_t OutQue = 0;
};

enum class IoResult {
    Done,    // everything asked for was handed to the driver
    Aborted, // the abort event was set first
    Failed,  // the device reported an error (LastError tells which)
};

class CommDevice {
public:
    CommDevice();
    ~CommDevice(); // closes the device if open
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    // Opens the device exclusively (no sharing, also against other processes).
    // `name` is "\\.\COMn" or a device path. Returns 0, or the system error:
    // syserr::FileNotFound for a missing port, syserr::AccessDenied for one held by
    // another program. Read time-outs are set so that Read never waits.
    uint32_t Open(const std::string& name);
    bool IsOpen() const;
    // 0, or the system error of the close. TimedOut when a call in progress did not leave
    // within `limit` (a driver that never ends a cancelled request): the handles are then
    // left open for that call, the device stays open (refusing new calls), and a later
    // Close closes it once the call has left. Calls in progress are woken at least once,
    // also with a limit of 0.
    uint32_t Close(std::chrono::milliseconds limit = CallGate::kShutLimit);

    // Reads at most `count` bytes that are already waiting; never waits for more.
    // Returns the number read, or -1 with LastError set.
    int32_t Read(uint8_t* buffer, uint32_t count);

    // Hands `count` bytes to the driver, waiting as long as the driver is full.
    // Returns early with Aborted when `abort` is set (the event is consumed if it is
    // auto-reset) and with Failed when the device fails; `written` counts what was
    // accepted before that.
    IoResult Write(const uint8_t* data, uint32_t count, uint32_t& written, Event& abort);
    // Hands at most `count` bytes to the driver without waiting, from whichever thread calls
    // it, and returns how many it accepted: 0 when the driver is full, the device fails (the
    // caller's ordinary Write then meets the failure and reports it) or the platform cannot
    // write without waiting (Windows, whose writes are overlapped: always 0 there).
    uint32_t TryWrite(const uint8_t* data, uint32_t count);

    // Selects the communication events that WaitEvent reports. A mask of 0 ends a
    // WaitEvent that another thread is blocked in: it returns true with event word 0.
    bool SetEventMask(uint32_t mask);
    // Blocks until an event of the mask occurs and stores it in `eventWord`. Returns
    // false when the device cannot wait (LastError tells why: an unplugged device,
    // or a driver that refuses the wait). A caller must then stop waiting on it.
    // With a mask of 0 there is nothing to wait for: false, InvalidParameter.
    // POSIX reports RxChar (bytes arrived since the last report), the modem-line and
    // line-error events where the driver reports those lines, and never TxEmpty or
    // RxFlag.
    bool WaitEvent(uint32_t& eventWord);
    // Waits until one of `events` is set (consumed if auto-reset; returns its index) or,
    // with `watchInput`, until received bytes wait in the driver (returns events.size()),
    // at most timeoutMs (-1 on time-out). Lets the thread that reads the device wake on
    // input itself. Where the platform cannot wait for input without starting a read
    // (Windows), it waits for the events only. A hung-up device is not watched.
    int WaitEventsOrInput(std::initializer_list<Event*> events, bool watchInput,
                          uint32_t timeoutMs);
    // True where WaitEventsOrInput waits for input (POSIX): the thread that reads the
    // device then wakes on input itself and needs no RxChar events from WaitEvent.
    static bool WatchesInput();
    // How often WaitEvent has gone round its wait so far (for checking that a wait
    // does not spin; a Windows wait counts one pass per call).
    uint64_t WaitPasses() const;

    // purge:: flags. Aborting output also ends a Write blocked inside the driver
    // (Failed with LastError OperationAborted).
    bool Purge(uint32_t flags);
    // Returns and clears the accumulated line errors (ce:: bits); fills the status.
    // Without `countOutput` the driver's output count may be left 0, for a caller that
    // counts its own pending output (it costs a request of its own on POSIX).
    uint32_t ClearError(CommStatus& status, bool countOutput = true);
    bool GetState(DeviceState& state);
    bool SetState(const DeviceState& state);
    // escape:: functions. False (LastError NotSupported) where the device lacks one.
    bool Escape(uint32_t function);
    // ms:: bits of the modem input lines. False where the device cannot report them.
    bool GetModemStatus(uint32_t& status);
    bool SetupQueues(uint32_t inSize, uint32_t outSize);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orvi::platform
