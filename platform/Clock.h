#pragma once
// Time sources of the platform: the system tick counter, a high-resolution counter,
// the multimedia clock, sleeping and yielding.
#include <cstdint>

namespace orvi::platform {

// Milliseconds since the system started, 32 bits, wrapping after about 49.7 days
// (the Windows GetTickCount contract).
uint32_t TickCount();

// High-resolution performance counter. PerformanceFrequency returns 0 when the
// platform has no usable counter.
uint64_t PerformanceFrequency();
uint64_t PerformanceCounter();

// Milliseconds of the multimedia system clock (timeGetTime on Windows), 32 bits.
uint32_t MultimediaTime();

void SleepMs(uint32_t ms);

// Gives up the rest of the calling thread's time slice.
void YieldThread();

} // namespace orvi::platform
