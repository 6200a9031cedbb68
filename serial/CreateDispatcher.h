#pragma once
// The dispatcher this platform builds, and the port probe of the "Select Port" dialog.
// The backend file (CreateDispatcher_posix.cpp / CreateDispatcher_win32.cpp) names the
// class: TOrvPosixDispatcher or TOrvWin32Dispatcher.
//
// Threads: called on the thread that will own the dispatcher (the GUI thread).
#include "serial/dispatch/BaseDispatcher.h"

#include <memory>

namespace orvi {

std::unique_ptr<TOrvBaseDispatcher> CreatePlatformDispatcher(TOrvDispatcherOwner* owner);

// Whether port n exists: a dispatcher without owner opens it with queues of 64 bytes
// and closes it again at once. A port that another program holds (the open is denied)
// exists too. n of 0 or below: false.
bool IsPortAvailable(int n);

} // namespace orvi
