#pragma once
// The viewer's command line, and the runs that need no window.
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvi::viewer {

// Exit statuses of orvi_viewer.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUnreadable = 1; // the file cannot be read or holds no record
inline constexpr int kExitUsage = 2;      // a bad command line, or an output that is the log

struct TCommandLine {
    enum class TMode { Window, Png, Csv, Stats, Help };
    TMode Mode = TMode::Window;
    std::string File;   // empty: the window opens without a log
    std::string Output; // the --png or --csv file
    int Width = 1600, Height = 900;
    std::optional<double> From, To; // seconds, for --csv and --stats
};

// Parses the arguments after the program's name; false with the reason in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, TCommandLine& out, std::string& error);

// The --help text (the manual page says the same).
std::string UsageText();

class TIndexedLog;
// Opens and indexes the whole file for a run without a window. Reports on `err` what was
// skipped; null (with the message written) when the file cannot be read or has no record.
std::unique_ptr<TIndexedLog> LoadForCommandLine(const std::string& path, std::ostream& err);

// Refuses (on `err`, with kExitUsage) an output that is the log itself; kExitOk otherwise.
int CheckOutputIsNotLog(const TCommandLine& line, std::ostream& err);

// The --csv run; returns the exit status.
int RunCsv(const TCommandLine& line, std::ostream& err);
// The --stats run: the statistics of the range as CSV on `out` (StatsCsv).
int RunStats(const TCommandLine& line, std::ostream& out, std::ostream& err);

} // namespace orvi::viewer
