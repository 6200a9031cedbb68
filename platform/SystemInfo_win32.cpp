#include "platform/SystemInfo.h"

#include <cstring>
#include <windows.h>

namespace orvi::platform {

std::string OperatingSystemDescription() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // GetVersionExA is deprecated for telling versions apart, but its report is
    // exactly what the log header shows.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (!ok)
        return "Unknown";
    const std::string_view servicePack(info.szCSDVersion,
                                       strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
    return WindowsVersionDescription(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                                     info.dwBuildNumber, servicePack);
}

LocalDateTime LocalNow() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

} // namespace orvi::platform
