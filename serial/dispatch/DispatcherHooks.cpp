#include "serial/dispatch/DispatcherHooks.h"

#include "platform/Clock.h"
#include "platform/MessageTarget.h"

#include <mutex>

namespace orvi {

namespace {
std::mutex gHookLock;
std::function<void()> gProcessor;
std::function<void(const std::function<void()>&)> gRunner;
std::function<bool()> gStartGate;

template <class F> F Copy(const F& hook) {
    std::lock_guard lock(gHookLock);
    return hook;
}
} // namespace

void ProcessOnePendingMessage() {
    if (auto processor = Copy(gProcessor)) {
        processor();
        return;
    }
    bool quit = false;
    if (!platform::ProcessOneMessage(1, &quit) && quit)
        platform::SleepMs(1); // the quit stays queued for the thread's own loop
}

void SetPendingMessageProcessor(std::function<void()> processor) {
    std::lock_guard lock(gHookLock);
    gProcessor = std::move(processor);
}

void RunOnOwningThread(const std::function<void()>& work) {
    if (auto runner = Copy(gRunner))
        runner(work);
    else
        work();
}

void SetOwningThreadRunner(std::function<void(const std::function<void()>&)> runner) {
    std::lock_guard lock(gHookLock);
    gRunner = std::move(runner);
}

void SetWorkerStartGate(std::function<bool()> gate) {
    std::lock_guard lock(gHookLock);
    gStartGate = std::move(gate);
}

bool WorkerStartAllowed() {
    auto gate = Copy(gStartGate);
    return !gate || gate();
}

} // namespace orvi
