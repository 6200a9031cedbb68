#include "platform/Clock.h"

// mmsystem.h needs the types of windows.h.
#include <windows.h>

#include <mmsystem.h>

namespace orvi::platform {

uint32_t TickCount() {
    return GetTickCount();
}

uint64_t PerformanceFrequency() {
    LARGE_INTEGER f{};
    return QueryPerformanceFrequency(&f) ? uint64_t(f.QuadPart) : 0;
}

uint64_t PerformanceCounter() {
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    return uint64_t(c.QuadPart);
}

uint32_t MultimediaTime() {
    return timeGetTime();
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

void YieldThread() {
    Sleep(0);
}

} // namespace orvi::platform
