#pragma once
// The platform part of the data log file: one backend per platform (DataLogFile_posix.cpp,
// DataLogFile_win32.cpp). The writing calls return false and set `reason` to the system's
// words on failure.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orvi::app::detail {

// Opens `name` for writing, takes it exclusively, then empties it (in that order, so that a
// file held by someone else is not emptied). Creates it when missing.
bool CreateExclusiveFile(const std::string& name, intptr_t& handle, std::string& reason);
// Opens `name` for writing at its end, taken exclusively, creating it when missing; `size`
// is what it holds already.
bool OpenExclusiveForAppend(const std::string& name, intptr_t& handle, uint64_t& size,
                            std::string& reason);
// Writes everything, retrying short writes.
bool WriteWholeBlock(intptr_t handle, const char* data, size_t size, std::string& reason);
// Cuts a disk file back to `size` bytes and puts the write position there; a handle that is
// no disk file (a device) is left as it is.
bool CutFileTo(intptr_t handle, uint64_t size, std::string& reason);
// Always releases the handle.
bool CloseFileHandle(intptr_t handle, std::string& reason);

// Opens a data log for reading in binary mode, the name taken as UTF-8 (as the window gives
// it) on every platform; null with errno set when it cannot.
std::FILE* OpenForReading(const std::string& name);

} // namespace orvi::app::detail
