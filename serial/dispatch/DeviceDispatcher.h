#pragma once
// The device layer of the dispatcher: device operations over the platform's
// communications device, and the three worker threads that move the data.
//
//   event worker (TComThread)       waits for communication events, hands each to the
//                                   dispatcher worker (ComEventReady) and waits until it
//                                   was processed (ComEventDone); where the dispatcher
//                                   worker watches input itself (POSIX), received bytes
//                                   are not among these events;
//   dispatcher worker (TDispThread) every event, on input (where the device lets it
//                                   wait for input) and at least every 50 ms: fills
//                                   the input ring, checks triggers, calls handlers;
//                                   with ReadOnCaller on, the caller's WaitAndRead
//                                   watches and reads input instead, and the worker
//                                   wakes for events and its 50 ms pass only;
//   output worker (TOutThread)      writes the output ring to the device, one write per
//                                   pass, and serves purges (OutFlush -> OutFlushAck);
//                                   with WriteAtOnce on, a block queued while nothing is
//                                   pending goes to the device from the queuing thread
//                                   (DeviceWrite, under OutLock), and the worker gets only
//                                   what the driver did not take.
//
// The logic is the same on every platform; TOrvWin32Dispatcher and
// TOrvPosixDispatcher only name the platform's flavour, and TOrvPlatformDispatcher is
// the one this build makes.
//
// Threads: the owning thread creates, opens, closes and destroys the dispatcher. The
// worker threads live from StartWorkers until they end by themselves (after a stop or
// a deferred close); the destructor waits for all of them and joins them. A worker uses
// the dispatcher (its device, rings, events and locks) until it ends, so a dispatcher
// whose close let go of a worker stuck in a device call (WorkersLetGo) is destroyed
// through TOrvBaseDispatcher::Dispose, which keeps it until that worker has ended.
#include "platform/CommDevice.h"
#include "platform/Event.h"
#include "serial/dispatch/BaseDispatcher.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace orvi {

class TOrvDeviceDispatcher;

// One worker thread of a dispatcher. Execute runs the worker's loop; an exception that
// escapes it is shown with the worker exception display and the worker still reports
// its end, so the dispatcher's worker count always returns to 0.
class TOrvDispatcherThread {
public:
    explicit TOrvDispatcherThread(TOrvDeviceDispatcher& dispatcher);
    virtual ~TOrvDispatcherThread();
    TOrvDispatcherThread(const TOrvDispatcherThread&) = delete;
    TOrvDispatcherThread& operator=(const TOrvDispatcherThread&) = delete;

    // False when the thread could not be created.
    bool Start();
    void Join(); // owning thread only, after the worker ended
    bool Running() const { return running_.load(); }
    bool IsCurrentThread() const;
    std::thread& Thread() { return thread_; }

protected:
    virtual void Execute() = 0;
    // The dispatcher worker releases the port when its close was deferred.
    virtual bool ReleasesPort() const { return false; }
    TOrvDeviceDispatcher& dispatcher_;

private:
    void Run();
    std::thread thread_; // owning thread only
    std::atomic<bool> running_{false};
};

class TComThread final : public TOrvDispatcherThread {
public:
    using TOrvDispatcherThread::TOrvDispatcherThread;

protected:
    void Execute() override;
};

class TDispThread final : public TOrvDispatcherThread {
public:
    using TOrvDispatcherThread::TOrvDispatcherThread;

protected:
    void Execute() override;
    bool ReleasesPort() const override { return true; }
};

class TOutThread final : public TOrvDispatcherThread {
public:
    using TOrvDispatcherThread::TOrvDispatcherThread;

protected:
    void Execute() override;

private:
    void SendPending();
};

class TOrvDeviceDispatcher : public TOrvBaseDispatcher {
public:
    explicit TOrvDeviceDispatcher(TOrvDispatcherOwner* owner);
    ~TOrvDeviceDispatcher() override;

    // Communication events the event worker waits for: received character, CTS, DSR,
    // DCD, break, line error, ring. Where the device lets the dispatcher worker wait for
    // input itself, received characters are left out: the dispatcher worker already
    // wakes on them, and a second worker woken for every arrival only hands the same
    // news over again.
    static constexpr uint32_t kEventMask =
        platform::ev::RxChar | platform::ev::Cts | platform::ev::Dsr | platform::ev::Rlsd |
        platform::ev::Break | platform::ev::Err | platform::ev::Ring;
    static uint32_t EventWorkerMask();
    static constexpr uint32_t kDispatchPassMs = 50;
    static constexpr uint32_t kWorkerStartMs = 3000;
    static constexpr uint32_t kPurgeWaitMs = 5000;
    static constexpr uint32_t kStopWaitMs = 36 * 55;

    // True while the event worker runs (false after its wait failed: unplug or a driver
    // that refuses the event wait; the 50 ms pass then carries the data).
    bool EventWorkerRunning() const;

protected:
    int32_t DeviceEscape(uint32_t func) override;
    int32_t DevicePurge(TPurgeWhich which, std::chrono::milliseconds waitLimit) override;
    uint32_t DeviceStatus(platform::CommStatus& status) override;
    int32_t DeviceErrorHook(int32_t code) override;
    int32_t DeviceGetState(platform::DeviceState& state) override;
    int32_t DeviceRead(uint8_t* buffer, uint32_t count) override;
    int32_t DeviceSetState(const platform::DeviceState& state) override;
    int32_t DeviceWrite(const uint8_t* data, uint32_t count) override;
    bool DeviceSetupQueues(uint32_t inSize, uint32_t outSize) override;
    bool StartWorkers() override;
    void StopWorkers() override;
    int32_t DeviceOpen(const std::string& name, uint32_t inSize, uint32_t outSize) override;
    int32_t DeviceClose(std::chrono::milliseconds limit) override;
    int32_t DeviceYield() override;
    uint32_t DeviceModemStatus() override;
    bool OtherWorkersRunning() const override;
    void RequestInputFill() override;
    bool DeviceCanWaitInput() const override;
    bool DeviceWaitInput(uint32_t timeoutMs) override;
    void ApplyWorkerPriorities() override;

    platform::CommDevice& Device() { return device_; }

private:
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

    bool EventsValid() const;
    std::array<TOrvDispatcherThread*, 3> Workers() const;
    void StopThread(TOrvDispatcherThread* worker, const std::function<void()>& wake,
                    uint32_t timeoutMs);

    platform::CommDevice device_;

    // Synchronisation events, alive as long as the dispatcher (never closed under a
    // worker's feet).
    platform::Event ComEventReady{false};
    platform::Event ComEventDone{false};
    platform::Event WorkerAck{false};
    platform::Event OutDataReady{false};
    platform::Event OutFlush{false};
    // Set by the output worker alone, when it has stopped sending for a purge.
    platform::Event OutFlushAck{false};
    platform::Event InputSpace{false}; // room in the input ring for waiting bytes
    // Set by a close only: ends a caller's wait for input (DeviceWaitInput) at once, and
    // makes one on a device that is not watched wait its time instead of returning.
    platform::Event CallerInputEnd{false};

    // Created in StartWorkers and joined by the destructor; the owning thread only.
    std::unique_ptr<TComThread> comThread_;
    std::unique_ptr<TDispThread> dispThread_;
    std::unique_ptr<TOutThread> outThread_;
};

// The platform flavours. Both run the same device layer over platform::CommDevice.
// A class derived from either calls Shutdown() first in its destructor.
class TOrvWin32Dispatcher : public TOrvDeviceDispatcher {
public:
    using TOrvDeviceDispatcher::TOrvDeviceDispatcher;
    ~TOrvWin32Dispatcher() override { Shutdown(); }
};

class TOrvPosixDispatcher : public TOrvDeviceDispatcher {
public:
    using TOrvDeviceDispatcher::TOrvDeviceDispatcher;
    ~TOrvPosixDispatcher() override { Shutdown(); }
};

} // namespace orvi
