#include "acquire/Signals.h"

#include <csignal>

namespace orvi::acquire {

namespace {

TStopRequests* gRequests = nullptr;

static_assert(std::atomic<bool>::is_always_lock_free, "flags set in a signal handler");

void OnSignal(int signal) {
    if (signal == SIGHUP)
        gRequests->Reopen = true;
    else
        gRequests->Stop = true;
}

} // namespace

void InstallStopHandlers(TStopRequests& requests) {
    gRequests = &requests;
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // a write of the log is not cut short by a signal
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f, a filesystem's) makes the write fail with EFBIG instead
    // of killing the process: the log is then cut back to whole lines, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace orvi::acquire
