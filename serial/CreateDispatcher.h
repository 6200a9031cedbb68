#pragma once
// The dispatcher this platform builds.
// The backend file (CreateDispatcher_posix.cpp / CreateDispatcher_win32.cpp) names the
// class: TOrvPosixDispatcher or TOrvWin32Dispatcher.
//
// Threads: called on the thread that will own the dispatcher (the GUI thread).
#include "serial/dispatch/BaseDispatcher.h"

#include <memory>

namespace orvi {

std::unique_ptr<TOrvBaseDispatcher> CreatePlatformDispatcher(TOrvDispatcherOwner* owner);

} // namespace orvi
