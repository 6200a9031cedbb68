#include "platform/Thread.h"

namespace orvi::platform {

// Linux threads under the default scheduler share one static priority; raising
// the nice value of a single thread needs privileges the console does not have, so
// the request is accepted and ignored.
bool SetThreadPriority(std::thread& thread, int priority) {
    (void)priority;
    return thread.joinable();
}

} // namespace orvi::platform
