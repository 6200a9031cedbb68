#pragma once
// What the dispatcher needs from the thread that owns it, replaceable by the layer
// above (the component's event window, the application):
//   - processing one pending message of the calling thread, used while the owner waits
//     for workers that may be blocked sending a message to that thread;
//   - running a synchronised handler on the owning thread.
// An exception that escapes a worker goes to the application's exception display
// (serial/ApplicationException.h).
#include <functional>

namespace orvi {

// Processes at most one pending message of the calling thread, waiting briefly (about
// a millisecond) for one; a quit request is left for the thread's own loop. On a
// thread that owns no message queue it only waits. The default does this with the
// platform's message queue of the calling thread.
void ProcessOnePendingMessage();
void SetPendingMessageProcessor(std::function<void()> processor);

// Runs `work` on the thread that owns the dispatchers (the GUI thread) and returns
// when it has run; used for synchronised event handlers. The default runs it on the
// calling thread.
void RunOnOwningThread(const std::function<void()>& work);
void SetOwningThreadRunner(std::function<void(const std::function<void()>&)> runner);

// Asked before each worker thread is created; false makes that creation fail as if the
// system had refused it. For tests of a failed start; none is set by default.
void SetWorkerStartGate(std::function<bool()> gate);
bool WorkerStartAllowed();

} // namespace orvi
