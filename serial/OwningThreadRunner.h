#pragma once
// The runner that executes the dispatcher's synchronised handlers on the thread that
// owns the dispatchers (the thread that opened the first port), and the count of handler
// calls running on a thread, which the component's close consults.
//
// Threads: InstallOwningThreadRunner is called on the owning thread; the runner it
// installs is called from worker threads, which wait while the owning thread runs the
// handler. HandlerCall counts per thread (thread_local), so it needs no lock.

namespace orvi {

// Installs the runner once per process (later calls do nothing). Its message target
// lives for the program.
void InstallOwningThreadRunner();

// Marks a handler call (an event window message, a synchronised dispatcher handler) as
// running on the calling thread while the object lives.
class HandlerCall {
public:
    HandlerCall();
    ~HandlerCall();
    HandlerCall(const HandlerCall&) = delete;
    HandlerCall& operator=(const HandlerCall&) = delete;

    // True while at least one handler call runs on the calling thread.
    static bool Running();
};

} // namespace orvi
