#pragma once
// The command line of orvi_acquire and its usage text. Pure functions.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvi::acquire {

// Exit statuses, as --help and the manual page list them.
enum TExitStatus : int {
    kEndedAsAsked = 0, // count, duration, end of data or a stop signal
    kRunFailed = 1,    // no answer, the port lost, the log or the stream could not be written
    kBadCommandLine = 2,
    kNoPort = 3, // no adapter found, or the port could not be opened
};

struct TAcquireOptions {
    std::string Port; // "COM5", "/dev/ttyUSB0"; empty: search as the console's "Старт" does
    int32_t Baud = 19200;
    int32_t IntervalMs = 1;
    std::string LogFile; // one of LogFile and LogDir, or neither (no data log)
    std::string LogDir;
    std::optional<uint64_t> Polls;
    std::optional<uint64_t> DurationMs;
    bool Reconnect = false;
    bool Json = false;
    bool Help = false;
    bool Version = false;
};

struct TParsedCommandLine {
    TAcquireOptions Options;
    std::string Error; // empty when every argument was understood
};

// `args` without the program name. An option takes its value as the next argument or after
// "=" ("--baud 921600", "--baud=921600").
TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// "10m" -> 600000, "5" -> 5000: a whole number of seconds, or one followed by s, m or h; at
// least 1 unit and at most 1000000 hours. Empty when it is not one.
std::optional<uint64_t> ParseDuration(const std::string& text);

std::string UsageText();

} // namespace orvi::acquire
