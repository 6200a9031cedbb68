#include "platform/MappedFile.h"

#include "platform/SystemError.h"

#include <cstring>
#include <windows.h>

namespace orvi::platform {

namespace {

HANDLE OpenShared(const std::string& path) {
    // Shared for writing and deleting: the console keeps appending while the file is viewed.
    return ::CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::unique_ptr<TMappedFile> TMappedFile::Open(const std::string& path, std::string& error) {
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
    const char* data = nullptr;
    if (size.QuadPart > 0) {
        const HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping)
            data = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        if (!data)
            error = SystemErrorText(::GetLastError());
        if (mapping)
            ::CloseHandle(mapping); // the view keeps the mapping
    }
    ::CloseHandle(file);
    if (size.QuadPart > 0 && !data)
        return nullptr;
    return std::unique_ptr<TMappedFile>(new TMappedFile(data, uint64_t(size.QuadPart)));
}

TMappedFile::~TMappedFile() {
    if (data_)
        ::UnmapViewOfFile(data_);
}

bool TMappedFile::Read(uint64_t offset, size_t length, char* out) const {
    if (offset > size_ || length > size_ - offset)
        return false;
    if (length > 0)
        std::memcpy(out, data_ + offset, length);
    return true;
}

bool TMappedFile::CurrentSize(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

} // namespace orvi::platform
