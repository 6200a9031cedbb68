#include "serial/ComSelectProbe.h"

#include "platform/PortNames.h"
#include "serial/CreateDispatcher.h"
#include "serial/ErrorCodes.h"

namespace orvi {

namespace {
constexpr uint32_t kProbeQueueSize = 64;
// Keep-the-current values: the probe leaves the port's line settings as they are.
constexpr int32_t kKeepBaud = 0, kKeepParity = 5, kKeepDataBits = 9, kKeepStopBits = 3;
} // namespace

bool IsPortAvailable(int n) {
    if (n <= 0)
        return false;
    std::unique_ptr<TOrvBaseDispatcher> dispatcher = CreatePlatformDispatcher(nullptr);
    const int32_t result = dispatcher->OpenPort(platform::ComDeviceName(n), kKeepBaud, kKeepParity,
                                                kKeepDataBits, kKeepStopBits, kProbeQueueSize,
                                                kProbeQueueSize, openopt::DtrOn | openopt::RtsOn);
    if (result >= 0)
        (void)dispatcher->ClosePort(); // the port exists whatever its close says
    TOrvBaseDispatcher::Dispose(std::move(dispatcher));
    // The open's own result rather than the thread's last error: the clean-up after a
    // failed open may have replaced that.
    return result >= 0 || result == ecAccessDenied;
}

} // namespace orvi
