#include "platform/SystemError.h"

#include <windows.h>

namespace orvi::platform {

uint32_t LastError() {
    return GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

// The wide text converted to UTF-8, the encoding of every text in the serial stack: the
// ANSI form would come in the system's code page (1251 on a Russian system).
std::string SystemErrorText(uint32_t code) {
    wchar_t wide[256] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, wide, 255, nullptr);
    if (n == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, int(n), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, int(n), text.data(), size, nullptr, nullptr);
    return text;
}

uint32_t ErrorFromErrno(int err) {
    return uint32_t(err);
}

} // namespace orvi::platform
