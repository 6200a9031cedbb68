#include "platform/PortNames.h"

namespace orvi::platform {

// Windows opens "\\.\COMn" and every other device name directly.
std::string ResolvePortName(const std::string& name) {
    return name;
}

} // namespace orvi::platform
