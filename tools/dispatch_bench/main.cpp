// Measures the dispatcher on a pseudo-terminal at 921600 baud against raw termios
// reads and writes on the same pty:
//   - receive latency: the peer writes 20 bytes; time until InputCount reaches 20;
//   - round trip: QueueBlock 7, the peer answers 20, take them; against raw write/read;
//   - a 16 MiB stream into the input ring, taken as it arrives; against raw reads;
//   - CPU used by an open, idle port.
// Usage: dispatch_bench [exchanges] [idle seconds]
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
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace orvi;
using Clock = std::chrono::steady_clock;

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

std::vector<double> ReceiveLatency(TOrvBaseDispatcher& d, testing::PtyPort& pty, int count) {
    std::vector<double> us;
    std::vector<uint8_t> reply(kReply, 0x33);
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        pty.Write(reply.data(), kReply);
        WaitInput(d, kReply);
        us.push_back(Us(Clock::now() - t0));
        TakeAll(d, kReply);
    }
    return us;
}

std::vector<double> DispatcherRoundTrips(TOrvBaseDispatcher& d, int count) {
    std::vector<double> us;
    std::vector<uint8_t> request(kRequest, 0x01);
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        d.QueueBlock(request.data(), kRequest);
        WaitInput(d, kReply);
        TakeAll(d, kReply);
        us.push_back(Us(Clock::now() - t0));
    }
    return us;
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

std::vector<double> RawRoundTrips(const std::string& path, int count) {
    const int fd = OpenRaw(path);
    std::vector<double> us;
    std::vector<uint8_t> request(kRequest, 0x01), reply(kReply);
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        if (::write(fd, request.data(), kRequest) != ssize_t(kRequest))
            break;
        ReadRaw(fd, reply.data(), kReply);
        us.push_back(Us(Clock::now() - t0));
    }
    ::close(fd);
    return us;
}

double StreamIntoRing(TOrvBaseDispatcher& d, testing::PtyPort& pty) {
    std::vector<uint8_t> chunk(4096, 0x77);
    const auto t0 = Clock::now();
    std::thread writer([&] {
        for (size_t sent = 0; sent < kStreamBytes; sent += chunk.size())
            pty.Write(chunk.data(), chunk.size());
    });
    std::vector<uint8_t> buf(kInRingSize);
    for (size_t got = 0; got < kStreamBytes;) {
        const uint32_t n = std::min<uint32_t>(d.InputCount(), uint32_t(buf.size()));
        if (n > 0 && d.TakeBlock(buf.data(), n) == ecOK)
            got += n;
        else
            std::this_thread::yield();
    }
    writer.join();
    return double(kStreamBytes) / (1 << 20) /
           std::chrono::duration<double>(Clock::now() - t0).count();
}

double StreamRaw(const std::string& path, testing::PtyPort& pty) {
    const int fd = OpenRaw(path);
    std::vector<uint8_t> chunk(4096, 0x77), buf(8192);
    const auto t0 = Clock::now();
    std::thread writer([&] {
        for (size_t sent = 0; sent < kStreamBytes; sent += chunk.size())
            pty.Write(chunk.data(), chunk.size());
    });
    for (size_t got = 0; got < kStreamBytes;) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 1000);
        const ssize_t r = ::read(fd, buf.data(), buf.size());
        if (r > 0)
            got += size_t(r);
    }
    writer.join();
    ::close(fd);
    return double(kStreamBytes) / (1 << 20) /
           std::chrono::duration<double>(Clock::now() - t0).count();
}

int Open(TOrvBaseDispatcher& d, testing::PtyPort& pty) {
    return d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096,
                      openopt::DtrOn | openopt::RtsOn);
}

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    testing::PtyPort pty(5);
    std::vector<double> latency, viaDispatcher, raw;
    double ringMiBs = 0, rawMiBs = 0, idleCpu = 0;
    {
        TOrvPosixDispatcher d(nullptr);
        if (Open(d, pty) != ecOK) {
            std::fprintf(stderr, "cannot open the pty\n");
            return 1;
        }
        latency = ReceiveLatency(d, pty, exchanges);
        {
            Responder responder(pty);
            viaDispatcher = DispatcherRoundTrips(d, exchanges);
        }
        ringMiBs = StreamIntoRing(d, pty);
        const double cpu0 = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        idleCpu = (CpuSeconds() - cpu0) / idleSeconds * 100.0;
    }
    {
        Responder responder(pty);
        raw = RawRoundTrips(pty.SlavePath(), exchanges);
    }
    rawMiBs = StreamRaw(pty.SlavePath(), pty);

    std::printf(
        "receive latency (20 bytes to InputCount): median %.1f us, p99 %.1f us (%d exchanges)\n",
        Percentile(latency, 0.5), Percentile(latency, 0.99), exchanges);
    const double rtD = Percentile(viaDispatcher, 0.5), rtR = Percentile(raw, 0.5);
    std::printf("round trip 7 out / 20 back: dispatcher median %.1f us p99 %.1f us; raw termios "
                "median %.1f us p99 %.1f us; ratio %.2f\n",
                rtD, Percentile(viaDispatcher, 0.99), rtR, Percentile(raw, 0.99), rtD / rtR);
    std::printf("16 MiB stream: input ring %.1f MiB/s, raw reads %.1f MiB/s, ratio %.0f%%\n",
                ringMiBs, rawMiBs, 100.0 * ringMiBs / rawMiBs);
    std::printf("idle open port: %.2f%% of one core over %d s\n", idleCpu, idleSeconds);
    return 0;
}
