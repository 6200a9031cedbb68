#include "platform/CommDevice.h"

#include "platform/CallGate.h"
#include "platform/PortNames.h"
#include "platform/SystemError.h"
#include "platform/Termios2_linux.h"
#include "platform/TermiosMapping.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace orvi::platform {

namespace {

// While unread bytes sit in the driver the tty stays readable, so the event wait
// stops polling it and looks again at this pace for more.
constexpr int kUnreadRecheckMs = 10;
// Pace of modem-line and line-error checks on drivers that report them.
constexpr int kLinePollMs = 5;
// Close wakes the calls in progress again at this pace until they have left.
constexpr int kCloseWakeRepeatMs = 50;
// WaitEventsOrInput polls this many events beside the device in one call (more are
// waited for without the device).
constexpr size_t kMaxWaitEvents = 4;

constexpr uint32_t kModemEvents = ev::Cts | ev::Dsr | ev::Rlsd | ev::Ring | ev::Ring9x;
constexpr uint32_t kErrorEvents = ev::Err | ev::Break;

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// ENOTTY from a driver without the request; EINVAL from older pty drivers.
bool IsUnsupported(int err) {
    return err == ENOTTY || err == EINVAL;
}

uint32_t Fail(uint32_t code) {
    SetLastError(code);
    return code;
}

uint32_t ErrnoFailure(int err) {
    return Fail(ErrorFromErrno(err));
}

// The error of an unanswered request: "not supported" for a driver that lacks it.
uint32_t RequestError(int err) {
    return IsUnsupported(err) ? syserr::NotSupported : ErrorFromErrno(err);
}

// An open that does not reach a terminal found no serial port there.
uint32_t OpenError(int err) {
    return (err == ENOTTY || err == EISDIR) ? syserr::FileNotFound : ErrorFromErrno(err);
}

// FTDI adapters hold short replies for their latency timer unless asked not to.
void RequestLowLatency(int fd) {
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &ss);
}

bool ModemLinesWork(int fd) {
    int lines = 0;
    return ioctl(fd, TIOCMGET, &lines) == 0;
}

bool ReadCounters(int fd, serial_icounter_struct& counts) {
    counts = serial_icounter_struct{};
    return ioctl(fd, TIOCGICOUNT, &counts) == 0;
}

uint32_t ModemStatusBits(int lines) {
    uint32_t status = 0;
    status |= (lines & TIOCM_CTS) != 0 ? ms::Cts : 0;
    status |= (lines & TIOCM_DSR) != 0 ? ms::Dsr : 0;
    status |= (lines & TIOCM_RNG) != 0 ? ms::Ring : 0;
    status |= (lines & TIOCM_CAR) != 0 ? ms::Rlsd : 0;
    return status;
}

uint32_t ModemEventsBetween(int before, int now) {
    const int changed = before ^ now;
    uint32_t events = 0;
    events |= (changed & TIOCM_CTS) != 0 ? ev::Cts : 0;
    events |= (changed & TIOCM_DSR) != 0 ? ev::Dsr : 0;
    events |= (changed & TIOCM_CAR) != 0 ? ev::Rlsd : 0;
    events |= (changed & TIOCM_RNG) != 0 ? (ev::Ring | ev::Ring9x) : 0;
    return events;
}

uint32_t LineErrorsBetween(const serial_icounter_struct& a, const serial_icounter_struct& b) {
    uint32_t errors = 0;
    errors |= b.frame != a.frame ? ce::Frame : 0;
    errors |= b.parity != a.parity ? ce::RxParity : 0;
    errors |= b.overrun != a.overrun ? ce::Overrun : 0;
    errors |= b.buf_overrun != a.buf_overrun ? ce::RxOver : 0;
    errors |= b.brk != a.brk ? ce::Break : 0;
    return errors;
}

uint32_t ErrorEventsOf(uint32_t lineErrors) {
    uint32_t events = (lineErrors & ~ce::Break) != 0 ? ev::Err : 0;
    return events | ((lineErrors & ce::Break) != 0 ? ev::Break : 0);
}

// Control lines as the state's DTR and RTS modes leave them; lines under handshake
// stay raised and CRTSCTS takes RTS over. Drivers without the lines ignore it.
void ApplyControlLines(int fd, uint32_t flags) {
    int raise = 0;
    int drop = 0;
    (dcb::DtrControl(flags) == dcb::ControlDisable ? drop : raise) |= TIOCM_DTR;
    const uint32_t rts = dcb::RtsControl(flags);
    (rts == dcb::ControlDisable || rts == dcb::ControlToggle ? drop : raise) |= TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &raise);
    (void)ioctl(fd, TIOCMBIC, &drop);
}

// Drivers without RS-485 (ptys, most USB adapters) answer ENOTTY, ignored like the
// other line requests: the line then stays as ApplyControlLines set it. `enabled`
// remembers whether this device turned the mode on, so that leaving the toggle turns it
// off again.
void ApplyRs485(int fd, uint32_t flags, bool& enabled) {
    serial_rs485 mode{};
    if (Rs485ModeFor(flags, enabled, mode) && ioctl(fd, TIOCSRS485, &mode) == 0)
        enabled = (mode.flags & SER_RS485_ENABLED) != 0;
}

DeviceState OpeningState() {
    DeviceState s;
    s.Flags = dcb::fBinary;
    s.Flags = dcb::WithDtrControl(s.Flags, dcb::ControlEnable);
    s.Flags = dcb::WithRtsControl(s.Flags, dcb::ControlEnable);
    return s;
}

} // namespace

// Threads: the capability flags are written by the opening thread while no worker
// uses the device. The event-wait baselines belong to the thread inside WaitEvent
// (one at a time).
struct CommDevice::Impl {
    std::atomic<int> fd{-1};
    bool modemLines = false;   // TIOCMGET answers
    bool lineCounters = false; // TIOCGICOUNT answers

    Event maskChanged{false};  // wakes WaitEvent after SetEventMask or for a close
    Event writeAborted{false}; // wakes Write after a transmit abort or for a close
    Event closing{true}; // set from the start of a close to the next open; ends WaitEventsOrInput
    // Wakes a WaitEvent that sleeps on unread bytes once a read took some of them, so
    // that bytes arriving behind them are reported without waiting for the recheck.
    Event rxDrained{false};
    std::atomic<bool> unreadWait{false};
    std::atomic<uint32_t> mask{0};
    std::atomic<uint64_t> maskChanges{0};
    std::atomic<uint64_t> writeAborts{0};
    std::atomic<uint64_t> waitPasses{0};

    // Every call that uses the descriptor passes through it; Close wakes the waiting ones
    // and lets the descriptor go only when all have left, so that none of them polls or
    // reads a closed (or reused) one.
    CallGate gate;

    std::mutex rxLock;       // orders reads against the event wait's byte count
    uint32_t reportedIn = 0; // guarded by rxLock: unread bytes already reported as RxChar

    int eventLines = 0;                   // WaitEvent's thread
    serial_icounter_struct eventCounts{}; // WaitEvent's thread

    std::mutex stateLock;
    DeviceState kept;                     // guarded by stateLock
    bool rs485Enabled = false;            // guarded by stateLock
    serial_icounter_struct errorCounts{}; // guarded by stateLock

    // The open descriptor, or -1 with LastError set.
    int Fd() const {
        const int f = fd.load();
        if (f < 0)
            SetLastError(syserr::InvalidHandle);
        return f;
    }
    // The descriptor for a call that passed the gate, which keeps it open until the call
    // ends; -1 with LastError set when the gate was shut.
    int Fd(const CallGate::Call& call) const { return call.Entered() ? fd.load() : -1; }

    uint32_t Collect(uint32_t mask, uint32_t& unread, bool& ok);
    bool Block(uint32_t mask, uint32_t unread);
    uint32_t RxEvents(uint32_t& unread, bool& ok);
    // WaitEventsOrInput's poll of the events and the tty; kNotWatched when the device is
    // closed or hung up.
    static constexpr int kNotWatched = -2;
    int PollEventsAndInput(std::initializer_list<Event*> events, uint32_t timeoutMs);
    uint32_t ModemEvents(bool& ok);
    uint32_t ErrorEvents();
};

CommDevice::CommDevice() : impl_(std::make_unique<Impl>()) {}

CommDevice::~CommDevice() {
    if (IsOpen())
        Close();
}

bool CommDevice::IsOpen() const {
    return impl_->fd.load() >= 0;
}

uint32_t CommDevice::Open(const std::string& name) {
    Impl& d = *impl_;
    if (d.fd.load() >= 0)
        return Fail(syserr::AccessDenied);
    if (!d.maskChanged.Valid() || !d.writeAborted.Valid() || !d.closing.Valid())
        return Fail(syserr::TooManyOpenFiles);
    UniqueFd fd(open(ResolvePortName(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        return Fail(OpenError(errno));
    termios t{};
    if (tcgetattr(fd.Get(), &t) != 0)
        return Fail(OpenError(errno));
    // flock holds against every other opener, root included; TIOCEXCL is a second
    // line against programs that do not lock.
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        return Fail(errno == EWOULDBLOCK ? syserr::AccessDenied : ErrorFromErrno(errno));
    (void)ioctl(fd.Get(), TIOCEXCL);
    MakeRaw(t);
    t.c_cflag &= ~tcflag_t(CRTSCTS);
    if (tcsetattr(fd.Get(), TCSANOW, &t) != 0) {
        const int err = errno;
        (void)ioctl(fd.Get(), TIOCNXCL);
        return ErrnoFailure(err);
    }
    RequestLowLatency(fd.Get());

    d.modemLines = ModemLinesWork(fd.Get());
    d.lineCounters = ReadCounters(fd.Get(), d.eventCounts);
    d.errorCounts = d.eventCounts;
    d.eventLines = 0;
    if (d.modemLines)
        (void)ioctl(fd.Get(), TIOCMGET, &d.eventLines);
    d.reportedIn = 0;
    d.mask = 0;
    d.rs485Enabled = false;
    d.kept = TermiosToDeviceState(t, ReadBaudRate(fd.Get()), OpeningState());
    d.fd = fd.Release();
    d.closing.Reset();
    d.gate.Open();
    return syserr::Success;
}

uint32_t CommDevice::Close(std::chrono::milliseconds limit) {
    Impl& d = *impl_;
    const int fd = d.Fd();
    if (fd < 0)
        return syserr::InvalidHandle;
    const bool left = d.gate.Shut(
        [&d] {
            d.maskChanged.Set();
            d.writeAborted.Set();
            d.closing.Set();
        },
        std::chrono::milliseconds(kCloseWakeRepeatMs), limit);
    // A call still inside polls or reads this descriptor: closed now, it could be given to
    // another open under that call. It is left open on purpose (the port stays held) and
    // a later Close, the destructor's, closes it once the call has left.
    if (!left)
        return Fail(syserr::TimedOut);
    // Without TIOCNXCL a pty could not be opened again.
    (void)ioctl(fd, TIOCNXCL);
    const int r = close(fd);
    const int err = errno;
    d.fd = -1;
    return r == 0 ? syserr::Success : ErrnoFailure(err);
}

int32_t CommDevice::Read(uint8_t* buffer, uint32_t count) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return -1;
    const size_t asked = count > uint32_t(INT32_MAX) ? size_t(INT32_MAX) : size_t(count);
    std::lock_guard<std::mutex> lock(d.rxLock);
    for (;;) {
        const ssize_t n = read(fd, buffer, asked);
        if (n >= 0) {
            d.reportedIn = d.reportedIn > uint32_t(n) ? d.reportedIn - uint32_t(n) : 0;
            if (n > 0 && d.unreadWait.load())
                d.rxDrained.Set();
            return int32_t(n);
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        ErrnoFailure(errno);
        return -1;
    }
}

uint32_t CommDevice::TryWrite(const uint8_t* data, uint32_t count) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return 0;
    // The descriptor is non-blocking: one write takes what the driver has room for.
    const ssize_t n = write(fd, data, count);
    return n > 0 ? uint32_t(n) : 0;
}

IoResult CommDevice::Write(const uint8_t* data, uint32_t count, uint32_t& written, Event& abort) {
    Impl& d = *impl_;
    written = 0;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return IoResult::Failed;
    const uint64_t aborts = d.writeAborts.load();
    while (written < count) {
        const ssize_t n = write(fd, data + written, count - written);
        if (n > 0) {
            written += uint32_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ErrnoFailure(errno);
            return IoResult::Failed;
        }
        pollfd fds[3] = {{fd, POLLOUT, 0},
                         {int(abort.NativeHandle()), POLLIN, 0},
                         {int(d.writeAborted.NativeHandle()), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) {
            ErrnoFailure(errno);
            return IoResult::Failed;
        }
        if ((fds[1].revents & POLLIN) != 0 && abort.TryConsume())
            return IoResult::Aborted;
        if ((fds[2].revents & POLLIN) != 0)
            d.writeAborted.TryConsume();
        if (d.writeAborts.load() != aborts || !d.gate.IsOpen()) {
            SetLastError(syserr::OperationAborted);
            return IoResult::Failed;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            SetLastError(syserr::DeviceGone);
            return IoResult::Failed;
        }
    }
    return IoResult::Done;
}

bool CommDevice::SetEventMask(uint32_t mask) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    if (!call.Entered())
        return false;
    d.mask = mask;
    d.maskChanges.fetch_add(1);
    d.maskChanged.Set();
    return true;
}

// The received-character event. The dispatcher does not ask for it here (its worker waits
// for input itself, WatchesInput); it stays because WaitEvent keeps the Windows event
// contract on every platform, and a caller that puts RxChar in the mask gets it.
uint32_t CommDevice::Impl::RxEvents(uint32_t& unread, bool& ok) {
    std::lock_guard<std::mutex> lock(rxLock);
    int n = 0;
    if (ioctl(fd.load(), FIONREAD, &n) != 0) {
        // A hung-up tty answers every request with EIO.
        ok = false;
        ErrnoFailure(errno);
        return 0;
    }
    unread = uint32_t(n);
    const bool fresh = unread > reportedIn;
    reportedIn = unread;
    return fresh ? ev::RxChar : 0;
}

uint32_t CommDevice::Impl::ModemEvents(bool& ok) {
    int lines = 0;
    if (ioctl(fd.load(), TIOCMGET, &lines) != 0) {
        ok = false;
        ErrnoFailure(errno);
        return 0;
    }
    const uint32_t events = ModemEventsBetween(eventLines, lines);
    eventLines = lines;
    return events;
}

uint32_t CommDevice::Impl::ErrorEvents() {
    serial_icounter_struct now{};
    if (!ReadCounters(fd.load(), now))
        return 0;
    const uint32_t errors = LineErrorsBetween(eventCounts, now);
    eventCounts = now;
    return ErrorEventsOf(errors);
}

// The events of `mask` since the last report; `ok` false when the device is gone.
uint32_t CommDevice::Impl::Collect(uint32_t m, uint32_t& unread, bool& ok) {
    uint32_t events = (m & ev::RxChar) != 0 ? RxEvents(unread, ok) : 0;
    if (ok && modemLines && (m & kModemEvents) != 0)
        events |= ModemEvents(ok);
    if (ok && lineCounters && (m & kErrorEvents) != 0)
        events |= ErrorEvents();
    return events & m;
}

// Sleeps until the tty may have news; false (LastError set) when it has hung up.
bool CommDevice::Impl::Block(uint32_t m, uint32_t unread) {
    const bool watchRx = (m & ev::RxChar) != 0;
    int timeout = (watchRx && unread > 0) ? kUnreadRecheckMs : -1;
    const bool pollLines =
        (modemLines && (m & kModemEvents) != 0) || (lineCounters && (m & kErrorEvents) != 0);
    if (pollLines)
        timeout = kLinePollMs;
    // Hang-up is reported even for a descriptor polled for no events.
    pollfd fds[3] = {{fd.load(), short((watchRx && unread == 0) ? POLLIN : 0), 0},
                     {int(maskChanged.NativeHandle()), POLLIN, 0},
                     {int(rxDrained.NativeHandle()), POLLIN, 0}};
    unreadWait = watchRx && unread > 0;
    const int polled = poll(fds, 3, timeout);
    unreadWait = false;
    if ((fds[2].revents & POLLIN) != 0)
        rxDrained.TryConsume();
    if (polled < 0) {
        if (errno == EINTR)
            return true;
        ErrnoFailure(errno);
        return false;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        SetLastError(syserr::DeviceGone);
        return false;
    }
    if ((fds[1].revents & POLLIN) != 0)
        maskChanged.TryConsume();
    return true;
}

bool CommDevice::WaitEvent(uint32_t& eventWord) {
    Impl& d = *impl_;
    eventWord = 0;
    const CallGate::Call call(d.gate);
    if (!call.Entered())
        return false;
    const uint64_t changes = d.maskChanges.load();
    for (;;) {
        d.waitPasses.fetch_add(1, std::memory_order_relaxed);
        const uint32_t m = d.mask.load();
        if (!d.gate.IsOpen()) {
            SetLastError(syserr::OperationAborted);
            return false;
        }
        if (d.maskChanges.load() != changes)
            return true;
        if (m == 0) {
            SetLastError(syserr::InvalidParameter);
            return false;
        }
        bool ok = true;
        uint32_t unread = 0;
        const uint32_t events = d.Collect(m, unread, ok);
        if (!ok)
            return false;
        if (events != 0) {
            eventWord = events;
            return true;
        }
        if (!d.Block(m, unread))
            return false;
    }
}

int CommDevice::WaitEventsOrInput(std::initializer_list<Event*> events, bool watchInput,
                                  uint32_t timeoutMs) {
    if (!watchInput || events.size() > kMaxWaitEvents)
        return WaitAny(events, timeoutMs);
    const int woken = impl_->PollEventsAndInput(events, timeoutMs);
    // A closed or hung-up device is not watched: the events alone are waited for, outside
    // the call gate, so that a close does not wait for this time-out either.
    return woken == Impl::kNotWatched ? WaitAny(events, timeoutMs) : woken;
}

int CommDevice::Impl::PollEventsAndInput(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    const CallGate::Call call(gate); // keeps the descriptor open while it is polled
    const int tty = Fd(call);
    if (tty < 0)
        return kNotWatched;
    // The events, then the close (which must not wait for this call's time-out), then the tty.
    std::array<pollfd, kMaxWaitEvents + 2> fds{};
    size_t count = 0;
    for (Event* e : events)
        fds[count++] = pollfd{int(e->NativeHandle()), POLLIN, 0};
    fds[count] = pollfd{int(closing.NativeHandle()), POLLIN, 0};
    fds[count + 1] = pollfd{tty, POLLIN, 0};
    const int timeout = timeoutMs == kInfinite ? -1 : int(std::min<uint32_t>(timeoutMs, INT_MAX));
    if (poll(fds.data(), count + 2, timeout) <= 0 || (fds[count].revents & POLLIN) != 0)
        return -1;
    int index = 0;
    for (Event* e : events) {
        if ((fds[size_t(index)].revents & POLLIN) != 0 && e->TryConsume())
            return index;
        ++index;
    }
    const short revents = fds[count + 1].revents;
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return kNotWatched;
    return (revents & POLLIN) != 0 ? index : -1;
}

bool CommDevice::WatchesInput() {
    return true;
}

uint64_t CommDevice::WaitPasses() const {
    return impl_->waitPasses.load();
}

bool CommDevice::Purge(uint32_t flags) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return false;
    if ((flags & purge::TxAbort) != 0) {
        d.writeAborts.fetch_add(1);
        d.writeAborted.Set();
    }
    if ((flags & (purge::TxAbort | purge::TxClear)) != 0 && tcflush(fd, TCOFLUSH) != 0) {
        ErrnoFailure(errno);
        return false;
    }
    if ((flags & (purge::RxAbort | purge::RxClear)) != 0) {
        std::lock_guard<std::mutex> lock(d.rxLock);
        if (tcflush(fd, TCIFLUSH) != 0) {
            ErrnoFailure(errno);
            return false;
        }
        d.reportedIn = 0;
    }
    return true;
}

uint32_t CommDevice::ClearError(CommStatus& status, bool countOutput) {
    Impl& d = *impl_;
    status = CommStatus{};
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return 0;
    int inQue = 0;
    if (ioctl(fd, FIONREAD, &inQue) != 0) {
        ErrnoFailure(errno);
        return 0;
    }
    int outQue = 0;
    status.InQue = uint32_t(inQue);
    if (countOutput && ioctl(fd, TIOCOUTQ, &outQue) == 0)
        status.OutQue = uint32_t(outQue);
    serial_icounter_struct now{};
    if (!d.lineCounters || !ReadCounters(fd, now))
        return 0;
    std::lock_guard<std::mutex> lock(d.stateLock);
    const uint32_t errors = LineErrorsBetween(d.errorCounts, now);
    d.errorCounts = now;
    return errors;
}

bool CommDevice::GetState(DeviceState& state) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return false;
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        ErrnoFailure(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(d.stateLock);
    state = TermiosToDeviceState(t, ReadBaudRate(fd), d.kept);
    return true;
}

bool CommDevice::SetState(const DeviceState& state) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return false;
    std::lock_guard<std::mutex> lock(d.stateLock);
    termios before{};
    if (tcgetattr(fd, &before) != 0) {
        ErrnoFailure(errno);
        return false;
    }
    termios wanted = before;
    MakeRaw(wanted);
    uint32_t anyRate = 0;
    if (!DeviceStateToTermios(state, wanted, anyRate)) {
        SetLastError(syserr::InvalidParameter);
        return false;
    }
    if (tcsetattr(fd, TCSANOW, &wanted) != 0) {
        ErrnoFailure(errno);
        return false;
    }
    if (anyRate != 0) {
        const int err = SetAnyBaudRate(fd, anyRate);
        if (err != 0) {
            // Leave the line as it was rather than half changed.
            (void)tcsetattr(fd, TCSANOW, &before);
            ErrnoFailure(err);
            return false;
        }
    }
    d.kept = state;
    if (d.modemLines)
        ApplyControlLines(fd, state.Flags);
    ApplyRs485(fd, state.Flags, d.rs485Enabled);
    return true;
}

bool CommDevice::Escape(uint32_t function) {
    Impl& d = *impl_;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return false;
    struct LineRequest {
        uint32_t function;
        unsigned long request;
        int line;
    };
    static const LineRequest kRequests[] = {
        {escape::SetRts, TIOCMBIS, TIOCM_RTS},
        {escape::ClrRts, TIOCMBIC, TIOCM_RTS},
        {escape::SetDtr, TIOCMBIS, TIOCM_DTR},
        {escape::ClrDtr, TIOCMBIC, TIOCM_DTR},
    };
    for (const LineRequest& r : kRequests) {
        if (r.function != function)
            continue;
        int line = r.line;
        if (ioctl(fd, r.request, &line) == 0)
            return true;
        SetLastError(RequestError(errno));
        return false;
    }
    // No UART base address or interrupt to report here.
    SetLastError(function == escape::GetBaseIrq ? syserr::NotSupported : syserr::InvalidParameter);
    return false;
}

bool CommDevice::GetModemStatus(uint32_t& status) {
    Impl& d = *impl_;
    status = 0;
    const CallGate::Call call(d.gate);
    const int fd = d.Fd(call);
    if (fd < 0)
        return false;
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) {
        SetLastError(RequestError(errno));
        return false;
    }
    status = ModemStatusBits(lines);
    return true;
}

// The tty layer sizes its own buffers.
bool CommDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    (void)inSize;
    (void)outSize;
    return impl_->Fd() >= 0;
}

} // namespace orvi::platform
