#include "app/DataLogFile.h"

#include "platform/SystemError.h"

#include <windows.h>

namespace orvi::app::detail {

namespace {

bool Fail(std::string& reason) {
    reason = platform::SystemErrorText(GetLastError());
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n'))
        reason.pop_back();
    return false;
}

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

} // namespace

bool CreateExclusiveFile(const std::string& name, intptr_t& handle, std::string& reason) {
    // Shared for reading only: nobody else may write, delete or take the file while the
    // console holds it, but a viewer may follow the lines as they come (as on POSIX, where
    // the lock keeps out writers only). CREATE_ALWAYS empties an existing file only once the
    // open has succeeded, so a file held by someone else is left as it is.
    HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Fail(reason);
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

bool CreateNewFile(const std::string& name, intptr_t& handle, bool& exists, std::string& reason) {
    HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = h == INVALID_HANDLE_VALUE &&
             (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
    if (h == INVALID_HANDLE_VALUE)
        return Fail(reason);
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

bool OpenExclusiveForAppend(const std::string& name, intptr_t& handle, uint64_t& size,
                            std::string& reason) {
    HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Fail(reason);
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(h, LARGE_INTEGER{}, &end, FILE_END)) {
        Fail(reason);
        CloseHandle(h);
        return false;
    }
    size = uint64_t(end.QuadPart);
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

// Each write goes to the file's end as it is then (offset 0xFFFFFFFF'FFFFFFFF), as O_APPEND
// does on POSIX.
bool WriteWholeBlock(intptr_t handle, const char* data, size_t size, size_t& written,
                     std::string& reason) {
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    written = 0;
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : DWORD(size);
        OVERLAPPED atEnd{};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        if (!WriteFile(h, data, chunk, &done, GetFileType(h) == FILE_TYPE_DISK ? &atEnd : nullptr))
            return Fail(reason);
        if (done == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return Fail(reason);
        }
        data += done;
        size -= done;
        written += done;
    }
    return true;
}

bool CutOffEnd(intptr_t handle, uint64_t bytes, std::string& reason) {
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    if (GetFileType(h) != FILE_TYPE_DISK || bytes == 0)
        return true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size))
        return Fail(reason);
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart > LONGLONG(bytes) ? size.QuadPart - LONGLONG(bytes) : 0;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
        return Fail(reason);
    return true;
}

bool FileEnd(intptr_t handle, uint64_t& end) {
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size))
        return false;
    end = uint64_t(size.QuadPart);
    return true;
}

bool CloseFileHandle(intptr_t handle, std::string& reason) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(handle)))
        return Fail(reason);
    return true;
}

// The C library's fopen takes the name in the ANSI code page, which cannot hold every name
// the operator types (a Cyrillic one on a Western system): the wide name always can.
std::FILE* OpenForReading(const std::string& name) {
    return _wfopen(Wide(name).c_str(), L"rb");
}

} // namespace orvi::app::detail
