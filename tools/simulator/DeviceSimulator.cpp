#include "tools/simulator/DeviceSimulator.h"

#include "platform/Termios2_linux.h"
#include "tools/simulator/DeviceModel.h"
#include "tools/simulator/FrameParser.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvi::sim {

namespace {

constexpr size_t kReadChunk = 512;

struct Pipe {
    int read = -1;
    int write = -1;
};

Pipe OpenWakePipe() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("DeviceSimulator: pipe: ") + std::strerror(errno));
    return {fds[0], fds[1]};
}

void Drain(int fd) {
    uint8_t sink[64];
    while (read(fd, sink, sizeof sink) > 0) {
    }
}

int64_t SteadyNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

int64_t SteadySimClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The device thread's state and its steps.
struct DeviceSimulator::Engine {
    struct Pending {
        int64_t dueMs;
        int64_t dueUs; // on the steady clock: the reply's time on the line is over
        std::vector<uint8_t> bytes;
    };

    explicit Engine(Scenario scenario) : model(std::move(scenario)) {}

    // How long the device thread may sleep; -1: until something happens.
    int64_t TimeoutUs(int64_t nowMs, int64_t nowUs) const;
    void Wait(int master, int wake, int64_t nowMs);
    void ReadRequests(int master, int64_t nowMs);
    // When the reply to a request of `requestLength` bytes, read at `nowUs`, has crossed
    // the line (Scenario::lineTime, reactUs).
    int64_t ReplyDueUs(int master, int64_t nowUs, size_t requestLength, size_t replyLength);
    void ReleaseDue(int64_t nowMs);
    void WriteOut(int master);
    void Count(RequestKind kind);
    SimCounters Snapshot() const;

    DeviceModel model;
    FrameParser parser;
    std::deque<Pending> pending;          // answered, not yet due; in order of due time
    std::deque<std::vector<uint8_t>> out; // due, being written
    size_t outOffset = 0;                 // bytes of out.front() already written
    bool masterReadable = false;
    bool masterGone = false; // the pty failed: stop touching it
    // Scenario::lineTime: when each direction of the line is free again (steady clock, us).
    int64_t requestLineFreeUs = 0;
    int64_t replyLineFreeUs = 0;
    SimCounters counters;
};

int64_t DeviceSimulator::Engine::TimeoutUs(int64_t nowMs, int64_t nowUs) const {
    if (pending.empty())
        return -1;
    const Pending& next = pending.front();
    return std::max<int64_t>({(next.dueMs - nowMs) * 1000, next.dueUs - nowUs, 0});
}

void DeviceSimulator::Engine::Wait(int master, int wake, int64_t nowMs) {
    pollfd fds[2] = {{masterGone ? -1 : master, POLLIN, 0}, {wake, POLLIN, 0}};
    if (!out.empty())
        fds[0].events |= POLLOUT;
    masterReadable = false;
    const int64_t timeoutUs = TimeoutUs(nowMs, SteadyNowUs());
    const timespec timeout{time_t(timeoutUs / 1000000), long(timeoutUs % 1000000) * 1000};
    if (ppoll(fds, 2, timeoutUs < 0 ? nullptr : &timeout, nullptr) <= 0)
        return;
    masterReadable = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void DeviceSimulator::Engine::ReadRequests(int master, int64_t nowMs) {
    if (!masterReadable || masterGone)
        return;
    uint8_t chunk[kReadChunk];
    const ssize_t got = read(master, chunk, sizeof chunk);
    if (got <= 0) {
        masterGone = got == 0 || (errno != EAGAIN && errno != EINTR);
        return;
    }
    counters.bytesReceived += uint64_t(got);
    const int64_t nowUs = SteadyNowUs();
    for (const RequestKind kind : parser.Feed(chunk, size_t(got))) {
        Count(kind);
        const size_t requestLength =
            kind == RequestKind::Flash ? kFlashRequest.size() : kHousingRequest.size();
        if (auto reply = model.Answer(kind)) {
            ++counters.repliesQueued;
            const int64_t due = nowMs + model.GetScenario().replyDelayMs + model.ExtraDelayMs();
            const int64_t dueUs = ReplyDueUs(master, nowUs, requestLength, reply->size());
            const auto at =
                std::upper_bound(pending.begin(), pending.end(), due,
                                 [](int64_t d, const Pending& p) { return d < p.dueMs; });
            pending.insert(at, {due, dueUs, std::move(*reply)});
        }
    }
}

int64_t DeviceSimulator::Engine::ReplyDueUs(int master, int64_t nowUs, size_t requestLength,
                                            size_t replyLength) {
    const Scenario& s = model.GetScenario();
    if (!s.lineTime)
        return nowUs + s.reactUs;
    // The rate is read at every request: the port sets it after the device has started.
    const uint32_t baud = platform::ReadBaudRate(master);
    const double byteUs = baud == 0 ? 0.0 : 10e6 / baud;
    const auto onLine = [&](size_t bytes) { return int64_t(std::llround(double(bytes) * byteUs)); };
    requestLineFreeUs = std::max(nowUs, requestLineFreeUs) + onLine(requestLength);
    const int64_t replyStartUs = std::max(requestLineFreeUs + s.reactUs, replyLineFreeUs);
    replyLineFreeUs = replyStartUs + onLine(replyLength);
    return replyLineFreeUs;
}

void DeviceSimulator::Engine::ReleaseDue(int64_t nowMs) {
    const int64_t nowUs = SteadyNowUs();
    while (!pending.empty() && pending.front().dueMs <= nowMs && pending.front().dueUs <= nowUs) {
        out.push_back(std::move(pending.front().bytes));
        pending.pop_front();
    }
}

void DeviceSimulator::Engine::WriteOut(int master) {
    while (!out.empty() && !masterGone) {
        const std::vector<uint8_t>& front = out.front();
        if (outOffset < front.size()) {
            const ssize_t w = write(master, front.data() + outOffset, front.size() - outOffset);
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0) {
                masterGone = errno != EAGAIN;
                return;
            }
            outOffset += size_t(w);
            counters.bytesSent += uint64_t(w);
            continue;
        }
        ++counters.repliesSent;
        out.pop_front();
        outOffset = 0;
    }
}

void DeviceSimulator::Engine::Count(RequestKind kind) {
    switch (kind) {
    case RequestKind::Housing:
        ++counters.housingRequests;
        break;
    case RequestKind::Sensor:
        ++counters.sensorRequests;
        break;
    case RequestKind::Flash:
        ++counters.flashRequests;
        break;
    }
}

SimCounters DeviceSimulator::Engine::Snapshot() const {
    SimCounters c = counters;
    c.skippedBytes = parser.Stats().skippedBytes;
    c.badCrc = parser.Stats().badCrc;
    c.unknownFrames = parser.Stats().unknownFrames;
    return c;
}

DeviceSimulator::DeviceSimulator(Scenario scenario, PortSetup port, const SimClock* clock)
    : pty_(port.comNumber, port.folder), clock_(clock != nullptr ? *clock : steadyClock_),
      engine_(std::make_unique<Engine>(std::move(scenario))) {
    const Pipe wake = OpenWakePipe();
    wakeRead_ = wake.read;
    wakeWrite_ = wake.write;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        close(wakeRead_);
        close(wakeWrite_);
        throw;
    }
}

DeviceSimulator::~DeviceSimulator() {
    Stop();
    close(wakeRead_);
    close(wakeWrite_);
}

void DeviceSimulator::Stop() {
    stopping_ = true;
    const uint8_t byte = 1;
    [[maybe_unused]] const ssize_t w = write(wakeWrite_, &byte, 1);
    if (thread_.joinable())
        thread_.join();
}

void DeviceSimulator::Unplug() {
    Stop();
    pty_.CloseMaster();
}

void DeviceSimulator::Sync() {
    std::unique_lock<std::mutex> lock(lock_);
    const uint64_t ticket = ++syncRequested_;
    lock.unlock();
    const uint8_t byte = 1;
    [[maybe_unused]] const ssize_t w = write(wakeWrite_, &byte, 1);
    lock.lock();
    synced_.wait(lock, [&] { return syncServed_ >= ticket || !running_; });
}

SimCounters DeviceSimulator::Counters() const {
    std::lock_guard<std::mutex> lock(lock_);
    return counters_;
}

uint64_t DeviceSimulator::SyncRequested() const {
    std::lock_guard<std::mutex> lock(lock_);
    return syncRequested_;
}

void DeviceSimulator::Publish(const SimCounters& counters, uint64_t syncSeen) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        counters_ = counters;
        syncServed_ = syncSeen;
    }
    synced_.notify_all();
}

void DeviceSimulator::Run() {
    // Replies paced at the line's speed are due microseconds apart: the kernel's default
    // slack of 50 us on every timed wait would add itself to each of them.
    prctl(PR_SET_TIMERSLACK, 1UL);
    Engine& e = *engine_;
    const int master = pty_.MasterFd();
    while (!stopping_) {
        e.Wait(master, wakeRead_, clock_.NowMs());
        // Drained before the sync count is read: a Sync whose wake-up is consumed here
        // is then always served by this pass.
        Drain(wakeRead_);
        const uint64_t syncSeen = SyncRequested();
        const int64_t now = clock_.NowMs();
        e.ReadRequests(master, now);
        e.ReleaseDue(now);
        e.WriteOut(master);
        Publish(e.Snapshot(), syncSeen);
    }
    {
        std::lock_guard<std::mutex> lock(lock_);
        running_ = false;
    }
    synced_.notify_all();
}

} // namespace orvi::sim
