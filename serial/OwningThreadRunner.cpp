#include "serial/OwningThreadRunner.h"

#include "platform/Event.h"
#include "platform/MessageTarget.h"
#include "serial/dispatch/DispatcherHooks.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>

namespace orvi {

namespace {

// A private message of the owning-thread runner's target: run the closure in wParam.
constexpr uint32_t kMsgRunClosure = 0x7E20;

// How many handler calls (event window messages, synchronised dispatcher handlers) are
// running on this thread right now.
thread_local int tHandlerDepth = 0;

// One synchronised handler call, carried to the owning thread by a sent message.
struct ClosureCall {
    const std::function<void()>* Work;
    std::exception_ptr Error;
};

intptr_t RunClosure(uint32_t msg, uintptr_t wParam, intptr_t) {
    if (msg != kMsgRunClosure)
        return 0;
    auto* call = reinterpret_cast<ClosureCall*>(wParam);
    const HandlerCall running;
    try {
        (*call->Work)();
    } catch (...) {
        call->Error = std::current_exception(); // raised again on the calling worker
    }
    return 0;
}

// The thread that opens the first port owns the dispatchers: synchronised handlers run
// there, while the worker that called them waits. The target lives for the program.
platform::MessageTarget* gClosureTarget = nullptr;

} // namespace

HandlerCall::HandlerCall() {
    ++tHandlerDepth;
}

HandlerCall::~HandlerCall() {
    --tHandlerDepth;
}

bool HandlerCall::Running() {
    return tHandlerDepth > 0;
}

void InstallOwningThreadRunner() {
    static std::once_flag once;
    std::call_once(once, [] {
        gClosureTarget = new platform::MessageTarget(RunClosure);
        const platform::WindowHandle target = gClosureTarget->Handle();
        SetOwningThreadRunner([target](const std::function<void()>& work) {
            if (platform::IsOwnedByCallingThread(target)) {
                work();
                return;
            }
            ClosureCall call{&work, nullptr};
            // A target that is gone (its thread ended) cannot run it: run it here.
            if (!platform::SendMessageWithTimeout(target, kMsgRunClosure,
                                                  reinterpret_cast<uintptr_t>(&call), 0,
                                                  platform::kInfinite, nullptr)) {
                work();
                return;
            }
            if (call.Error)
                std::rethrow_exception(call.Error);
        });
    });
}

} // namespace orvi
