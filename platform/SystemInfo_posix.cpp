#include "platform/SystemInfo.h"

#include <ctime>
#include <sys/utsname.h>

namespace orvi::platform {

std::string OperatingSystemDescription() {
    utsname name{};
    if (uname(&name) != 0)
        return "Unknown";
    std::string text = std::string(name.sysname) + " " + name.release + " " + name.machine;
    if (text.size() > kMaxSystemDescription)
        text.resize(kMaxSystemDescription);
    return text;
}

LocalDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr)
        return {};
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

} // namespace orvi::platform
