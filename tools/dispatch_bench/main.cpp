// Measures the dispatcher on a pseudo-terminal at 921600 baud against raw termios
// reads and writes on a second pty of the same kind. The two paths alternate exchange by
// exchange (dispatcher, raw, dispatcher, raw, ...), so that both see the same machine:
//   - receive latency: the peer writes 20 bytes; time until InputCount reaches 20
//     (raw: until a read has them);
//   - round trip: QueueBlock 7, the peer answers 20, take them; against raw write/read;
//   - a 16 MiB stream, in alternating rounds of 1 MiB, into the input ring and taken as
//     it arrives, by a caller that polls InputCount and by a data-available handler;
//     against raw reads;
//   - CPU used by an open, idle port;
//   - the time a close of an idle port takes.
// The stream also gives the I/O system calls (read, write, ioctl, poll: every call the
// program makes to them, counted where it is linked) per MiB.
// Usage: dispatch_bench [exchanges] [idle seconds]. Exit status 0, or 1 when a pty cannot
// be opened.
#include "platform/PortNames.h"
#include "serial/ErrorCodes.h"
#include "serial/dispatch/DeviceDispatcher.h"
#include "tools/pty/PtyPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace orvi;
using Clock = std::chrono::steady_clock;

// The link replaces every call of these (the dispatcher's and the platform layer's
// included) with one that counts it (see CMakeLists.txt).
namespace {
std::atomic<uint64_t> gSyscalls{0};
}
extern "C" {
ssize_t __real_read(int fd, void* buf, size_t n);
ssize_t __real_write(int fd, const void* buf, size_t n);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_poll(pollfd* fds, nfds_t n, int timeout);
ssize_t __wrap_read(int fd, void* buf, size_t n) {
    gSyscalls.fetch_add(1, std::memory_order_relaxed);
    return __real_read(fd, buf, n);
}
ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    gSyscalls.fetch_add(1, std::memory_order_relaxed);
    return __real_write(fd, buf, n);
}
int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    gSyscalls.fetch_add(1, std::memory_order_relaxed);
    return __real_ioctl(fd, request, arg);
}
int __wrap_poll(pollfd* fds, nfds_t n, int timeout) {
    gSyscalls.fetch_add(1, std::memory_order_relaxed);
    return __real_poll(fds, n, timeout);
}
}

namespace {

constexpr size_t kRequest = 7, kReply = 20;
constexpr size_t kStreamBytes = 16u << 20;

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

// Context switches of the whole process so far: each hand-over between threads is one.
double ContextSwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_nvcsw + u.ru_nivcsw);
}

// What one path of the stream cost: wall time, CPU time of the process and context
// switches. CPU and switches stay steady where the wall time follows the machine's load.
struct StreamCost {
    double seconds = 0, cpu = 0, switches = 0, syscalls = 0;
};

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// The device end: answers every 7-byte request with 20 bytes.
class Responder {
public:
    explicit Responder(testing::PtyPort& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~Responder() {
        stop_ = true;
        thread_.join();
    }

private:
    void Run() {
        std::vector<uint8_t> request(kRequest), reply(kReply, 0x5A);
        while (!stop_)
            if (pty_.ReadExact(request.data(), kRequest, 50) == kRequest)
                pty_.Write(reply.data(), kReply);
    }
    testing::PtyPort& pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void WaitInput(TOrvBaseDispatcher& d, uint32_t n) {
    while (d.InputCount() < n)
        std::this_thread::yield();
}

void TakeAll(TOrvBaseDispatcher& d, uint32_t n) {
    uint8_t b;
    for (uint32_t i = 0; i < n; ++i)
        d.TakeByte(b);
}

double DispatcherReceive(TOrvBaseDispatcher& d, testing::PtyPort& pty) {
    const std::vector<uint8_t> reply(kReply, 0x33);
    const auto t0 = Clock::now();
    pty.Write(reply.data(), kReply);
    WaitInput(d, kReply);
    const double us = Us(Clock::now() - t0);
    TakeAll(d, kReply);
    return us;
}

double DispatcherRoundTrip(TOrvBaseDispatcher& d) {
    const std::vector<uint8_t> request(kRequest, 0x01);
    const auto t0 = Clock::now();
    d.QueueBlock(request.data(), kRequest);
    WaitInput(d, kReply);
    TakeAll(d, kReply);
    return Us(Clock::now() - t0);
}

int OpenRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B921600);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

size_t ReadRaw(int fd, uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 1000);
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r > 0)
            got += size_t(r);
        else if (r == 0 || (r < 0 && errno != EAGAIN))
            break;
    }
    return got;
}

double RawReceive(int fd, testing::PtyPort& pty) {
    const std::vector<uint8_t> reply(kReply, 0x33);
    std::vector<uint8_t> got(kReply);
    const auto t0 = Clock::now();
    pty.Write(reply.data(), kReply);
    ReadRaw(fd, got.data(), kReply);
    return Us(Clock::now() - t0);
}

double RawRoundTrip(int fd) {
    const std::vector<uint8_t> request(kRequest, 0x01);
    std::vector<uint8_t> reply(kReply);
    const auto t0 = Clock::now();
    if (::write(fd, request.data(), kRequest) != ssize_t(kRequest))
        return 0;
    ReadRaw(fd, reply.data(), kReply);
    return Us(Clock::now() - t0);
}

// One round of `bytes` written by the peer in 4 KiB chunks while `take` consumes them;
// adds what it cost to `cost`.
template <class Take>
void StreamRound(testing::PtyPort& pty, size_t bytes, Take take, StreamCost& cost) {
    const std::vector<uint8_t> chunk(4096, 0x77);
    const double cpu0 = CpuSeconds(), switches0 = ContextSwitches();
    const uint64_t syscalls0 = gSyscalls.load();
    const auto t0 = Clock::now();
    std::thread writer([&] {
        for (size_t sent = 0; sent < bytes; sent += chunk.size())
            pty.Write(chunk.data(), chunk.size());
    });
    for (size_t got = 0; got < bytes;)
        got += take();
    writer.join();
    cost.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    cost.cpu += CpuSeconds() - cpu0;
    cost.switches += ContextSwitches() - switches0;
    cost.syscalls += double(gSyscalls.load() - syscalls0);
}

size_t TakeFromRing(TOrvBaseDispatcher& d, std::vector<uint8_t>& buf) {
    const uint32_t n = std::min<uint32_t>(d.InputCount(), uint32_t(buf.size()));
    if (n > 0 && d.TakeBlock(buf.data(), n) == ecOK)
        return n;
    std::this_thread::yield();
    return 0;
}

// Takes the stream in a data-available handler on the dispatcher worker, the way a
// program that waits for the component's notification consumes it; the caller sleeps
// until the whole round has been taken.
class AvailConsumer {
public:
    explicit AvailConsumer(TOrvBaseDispatcher& d) : d_(d), buf_(kInRingSize) {
        id_ = d.Triggers().AddEventHandler(
            [this](uint32_t msg, uint32_t, uint32_t) {
                if (msg == MsgTriggerAvail)
                    Take();
            },
            false);
        d.Triggers().SetAvailThreshold(1);
    }
    ~AvailConsumer() {
        d_.Triggers().SetAvailThreshold(0);
        d_.Triggers().RemoveEventHandler(id_);
    }
    // Waits until `bytes` more have been taken since the last call.
    size_t TakeRound(size_t bytes) {
        std::unique_lock lock(mutex_);
        want_ = bytes;
        cv_.wait(lock, [&] { return got_ >= want_; });
        got_ -= bytes;
        want_ = 0;
        return bytes;
    }

private:
    void Take() {
        const uint32_t n = std::min<uint32_t>(d_.InputCount(), uint32_t(buf_.size()));
        if (n == 0 || d_.TakeBlock(buf_.data(), n) != ecOK)
            return;
        std::lock_guard lock(mutex_);
        got_ += n;
        if (want_ != 0 && got_ >= want_)
            cv_.notify_one(); // the caller wakes once a round, not for every piece
    }
    TOrvBaseDispatcher& d_;
    std::vector<uint8_t> buf_; // dispatcher worker only
    int32_t id_ = 0;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t got_ = 0, want_ = 0; // mutex_
};

size_t TakeRaw(int fd, std::vector<uint8_t>& buf) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 1000);
    const ssize_t r = ::read(fd, buf.data(), buf.size());
    return r > 0 ? size_t(r) : 0;
}

void Report(const char* what, const std::vector<double>& viaDispatcher,
            const std::vector<double>& raw) {
    const double d50 = Percentile(viaDispatcher, 0.5), r50 = Percentile(raw, 0.5);
    std::printf("%s: dispatcher median %.1f us p99 %.1f us; raw termios median %.1f us p99 %.1f "
                "us; median ratio %.2f\n",
                what, d50, Percentile(viaDispatcher, 0.99), r50, Percentile(raw, 0.99), d50 / r50);
}

int Open(TOrvBaseDispatcher& d, testing::PtyPort& pty) {
    return d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096,
                      openopt::DtrOn | openopt::RtsOn);
}

} // namespace

// Opens an idle port, lets its workers settle into their waits, and times the close.
std::vector<double> IdleCloses(testing::PtyPort& pty, int n) {
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        TOrvPosixDispatcher d(nullptr);
        if (Open(d, pty) != ecOK)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const auto t0 = Clock::now();
        d.ClosePort();
        ms.push_back(Us(Clock::now() - t0) / 1e3);
    }
    return ms;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: dispatch_bench [exchanges (2000)] [idle seconds (10)]\n"
                    "Measures the dispatcher against raw termios on pseudo-terminals.\n"
                    "Exit status 0, or 1 when a pseudo-terminal cannot be opened.\n");
        return 0;
    }
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    testing::PtyPort ptyD(5), ptyR(6);
    TOrvPosixDispatcher d(nullptr);
    if (Open(d, ptyD) != ecOK) {
        std::fprintf(stderr, "cannot open the pty\n");
        return 1;
    }
    const int rawFd = OpenRaw(ptyR.SlavePath());
    std::vector<double> latencyD, latencyR, tripD, tripR;
    for (int i = 0; i < exchanges; ++i) {
        latencyD.push_back(DispatcherReceive(d, ptyD));
        latencyR.push_back(RawReceive(rawFd, ptyR));
    }
    {
        Responder responderD(ptyD), responderR(ptyR);
        for (int i = 0; i < exchanges; ++i) {
            tripD.push_back(DispatcherRoundTrip(d));
            tripR.push_back(RawRoundTrip(rawFd));
        }
    }
    StreamCost streamD, streamH, streamR;
    std::vector<uint8_t> buf(kInRingSize);
    constexpr size_t kRound = 1u << 20;
    for (size_t done = 0; done < kStreamBytes; done += kRound) {
        StreamRound(
            ptyD, kRound, [&] { return TakeFromRing(d, buf); }, streamD);
        StreamRound(
            ptyR, kRound, [&] { return TakeRaw(rawFd, buf); }, streamR);
        AvailConsumer consumer(d);
        StreamRound(
            ptyD, kRound, [&] { return consumer.TakeRound(kRound); }, streamH);
    }
    ::close(rawFd);
    const double cpu0 = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double idleCpu = (CpuSeconds() - cpu0) / idleSeconds * 100.0;

    std::printf("%d exchanges of each kind, alternating\n", exchanges);
    Report("receive latency (20 bytes)", latencyD, latencyR);
    Report("round trip 7 out / 20 back", tripD, tripR);
    const double mibs = double(kStreamBytes) / (1 << 20);
    const auto stream = [&](const char* how, const StreamCost& cost) {
        std::printf("16 MiB stream, %s: %.1f MiB/s against raw reads %.1f MiB/s, ratio %.0f%%; "
                    "per MiB %.1f ms CPU, %.0f context switches, %.0f I/O syscalls (raw %.1f ms, "
                    "%.0f, %.0f)\n",
                    how, mibs / cost.seconds, mibs / streamR.seconds,
                    100.0 * streamR.seconds / cost.seconds, 1e3 * cost.cpu / mibs,
                    cost.switches / mibs, cost.syscalls / mibs, 1e3 * streamR.cpu / mibs,
                    streamR.switches / mibs, streamR.syscalls / mibs);
    };
    stream("caller polls the ring", streamD);
    stream("taken in a data-available handler", streamH);
    std::printf("idle open port: %.2f%% of one core over %d s\n", idleCpu, idleSeconds);
    d.ClosePort();
    const std::vector<double> closes = IdleCloses(ptyD, 20);
    if (!closes.empty())
        std::printf("close of an idle port: median %.2f ms, max %.2f ms over %zu closes\n",
                    Percentile(closes, 0.5), *std::max_element(closes.begin(), closes.end()),
                    closes.size());
    return 0;
}
