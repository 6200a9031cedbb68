#pragma once
// Requests that reach orvi_acquire from outside: stop (SIGINT, SIGTERM; on Windows Ctrl+C,
// Ctrl+Break and the console window closing) and reopen the data log (SIGHUP; none on
// Windows). One backend per platform: Signals_posix.cpp, Signals_win32.cpp.
//
// Threads: the flags are set by a signal handler (POSIX, on whatever thread the signal lands)
// or by the console control thread (Windows) and read by the run loop's thread; lock-free
// atomics, so setting them is safe inside a signal handler.
#include <atomic>

namespace orvi::acquire {

struct TStopRequests {
    std::atomic<bool> Stop{false};
    std::atomic<bool> Reopen{false};
};

// Points the process's handlers at `requests`, which must outlive the process's run. On
// POSIX it also ignores SIGPIPE and SIGXFSZ, so that a reader of the stream that goes away
// and a file size limit show as failed writes instead of ending the process with lines half
// handled.
void InstallStopHandlers(TStopRequests& requests);

} // namespace orvi::acquire
