#include "platform/Clock.h"

#include <sched.h>
#include <time.h>

namespace orvi::platform {

namespace {
uint64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}
} // namespace

uint32_t TickCount() {
    return uint32_t(MonotonicNs() / 1000000u);
}

uint64_t PerformanceFrequency() {
    return 1000000000u;
}

uint64_t PerformanceCounter() {
    return MonotonicNs();
}

uint32_t MultimediaTime() {
    return TickCount();
}

void SleepMs(uint32_t ms) {
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

void YieldThread() {
    sched_yield();
}

} // namespace orvi::platform
