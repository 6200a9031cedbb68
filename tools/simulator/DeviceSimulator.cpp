#include "tools/simulator/DeviceSimulator.h"

#include "tools/simulator/DeviceModel.h"
#include "tools/simulator/FrameParser.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
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

} // namespace

int64_t SteadySimClock::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The device thread's state and its steps.
struct DeviceSimulator::Engine {
    struct Pending {
        int64_t dueMs;
        std::vector<uint8_t> bytes;
    };

    explicit Engine(Scenario scenario) : model(std::move(scenario)) {}

    int TimeoutMs(int64_t nowMs) const;
    void Wait(int master, int wake, int64_t nowMs);
    void ReadRequests(int master, int64_t nowMs);
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
    SimCounters counters;
};

int DeviceSimulator::Engine::TimeoutMs(int64_t nowMs) const {
    if (pending.empty())
        return -1;
    const int64_t left = pending.front().dueMs - nowMs;
    return int(std::clamp<int64_t>(left, 0, INT_MAX));
}

void DeviceSimulator::Engine::Wait(int master, int wake, int64_t nowMs) {
    pollfd fds[2] = {{masterGone ? -1 : master, POLLIN, 0}, {wake, POLLIN, 0}};
    if (!out.empty())
        fds[0].events |= POLLOUT;
    masterReadable = false;
    if (poll(fds, 2, TimeoutMs(nowMs)) <= 0)
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
    for (const RequestKind kind : parser.Feed(chunk, size_t(got))) {
        Count(kind);
        if (auto reply = model.Answer(kind)) {
            ++counters.repliesQueued;
            const int64_t due = nowMs + model.GetScenario().replyDelayMs + model.ExtraDelayMs();
            const auto at = std::upper_bound(pending.begin(), pending.end(), due,
                                             [](int64_t d, const Pending& p) { return d < p.dueMs; });
            pending.insert(at, {due, std::move(*reply)});
        }
    }
}

void DeviceSimulator::Engine::ReleaseDue(int64_t nowMs) {
    while (!pending.empty() && pending.front().dueMs <= nowMs) {
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
