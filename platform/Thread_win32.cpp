#include "platform/Thread.h"

#include <algorithm>
#include <pthread.h> // pthread_gethandle: std::thread runs on winpthreads here
#include <windows.h>

namespace orvi::platform {

bool SetThreadPriority(std::thread& thread, int priority) {
    static const int kLevels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                  THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                  THREAD_PRIORITY_TIME_CRITICAL};
    if (!thread.joinable())
        return false;
    const int step = std::clamp(priority, int(tpIdle), int(tpTimeCritical));
    auto handle = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
    return ::SetThreadPriority(handle, kLevels[step]) != 0;
}

} // namespace orvi::platform
