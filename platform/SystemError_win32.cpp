#include "platform/SystemError.h"

#include <windows.h>

namespace orvi::platform {

uint32_t LastError() {
    return GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

std::string SystemErrorText(uint32_t code) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buffer, sizeof buffer - 1, nullptr);
    return std::string(buffer, n);
}

uint32_t ErrorFromErrno(int err) {
    return uint32_t(err);
}

} // namespace orvi::platform
