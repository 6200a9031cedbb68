#pragma once
// The operating system's error numbers and texts, in Windows numbering on every
// platform: the serial stack reports "file not found" as 2 and "access denied" as 5
// whatever the platform, so result codes and messages stay the same everywhere.
#include <cstdint>
#include <string>

namespace orvi::platform {

namespace syserr {
constexpr uint32_t Success = 0;
constexpr uint32_t FileNotFound = 2;
constexpr uint32_t PathNotFound = 3;
constexpr uint32_t TooManyOpenFiles = 4;
constexpr uint32_t AccessDenied = 5;
constexpr uint32_t InvalidHandle = 6;
constexpr uint32_t NotEnoughMemory = 8;
constexpr uint32_t GenFailure = 31;
constexpr uint32_t NotSupported = 50;
constexpr uint32_t InvalidParameter = 87;
// Windows' ERROR_SEM_TIMEOUT, what its serial drivers answer a request that timed out; the
// device layer reports with it a close that gave up waiting for a call the driver never
// ended.
constexpr uint32_t TimedOut = 121;
constexpr uint32_t DiskFull = 112;
constexpr uint32_t OperationAborted = 995;
constexpr uint32_t IoIncomplete = 996;
constexpr uint32_t IoPending = 997;
// A device that has gone away (an adapter pulled out, a terminal that hung up). Windows'
// serial drivers fail the communications calls of an unplugged adapter with errors such
// as 21, 22, 31 or 109; the Win32 layer reports each of them, and the POSIX layer a
// hang-up, as 31, whose text tells the operator that the device no longer works.
constexpr uint32_t DeviceGone = GenFailure;
} // namespace syserr

// The calling thread's last system error (GetLastError / SetLastError semantics).
uint32_t LastError();
void SetLastError(uint32_t code);

// The system's message text for an error number in UTF-8, at most 255 characters, worded
// as the system gives it (line breaks included); empty when the system has none.
std::string SystemErrorText(uint32_t code);

// Maps a POSIX errno value to the Windows number used throughout the serial stack.
// Only meaningful on POSIX; the Win32 backend returns the value unchanged.
uint32_t ErrorFromErrno(int err);

} // namespace orvi::platform
