#pragma once
// A file written as bytes, for the dispatcher's trace and log files. The name is UTF-8;
// every call returns 0 or the system error of the failed call in Windows numbering (never
// 0 for a failure), so a full disk or a missing folder reads the same on every platform.
// Backends: ByteFile_posix.cpp (C library), ByteFile_win32.cpp (Win32, wide names).
//
// Threads: one thread at a time.
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvi::platform {

class ByteFile {
public:
    ByteFile() = default;
    ~ByteFile(); // closes the file if open, dropping the result
    ByteFile(const ByteFile&) = delete;
    ByteFile& operator=(const ByteFile&) = delete;

    // Appends when asked (creating a missing file), else creates or replaces the file.
    uint32_t Open(const std::string& name, bool append);
    // Writes all of it.
    uint32_t Write(const void* data, size_t size);
    uint32_t Close(); // 0 when not open

private:
    void* file_ = nullptr; // the backend's FILE or HANDLE; nullptr while closed
};

} // namespace orvi::platform
