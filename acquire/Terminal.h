#pragma once
// The few C library calls orvi_acquire needs that differ by platform: whether a stream is a
// terminal, line ends on a stream, and the broken-down UTC and local time. Terminal_posix.cpp,
// Terminal_win32.cpp.
#include <cstdio>
#include <ctime>
#include <string>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream);
// Makes the stream write "\n" as it is: on Windows a text-mode stdout would end every JSON
// line in CR LF, which a reader such as mosquitto_pub -l would keep in the message.
void WriteLineEndsAsTheyAre(std::FILE* stream);
// Writes all bytes to the stream's file handle directly, past the C library's buffer and its
// lock, so that a writer blocked by a reader that does not read holds no lock that the rest
// of the process (or its exit) needs. False with the system's words in `reason`.
bool WriteAllTo(std::FILE* stream, const char* data, size_t size, std::string& reason);
// True when a write of a line (less than 4 KiB) to the stream cannot block now: a pipe with
// room for it, a file. False when unsure (a terminal, a socket; Windows: always).
bool WritableNow(std::FILE* stream);
void UtcTime(std::time_t seconds, std::tm& parts);
void LocalTime(std::time_t seconds, std::tm& parts);

} // namespace orvi::platform
