#pragma once
// Thread priorities in the steps the serial stack uses: idle, lowest, lower, normal,
// higher, highest, time critical. Where the platform cannot change a thread's
// priority (POSIX without privileges) the request is ignored.
#include <thread>

namespace orvi::platform {

enum ThreadPriority : int {
    tpIdle = 0,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical,
};

// Values outside the range are clamped. Returns false when the system refused.
bool SetThreadPriority(std::thread& thread, int priority);

} // namespace orvi::platform
