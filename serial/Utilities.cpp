#include "serial/Utilities.h"

#include "platform/Clock.h"

#include <filesystem>
#include <limits>
#include <system_error>

namespace orvi {

uint32_t TicksPerMillisecond(uint64_t frequency) {
    if (frequency == 0 || frequency > std::numeric_limits<uint32_t>::max())
        return 0;
    uint64_t ticks = frequency / 1000;
    if (frequency % 1000 > 500)
        ++ticks;
    return uint32_t(ticks);
}

uint32_t MillisecondClock() {
    static const uint32_t ticksPerMs = TicksPerMillisecond(platform::PerformanceFrequency());
    if (ticksPerMs == 0)
        return platform::MultimediaTime();
    return uint32_t(platform::PerformanceCounter() / ticksPerMs);
}

void SetTickTimer(TickTimer& timer, int32_t ticks) {
    SetTickTimer(timer, ticks, MillisecondClock());
}

void SetTickTimer(TickTimer& timer, int32_t ticks, uint32_t nowMs) {
    if (ticks > kMaxTimerTicks)
        ticks = kMaxTimerTicks;
    timer.StartTick = int32_t(nowMs / kTickMs);
    timer.ExpireTick = timer.StartTick + ticks;
}

bool TickTimerExpired(const TickTimer& timer) {
    return TickTimerExpired(timer, MillisecondClock());
}

bool TickTimerExpired(const TickTimer& timer, uint32_t nowMs) {
    int32_t now = int32_t(nowMs / kTickMs);
    if (now > timer.ExpireTick)
        return true;
    if (now >= timer.StartTick)
        return false;
    // The clock wrapped after the timer was set: read it as if it had run on.
    constexpr uint64_t kClockPeriodMs = uint64_t(1) << 32;
    int64_t unwrapped = int64_t((kClockPeriodMs + nowMs) / kTickMs);
    return unwrapped > timer.ExpireTick;
}

uint32_t FileExistsFlag(const char* name) {
    if (name == nullptr || *name == '\0')
        return 0;
    std::error_code error;
    auto status = std::filesystem::status(name, error);
    bool exists =
        !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
    return exists ? 0xFFFFFFFFu : 0;
}

} // namespace orvi
