#include "acquire/Signals.h"

#include <windows.h>

namespace orvi::acquire {

namespace {

TStopRequests* gRequests = nullptr;

// Runs on a thread the system starts for the event. Returning TRUE keeps the process alive
// so that the poll in progress completes and the log is closed whole.
BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        gRequests->Stop = true;
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void InstallStopHandlers(TStopRequests& requests) {
    gRequests = &requests;
    SetConsoleCtrlHandler(&OnControl, TRUE);
}

} // namespace orvi::acquire
