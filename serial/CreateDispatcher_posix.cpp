#include "serial/CreateDispatcher.h"

#include "serial/dispatch/DeviceDispatcher.h"

namespace orvi {

std::unique_ptr<TOrvBaseDispatcher> CreatePlatformDispatcher(TOrvDispatcherOwner* owner) {
    return std::make_unique<TOrvPosixDispatcher>(owner);
}

} // namespace orvi
