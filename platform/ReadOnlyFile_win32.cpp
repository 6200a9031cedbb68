#include "platform/ReadOnlyFile.h"

#include "platform/SystemError.h"

#include <algorithm>
#include <windows.h>

namespace orvi::platform {

namespace {

HANDLE OpenShared(const std::string& path) {
    // Shared for writing and deleting: the console keeps appending while the file is
    // viewed, and may empty or replace it for a new run.
    return ::CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One ReadFile at an explicit offset, so that threads reading at once do not share a file
// position; false when it fails or finds the end of the file before `length` bytes.
bool ReadAt(HANDLE file, uint64_t offset, DWORD length, char* out) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset & 0xFFFFFFFFu);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    return ::ReadFile(file, out, length, &read, &at) && read == length;
}

} // namespace

std::unique_ptr<TReadOnlyFile> TReadOnlyFile::Open(const std::string& path, std::string& error) {
    const HANDLE file = OpenShared(path);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(::GetLastError());
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        error = SystemErrorText(::GetLastError());
        ::CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<TReadOnlyFile>(new TReadOnlyFile(file, uint64_t(size.QuadPart)));
}

TReadOnlyFile::~TReadOnlyFile() {
    ::CloseHandle(native_);
}

bool TReadOnlyFile::Read(uint64_t offset, size_t length, char* out) const {
    if (offset > size_ || length > size_ - offset)
        return false;
    constexpr size_t kMaxRead = size_t(1) << 30; // ReadFile takes a 32-bit length
    for (size_t done = 0; done < length;) {
        const size_t part = std::min(length - done, kMaxRead);
        if (!ReadAt(native_, offset + done, DWORD(part), out + done))
            return false;
        done += part;
    }
    return true;
}

bool TReadOnlyFile::CurrentSize(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

} // namespace orvi::platform
