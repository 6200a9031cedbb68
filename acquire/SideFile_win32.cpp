#include "acquire/LogQueue.h"
#include "platform/SystemError.h"

#include <windows.h>

namespace orvi::acquire {

namespace {

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

bool Fail(std::string& reason) {
    reason = platform::SystemErrorText(GetLastError());
    return false;
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& reason) {
    const std::wstring temporary = Wide(path + ".new");
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(reason);
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file);
    const DWORD err = GetLastError();
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary.c_str(), Wide(path).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = platform::SystemErrorText(ok ? GetLastError() : err);
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace orvi::acquire
