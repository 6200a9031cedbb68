#pragma once
// Timing and file helpers shared by the serial dispatcher.
//
// Thread safety: MillisecondClock fixes the counter's rate on its first call (a
// thread-safe one-time initialisation) and may be called from any thread. A TickTimer
// is a plain value owned by whoever declared it; it has no lock.
#include <cstdint>

namespace orvi {

// Milliseconds of the high-resolution counter (the low 32 bits, so the value wraps
// after about 49.7 days), or of the multimedia clock when the counter is unusable.
uint32_t MillisecondClock();

// The counter ticks per millisecond for a counter frequency in Hz: frequency / 1000,
// plus 1 when the remainder exceeds 500. 0 when the counter is unusable: a frequency
// of 0, one that does not fit 32 bits, or one too slow to tick once per millisecond.
uint32_t TicksPerMillisecond(uint64_t frequency);

// A count-down in 55 ms ticks of MillisecondClock.
struct TickTimer {
    int32_t StartTick = 0;
    int32_t ExpireTick = 0;
};

constexpr uint32_t kTickMs = 55;
// Longest timer: 39045157 ticks of 55 ms is just under 2^31 ms.
constexpr int32_t kMaxTimerTicks = 39045157;

// Starts `timer` to run for `ticks` (limited to kMaxTimerTicks) from now.
void SetTickTimer(TickTimer& timer, int32_t ticks);
// The same at the clock reading `nowMs` (a MillisecondClock value).
void SetTickTimer(TickTimer& timer, int32_t ticks, uint32_t nowMs);

// True once the current tick is past the timer's expiry tick. A reading below the start
// tick means the 32-bit clock has wrapped since the timer was set; the reading is then
// counted on from the wrap, so the timer expires on time across the wrap.
bool TickTimerExpired(const TickTimer& timer);
// The same at the clock reading `nowMs`.
bool TickTimerExpired(const TickTimer& timer, uint32_t nowMs);

// All ones when a file (not a directory) of that name exists, else 0. A null or empty
// name gives 0.
uint32_t FileExistsFlag(const char* name);

} // namespace orvi
