#include "platform/ByteFile.h"

#include "platform/SystemError.h"

#include <windows.h>

namespace orvi::platform {

namespace {

uint32_t LastFileError() {
    const DWORD code = GetLastError();
    return code != 0 ? code : syserr::GenFailure;
}

// The C library's fopen would take the name in the ANSI code page, which cannot hold
// every name (a Cyrillic one on a Western system): the wide name always can.
std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

HANDLE Handle(void* file) {
    return static_cast<HANDLE>(file);
}

} // namespace

ByteFile::~ByteFile() {
    if (file_ != nullptr)
        CloseHandle(Handle(file_));
}

uint32_t ByteFile::Open(const std::string& name, bool append) {
    // Shared as the C library shares the files it opens.
    HANDLE h = CreateFileW(Wide(name).c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastFileError();
    file_ = h;
    return 0;
}

uint32_t ByteFile::Write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : DWORD(size);
        if (!WriteFile(Handle(file_), bytes, chunk, &written, nullptr))
            return LastFileError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        bytes += written;
        size -= written;
    }
    return 0;
}

uint32_t ByteFile::Close() {
    if (file_ == nullptr)
        return 0;
    HANDLE h = Handle(file_);
    file_ = nullptr;
    return CloseHandle(h) ? 0 : LastFileError();
}

} // namespace orvi::platform
