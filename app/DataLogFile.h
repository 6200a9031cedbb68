#pragma once
// The platform part of the data log file: one backend per platform (DataLogFile_posix.cpp,
// DataLogFile_win32.cpp). The writing calls return false and set `reason` to the system's
// words on failure.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace orvi::app::detail {

// Every handle below writes at the file's end as it is at the moment of the write (O_APPEND;
// on Windows a write at offset 0xFFFFFFFF'FFFFFFFF), so that a file emptied by someone else
// (logrotate's copytruncate) goes on at its start instead of at the old offset after a hole.

// Opens `name` for writing, takes it exclusively, then empties it (in that order, so that a
// file held by someone else is not emptied). Creates it when missing.
bool CreateExclusiveFile(const std::string& name, intptr_t& handle, std::string& reason);
// Creates `name` new, failing when it exists already (`exists` is then true), and takes it
// exclusively.
bool CreateNewFile(const std::string& name, intptr_t& handle, bool& exists, std::string& reason);
// Opens `name` for writing at its end, taken exclusively, creating it when missing; `size`
// is what it holds already.
bool OpenExclusiveForAppend(const std::string& name, intptr_t& handle, uint64_t& size,
                            std::string& reason);
// Writes everything, retrying short writes; `written` is what reached the file, also on
// failure.
bool WriteWholeBlock(intptr_t handle, const char* data, size_t size, size_t& written,
                     std::string& reason);
// Cuts the last `bytes` bytes off a disk file; a handle that is no disk file (a device) is
// left as it is.
bool CutOffEnd(intptr_t handle, uint64_t bytes, std::string& reason);
// Where the file ends now, for a disk file; false for anything else (a device, a pipe).
bool FileEnd(intptr_t handle, uint64_t& end);
// Always releases the handle.
bool CloseFileHandle(intptr_t handle, std::string& reason);

// Opens a data log for reading in binary mode, the name taken as UTF-8 (as the window gives
// it) on every platform; null with errno set when it cannot.
std::FILE* OpenForReading(const std::string& name);

} // namespace orvi::app::detail
