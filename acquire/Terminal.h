#pragma once
// The few C library calls orvi_acquire needs that differ by platform: whether a stream is a
// terminal, line ends on a stream, and the broken-down UTC and local time. Terminal_posix.cpp,
// Terminal_win32.cpp.
#include <cstdio>
#include <ctime>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream);
// Whether the stream goes to the systemd journal (JOURNAL_STREAM names its device and inode).
bool IsJournal(std::FILE* stream);
// Makes the stream write "\n" as it is: on Windows a text-mode stdout would end every JSON
// line in CR LF, which a reader such as mosquitto_pub -l would keep in the message.
void WriteLineEndsAsTheyAre(std::FILE* stream);
void UtcTime(std::time_t seconds, std::tm& parts);
void LocalTime(std::time_t seconds, std::tm& parts);

} // namespace orvi::platform
