#pragma once
// What the benches share: their command-line numbers, medians, child processes started with
// a port folder of their own, and what /proc tells of a running process. POSIX only.
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace orvi::bench {

// The middle value (the upper one of an even count); 0 for none.
double Median(std::vector<double> v);
// argv[i] as a number, or `fallback` when there are fewer arguments.
int Argument(int argc, char** argv, int i, int fallback);

// Starts `args` (argv[0] a path) with this process's environment plus ORVI_PORT_DIR=`portDir`
// and QT_QPA_PLATFORM=offscreen, its standard output to `out` and its standard error to
// `err` (made anew); -1 when it cannot start.
pid_t Spawn(std::vector<std::string> args, const std::string& portDir, const std::string& out,
            const std::string& err);
// Sends `signal` and waits for the end; the exit status, or -1 when a signal ended it.
int Stop(pid_t pid, int signal = SIGTERM);

// A file's bytes, and its count of line ends.
std::string Bytes(const std::string& path);
uint64_t Lines(const std::string& path);

// The time its threads have been on a CPU so far, in seconds, counted in nanoseconds
// (/proc/PID/task/TID/schedstat) where utime and stime count 10 ms ticks.
double CpuSeconds(pid_t pid);
// Context switches of all its threads so far: how often they went to sleep and were woken,
// which a wait that spins or wakes for nothing shows whatever the clock says.
double ContextSwitches(pid_t pid);
// Its resident memory in KiB; -1 when it is gone.
long ResidentKiB(pid_t pid);

// A loopback port that nothing listens on just now, and whether something listens on one.
int FreePort();
bool Listening(int port);

} // namespace orvi::bench
