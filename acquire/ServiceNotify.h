#pragma once
// Tells the service manager how a run goes, when systemd started it as a Type=notify
// service: READY, a STATUS line, WATCHDOG pings and STOPPING. Does nothing elsewhere (no
// NOTIFY_SOCKET, Windows). The backend is one call per platform: ServiceNotify_posix.cpp
// (Debian's libsystemd), ServiceNotify_win32.cpp (nothing).
//
// Threads: the run's thread only.
#include <chrono>
#include <cstdint>
#include <string>

namespace orvi::acquire {

namespace detail {
// Sends "KEY=value" lines to the service manager; false when there is none.
bool NotifyServiceManager(const std::string& state);
// The watchdog interval the service manager asks for (WATCHDOG_USEC); 0 when none.
uint64_t WatchdogIntervalUs();
} // namespace detail

class TServiceNotify {
public:
    TServiceNotify();
    void Ready();
    // Sent at most once a second.
    void Status(const std::string& text);
    // A watchdog ping once half the interval has passed since the last; called wherever the
    // run's thread waits, so that only a thread stuck for longer misses it.
    void Alive();
    void Stopping();

private:
    using TClock = std::chrono::steady_clock;
    std::chrono::microseconds ping_{0}; // half the watchdog interval; 0: no watchdog
    TClock::time_point pinged_{};
    TClock::time_point told_{};
};

} // namespace orvi::acquire
