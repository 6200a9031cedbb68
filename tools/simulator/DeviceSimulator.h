#pragma once
// The measuring device, simulated on the master side of a pseudo-terminal whose slave
// is linked as COM<n> in a port override folder, so that the console finds it in the
// serial device map ("\Device\USBSER000" -> "COMn") and opens it like an adapter.
//
// Threads: the thread that creates a DeviceSimulator owns it and calls Stop and the
// destructor. The device thread, started by the constructor, owns the model, the
// parser, the reply queue and all I/O on the master. Counters and Sync may be called
// from any thread.
#include "tools/pty/PtyPort.h"
#include "tools/simulator/Scenario.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace orvi::sim {

// Time source of the reply delays, milliseconds on a monotonic scale. Tests inject a
// clock they move by hand (and call DeviceSimulator::Sync after moving it).
class SimClock {
public:
    virtual ~SimClock() = default;
    virtual int64_t NowMs() const = 0;
};

class SteadySimClock final : public SimClock {
public:
    int64_t NowMs() const override;
};

// What the device has seen and done so far.
struct SimCounters {
    uint64_t bytesReceived = 0;
    uint64_t skippedBytes = 0;
    uint64_t badCrc = 0;
    uint64_t unknownFrames = 0;
    uint64_t housingRequests = 0;
    uint64_t sensorRequests = 0;
    uint64_t flashRequests = 0;
    uint64_t repliesQueued = 0; // requests the device decided to answer
    uint64_t repliesSent = 0;   // replies written out completely
    uint64_t bytesSent = 0;

    uint64_t Requests() const { return housingRequests + sensorRequests + flashRequests; }
};

struct PortSetup {
    int comNumber = 5;
    // An existing folder to put the COM<n> link in; empty for a temporary override
    // folder that the process's port lookup is pointed at.
    std::string folder;
};

class DeviceSimulator {
public:
    // Opens the pty, links it and starts the device thread. Throws std::runtime_error
    // when the pty, the link or the thread cannot be made. `clock`, when given, must
    // outlive the simulator.
    explicit DeviceSimulator(Scenario scenario, PortSetup port = {},
                             const SimClock* clock = nullptr);
    ~DeviceSimulator(); // Stop, then the link goes
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Ends the device thread; replies still queued are dropped. Safe to call twice.
    void Stop();
    // Stops and closes the device end of the pty, as pulling the adapter out would: the
    // port's side hangs up. The link stays until the simulator goes.
    void Unplug();

    // Returns once the device thread has gone through its loop after this call: it has
    // read the clock anew, handed every reply due by then to the pty (as far as the pty
    // takes them), and Counters include all that. Returns at once when stopped.
    void Sync();

    SimCounters Counters() const;

    int ComNumber() const { return pty_.ComNumber(); }
    std::string DeviceName() const { return pty_.DeviceName(); } // "\\.\COM<n>"
    std::string SlavePath() const { return pty_.SlavePath(); }
    std::string Folder() const { return pty_.OverrideDir(); }

private:
    struct Engine;
    void Run();
    void Publish(const SimCounters& counters, uint64_t syncSeen);
    uint64_t SyncRequested() const;

    testing::PtyPort pty_;
    SteadySimClock steadyClock_;
    const SimClock& clock_;
    int wakeRead_ = -1; // pipe that interrupts the device thread's wait
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};

    mutable std::mutex lock_;
    std::condition_variable synced_;
    SimCounters counters_;       // guarded by lock_
    uint64_t syncRequested_ = 0; // guarded by lock_
    uint64_t syncServed_ = 0;    // guarded by lock_
    bool running_ = true;        // guarded by lock_; false once the device thread ended

    std::unique_ptr<Engine> engine_; // device thread only
    std::thread thread_;
};

} // namespace orvi::sim
