#include "acquire/ServiceNotify.h"

namespace orvi::acquire::detail {

// Windows has no service manager of this kind; a run there is never told to one.
bool NotifyServiceManager(const std::string&) {
    return false;
}

uint64_t WatchdogIntervalUs() {
    return 0;
}

} // namespace orvi::acquire::detail
