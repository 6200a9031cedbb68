#include "acquire/ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace orvi::acquire::detail {

bool NotifyServiceManager(const std::string& state) {
    return sd_notify(0, state.c_str()) > 0;
}

uint64_t WatchdogIntervalUs() {
    uint64_t us = 0;
    return sd_watchdog_enabled(0, &us) > 0 ? us : 0;
}

} // namespace orvi::acquire::detail
