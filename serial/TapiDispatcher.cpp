#include "serial/TapiDispatcher.h"

#include "platform/SystemError.h"
#include "serial/ErrorCodes.h"

namespace orvi {

TOrvTAPI32Dispatcher::TOrvTAPI32Dispatcher(TOrvDispatcherOwner* owner, uint16_t deviceHandle)
    : TOrvWin32Dispatcher(owner), tapiDeviceHandle_(deviceHandle) {}

int32_t TOrvTAPI32Dispatcher::DeviceOpen(const std::string&, uint32_t, uint32_t) {
    if (tapiDeviceHandle_ == 0) {
        platform::SetLastError(uint32_t(-ecCommNotOpen));
        return ecCommNotOpen;
    }
    platform::SetLastError(platform::syserr::NotSupported);
    return -int32_t(platform::syserr::NotSupported);
}

} // namespace orvi
