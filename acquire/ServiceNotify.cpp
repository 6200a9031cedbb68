#include "acquire/ServiceNotify.h"

namespace orvi::acquire {

TServiceNotify::TServiceNotify() : ping_(detail::WatchdogIntervalUs() / 2) {}

void TServiceNotify::Ready() {
    detail::NotifyServiceManager("READY=1");
}

void TServiceNotify::Status(const std::string& text) {
    const auto now = TClock::now();
    if (now - told_ < std::chrono::seconds(1))
        return;
    told_ = now;
    detail::NotifyServiceManager("STATUS=" + text);
}

void TServiceNotify::Alive() {
    if (ping_.count() == 0)
        return;
    const auto now = TClock::now();
    if (now - pinged_ < ping_)
        return;
    pinged_ = now;
    detail::NotifyServiceManager("WATCHDOG=1");
}

void TServiceNotify::Stopping() {
    detail::NotifyServiceManager("STOPPING=1");
}

} // namespace orvi::acquire
