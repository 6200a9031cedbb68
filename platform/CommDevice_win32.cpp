#include "platform/CommDevice.h"

#include "platform/CallGate.h"
#include "platform/PortNames.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <windows.h>

namespace orvi::platform {

namespace {

// A handle closed when its holder goes, unless released.
class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    void Reset(HANDLE h = nullptr) {
        if (h_ != nullptr)
            CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

// How long a read may stay pending before it is cancelled (reads never wait for data).
constexpr DWORD kReadWaitMs = 20;
// How long the end of a cancelled read is awaited. A driver that never completes the
// cancel would otherwise hold the reading worker for good, and with it a purge of the
// input (which waits for the read) and the close. A read still pending then is given up
// on (see CommDevice::Read).
constexpr DWORD kReadCancelLimitMs = 1000;
// The most one read asks for: the size of the dispatcher's input ring.
constexpr uint32_t kReadChunk = 8192;
// How often Close cancels the I/O of calls that are still inside the device.
constexpr int kCancelRepeatMs = 20;

// The errors with which serial drivers fail the calls on an adapter that has been pulled
// out (and Wine's on a pseudo-terminal whose other end has gone). 995 counts too, but only
// when no cancel of this device's own explains it (see Impl::Fail).
bool IsLostDeviceError(DWORD error) {
    switch (error) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

HANDLE NewManualEvent() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void StateToDcb(const DeviceState& s, DCB& d) {
    const uint32_t f = s.Flags;
    d.BaudRate = s.BaudRate;
    d.fBinary = (f & dcb::fBinary) != 0;
    d.fParity = (f & dcb::fParity) != 0;
    d.fOutxCtsFlow = (f & dcb::fOutxCtsFlow) != 0;
    d.fOutxDsrFlow = (f & dcb::fOutxDsrFlow) != 0;
    d.fDtrControl = dcb::DtrControl(f);
    d.fDsrSensitivity = (f & dcb::fDsrSensitivity) != 0;
    d.fTXContinueOnXoff = (f & dcb::fTXContinueOnXoff) != 0;
    d.fOutX = (f & dcb::fOutX) != 0;
    d.fInX = (f & dcb::fInX) != 0;
    d.fErrorChar = (f & dcb::fErrorChar) != 0;
    d.fNull = (f & dcb::fNull) != 0;
    d.fRtsControl = dcb::RtsControl(f);
    d.fAbortOnError = (f & dcb::fAbortOnError) != 0;
    d.XonLim = s.XonLim;
    d.XoffLim = s.XoffLim;
    d.ByteSize = s.ByteSize;
    d.Parity = s.Parity;
    d.StopBits = s.StopBits;
    d.XonChar = char(s.XonChar);
    d.XoffChar = char(s.XoffChar);
    d.ErrorChar = char(s.ErrorChar);
    d.EofChar = char(s.EofChar);
    d.EvtChar = char(s.EvtChar);
}

uint32_t FlagsOfDcb(const DCB& d) {
    uint32_t f = 0;
    f |= d.fBinary ? dcb::fBinary : 0;
    f |= d.fParity ? dcb::fParity : 0;
    f |= d.fOutxCtsFlow ? dcb::fOutxCtsFlow : 0;
    f |= d.fOutxDsrFlow ? dcb::fOutxDsrFlow : 0;
    f = dcb::WithDtrControl(f, d.fDtrControl);
    f |= d.fDsrSensitivity ? dcb::fDsrSensitivity : 0;
    f |= d.fTXContinueOnXoff ? dcb::fTXContinueOnXoff : 0;
    f |= d.fOutX ? dcb::fOutX : 0;
    f |= d.fInX ? dcb::fInX : 0;
    f |= d.fErrorChar ? dcb::fErrorChar : 0;
    f |= d.fNull ? dcb::fNull : 0;
    f = dcb::WithRtsControl(f, d.fRtsControl);
    f |= d.fAbortOnError ? dcb::fAbortOnError : 0;
    return f;
}

DeviceState StateOfDcb(const DCB& d) {
    DeviceState s;
    s.BaudRate = d.BaudRate;
    s.Flags = FlagsOfDcb(d);
    s.XonLim = d.XonLim;
    s.XoffLim = d.XoffLim;
    s.ByteSize = d.ByteSize;
    s.Parity = d.Parity;
    s.StopBits = d.StopBits;
    s.XonChar = uint8_t(d.XonChar);
    s.XoffChar = uint8_t(d.XoffChar);
    s.ErrorChar = uint8_t(d.ErrorChar);
    s.EofChar = uint8_t(d.EofChar);
    s.EvtChar = uint8_t(d.EvtChar);
    return s;
}

} // namespace

// Threads: the handles are written by the opening thread while no worker uses the
// device. Each overlapped operation has its own event, so Read, Write and WaitEvent
// may run at the same time on three threads (one of each at a time).
struct CommDevice::Impl {
    // A read's overlapped record and buffer, which the driver writes to until the read
    // has ended: a read given up on leaves them to the driver for good.
    struct ReadRecord {
        OVERLAPPED ov;
        uint8_t data[kReadChunk];
    };

    HANDLE device = nullptr;
    HANDLE readDone = nullptr;  // manual reset, Read's overlapped record
    HANDLE writeDone = nullptr; // manual reset, Write's overlapped record
    HANDLE eventDone = nullptr; // manual reset, WaitEvent's overlapped record
    std::atomic<uint64_t> waitPasses{0};
    // Set by the first call that finds the device gone; from then on every call but Close
    // fails with DeviceGone, also those the driver would still let succeed (PurgeComm).
    std::atomic<bool> lost{false};
    // Counts the cancels this device makes itself (an output purge, a new event mask), so
    // that a call ended by one of them is not taken for a device that went away.
    std::atomic<uint64_t> cancels{0};
    // Read's record (the reading thread only). Once a read was given up on, later reads
    // fail at once with TimedOut: they would queue behind it in the driver.
    std::unique_ptr<ReadRecord> read = std::make_unique<ReadRecord>();
    std::atomic<bool> readGivenUp{false};

    // Every call that uses the handle passes through it; Close cancels the pending I/O and
    // lets the handles and events go only when all calls have left.
    CallGate gate;

    // False with DeviceGone once the device is known to be gone.
    bool Present() {
        if (!lost.load())
            return true;
        SetLastError(syserr::DeviceGone);
        return false;
    }

    // True when Close or a cancel of ours has come since the count was `cancelsBefore`.
    bool Cancelled(uint64_t cancelsBefore) const {
        return !gate.IsOpen() || cancels.load() != cancelsBefore;
    }

    // Sets the last error of a failed call that began when `cancelsBefore` was the cancel
    // count, and returns false. An error that says the device has gone, or an abort that
    // neither Close nor a cancel of ours made, marks the device lost.
    bool Fail(DWORD error, uint64_t cancelsBefore) {
        const bool strayAbort = error == ERROR_OPERATION_ABORTED && !Cancelled(cancelsBefore);
        if (IsLostDeviceError(error) || strayAbort)
            lost = true;
        SetLastError(lost.load() ? syserr::DeviceGone : error);
        return false;
    }

    // Runs `use` on the device handle while a call holds the gate, so that Close cannot take
    // the handle away under it; false when the device is not open or gone, or `use` failed.
    // The handle is read only once the call has entered.
    template <class Use> bool With(Use use) {
        const CallGate::Call call(gate);
        if (!call.Entered() || !Present())
            return false;
        const uint64_t before = cancels.load();
        return use(device) || Fail(GetLastError(), before);
    }

    void CloseEvents() {
        for (HANDLE* h : {&readDone, &writeDone, &eventDone}) {
            if (*h != nullptr)
                CloseHandle(*h);
            *h = nullptr;
        }
    }
};

CommDevice::CommDevice() : impl_(std::make_unique<Impl>()) {}

CommDevice::~CommDevice() {
    if (IsOpen())
        Close();
}

bool CommDevice::IsOpen() const {
    return impl_->device != nullptr;
}

namespace {

// The last error of a failed step, kept across the clean-up that follows it.
uint32_t OpenFailure(std::initializer_list<UniqueHandle*> handles) {
    const DWORD error = GetLastError();
    for (UniqueHandle* h : handles)
        h->Reset();
    SetLastError(error);
    return error;
}

// A device left by another program with abort-on-error set would fail every read and
// write with 995 after a line error until the error is cleared: this device clears its
// line errors only when the dispatcher asks for the status.
void ClearAbortOnError(HANDLE device) {
    DCB d{};
    d.DCBlength = sizeof d;
    if (GetCommState(device, &d) && d.fAbortOnError) {
        d.fAbortOnError = FALSE;
        SetCommState(device, &d);
    }
}

} // namespace

uint32_t CommDevice::Open(const std::string& name) {
    Impl& d = *impl_;
    if (d.device != nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }
    UniqueHandle device(CreateFileA(ResolvePortName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!device)
        return GetLastError();
    UniqueHandle readDone(NewManualEvent());
    UniqueHandle writeDone(NewManualEvent());
    UniqueHandle eventDone(NewManualEvent());
    if (!readDone || !writeDone || !eventDone)
        return OpenFailure({&readDone, &writeDone, &eventDone, &device});
    // Reads return at once with what has arrived.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(device.Get(), &timeouts))
        return OpenFailure({&readDone, &writeDone, &eventDone, &device});
    ClearAbortOnError(device.Get());
    d.readDone = readDone.Release();
    d.writeDone = writeDone.Release();
    d.eventDone = eventDone.Release();
    d.device = device.Release();
    d.lost = false;
    d.readGivenUp = false;
    d.gate.Open();
    return ERROR_SUCCESS;
}

uint32_t CommDevice::Close(std::chrono::milliseconds limit) {
    Impl& d = *impl_;
    if (d.device == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_INVALID_HANDLE;
    }
    const bool left = d.gate.Shut(
        [&d] {
            SetCommMask(d.device, 0);
            CancelIoEx(d.device, nullptr);
        },
        std::chrono::milliseconds(kCancelRepeatMs), limit);
    // A call whose cancel the driver never completed still waits on the device and its
    // event, and the driver may still write to its OVERLAPPED record: closed now, either
    // handle could be reused under it. Both are left open on purpose (the port stays
    // held) and a later Close, the destructor's, closes them once the call has left.
    if (!left) {
        SetLastError(syserr::TimedOut);
        return syserr::TimedOut;
    }
    d.CloseEvents();
    HANDLE device = d.device;
    d.device = nullptr;
    return CloseHandle(device) ? ERROR_SUCCESS : GetLastError();
}

int32_t CommDevice::Read(uint8_t* buffer, uint32_t count) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    if (!call.Entered() || !d.Present())
        return -1;
    if (d.readGivenUp.load()) {
        SetLastError(syserr::TimedOut);
        return -1;
    }
    const uint64_t cancels = d.cancels.load();
    // The driver reads into the device's own record, not the caller's buffer, so that a
    // read given up on below writes to nothing the caller still uses.
    Impl::ReadRecord& r = *d.read;
    r.ov = OVERLAPPED{};
    r.ov.hEvent = d.readDone;
    ResetEvent(d.readDone);
    count = std::min(count, kReadChunk);
    const auto deliver = [&](DWORD got) {
        std::memcpy(buffer, r.data, got);
        return int32_t(got);
    };
    DWORD got = 0;
    if (ReadFile(d.device, r.data, count, &got, &r.ov))
        return deliver(got);
    if (GetLastError() != ERROR_IO_PENDING) {
        d.Fail(GetLastError(), cancels);
        return -1;
    }
    // The read time-outs make the driver complete at once with what it holds, but a
    // driver that keeps an empty read pending until data arrives (wine's serial driver
    // does) would hold the caller here for good. The wait is bounded; a read still
    // pending then is cancelled, and whatever it had transferred is returned. The
    // cancel's end is awaited for a bounded time too: a read that has not ended then is
    // left to the driver with its record (never freed, since the driver may still write
    // to it), and this device reads no more.
    const bool cancelled = WaitForSingleObject(d.readDone, kReadWaitMs) != WAIT_OBJECT_0;
    if (cancelled) {
        CancelIoEx(d.device, &r.ov);
        if (WaitForSingleObject(d.readDone, kReadCancelLimitMs) != WAIT_OBJECT_0) {
            static_cast<void>(d.read.release());
            d.read = std::make_unique<Impl::ReadRecord>();
            d.readGivenUp = true;
            SetLastError(syserr::TimedOut);
            return -1;
        }
    }
    if (GetOverlappedResult(d.device, &r.ov, &got, FALSE))
        return deliver(got);
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED && (cancelled || d.Cancelled(cancels)))
        return deliver(got);
    d.Fail(error, cancels);
    return -1;
}

namespace {

// Waits for a pending write or the abort. On abort the write is cancelled and its end
// awaited, so that the driver no longer uses the caller's buffer.
IoResult FinishWrite(HANDLE device, OVERLAPPED& ov, DWORD& done, Event& abort) {
    HANDLE waits[2] = {ov.hEvent, reinterpret_cast<HANDLE>(abort.NativeHandle())};
    const DWORD which = WaitForMultipleObjects(abort.Valid() ? 2 : 1, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0)
        return GetOverlappedResult(device, &ov, &done, TRUE) ? IoResult::Done : IoResult::Failed;
    const DWORD error = which == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : GetLastError();
    CancelIo(device);
    GetOverlappedResult(device, &ov, &done, TRUE);
    SetLastError(error);
    return which == WAIT_OBJECT_0 + 1 ? IoResult::Aborted : IoResult::Failed;
}

} // namespace

// An overlapped write may stay pending, and only the output worker waits for its end.
uint32_t CommDevice::TryWrite(const uint8_t*, uint32_t) {
    return 0;
}

IoResult CommDevice::Write(const uint8_t* data, uint32_t count, uint32_t& written, Event& abort) {
    Impl& d = *impl_;
    written = 0;
    const CallGate::Call call(d.gate);
    if (!call.Entered() || !d.Present())
        return IoResult::Failed;
    const uint64_t cancels = d.cancels.load();
    while (written < count) {
        OVERLAPPED ov{};
        ov.hEvent = d.writeDone;
        ResetEvent(d.writeDone);
        DWORD done = 0;
        IoResult result = IoResult::Done;
        if (!WriteFile(d.device, data + written, count - written, &done, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                d.Fail(GetLastError(), cancels);
                return IoResult::Failed;
            }
            result = FinishWrite(d.device, ov, done, abort);
        }
        written += done;
        if (result == IoResult::Failed)
            d.Fail(GetLastError(), cancels);
        if (result != IoResult::Done)
            return result;
        if (done == 0) {
            // A driver that accepts nothing without failing would keep this loop going.
            SetLastError(ERROR_GEN_FAILURE);
            return IoResult::Failed;
        }
    }
    return IoResult::Done;
}

bool CommDevice::SetEventMask(uint32_t mask) {
    return impl_->With([&](HANDLE h) {
        // A new mask ends a wait in progress.
        impl_->cancels.fetch_add(1);
        return SetCommMask(h, mask) != 0;
    });
}

bool CommDevice::WaitEvent(uint32_t& eventWord) {
    Impl& d = *impl_;
    eventWord = 0;
    const CallGate::Call call(d.gate);
    if (!call.Entered() || !d.Present())
        return false;
    d.waitPasses.fetch_add(1, std::memory_order_relaxed);
    const uint64_t cancels = d.cancels.load();
    // The driver writes the event word when the wait completes: it lives here until then.
    DWORD word = 0;
    OVERLAPPED ov{};
    ov.hEvent = d.eventDone;
    ResetEvent(d.eventDone);
    if (!WaitCommEvent(d.device, &word, &ov)) {
        DWORD unused = 0;
        if (GetLastError() != ERROR_IO_PENDING ||
            !GetOverlappedResult(d.device, &ov, &unused, TRUE))
            return d.Fail(GetLastError(), cancels);
    }
    eventWord = word;
    return true;
}

int CommDevice::WaitEventsOrInput(std::initializer_list<Event*> events, bool, uint32_t timeoutMs) {
    return WaitAny(events, timeoutMs);
}

bool CommDevice::WatchesInput() {
    return false;
}

uint64_t CommDevice::WaitPasses() const {
    return impl_->waitPasses.load();
}

bool CommDevice::Purge(uint32_t flags) {
    return impl_->With([&](HANDLE h) {
        if ((flags & (purge::TxAbort | purge::RxAbort)) != 0)
            impl_->cancels.fetch_add(1);
        return PurgeComm(h, flags) != 0;
    });
}

uint32_t CommDevice::ClearError(CommStatus& status, bool) {
    status = CommStatus{};
    DWORD errors = 0;
    COMSTAT stat{};
    if (!impl_->With([&](HANDLE h) { return ClearCommError(h, &errors, &stat) != 0; }))
        return 0;
    status.InQue = stat.cbInQue;
    status.OutQue = stat.cbOutQue;
    return errors;
}

bool CommDevice::GetState(DeviceState& state) {
    DCB d{};
    d.DCBlength = sizeof d;
    if (!impl_->With([&](HANDLE h) { return GetCommState(h, &d) != 0; }))
        return false;
    state = StateOfDcb(d);
    return true;
}

bool CommDevice::SetState(const DeviceState& state) {
    // Start from the device's block so that fields without a counterpart stay as they are.
    return impl_->With([&](HANDLE h) {
        DCB d{};
        d.DCBlength = sizeof d;
        if (!GetCommState(h, &d))
            return false;
        StateToDcb(state, d);
        // Abort-on-error stays off whatever the state says (see ClearAbortOnError).
        d.fAbortOnError = FALSE;
        if (SetCommState(h, &d))
            return true;
        // A driver without the RS-485 RTS toggle (wine's is one) refuses the whole block.
        // The line is then set without it and RTS held low, as the POSIX layer does where
        // the driver lacks RS-485: a port does not fail to open for want of the toggle.
        if (d.fRtsControl != RTS_CONTROL_TOGGLE)
            return false;
        d.fRtsControl = RTS_CONTROL_DISABLE;
        return SetCommState(h, &d) != 0;
    });
}

bool CommDevice::Escape(uint32_t function) {
    return impl_->With([&](HANDLE h) { return EscapeCommFunction(h, function) != 0; });
}

bool CommDevice::GetModemStatus(uint32_t& status) {
    DWORD lines = 0;
    const bool ok = impl_->With([&](HANDLE h) { return GetCommModemStatus(h, &lines) != 0; });
    status = ok ? lines : 0;
    return ok;
}

bool CommDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    return impl_->With([&](HANDLE h) { return SetupComm(h, inSize, outSize) != 0; });
}

} // namespace orvi::platform
