// orvi_acquire_bench: orvi_acquire measured against the device simulator.
//   polls [baud] [seconds] [rounds]  polls per second and CPU of orvi_acquire and of the
//                                    console (orvi_console_bench polls), alternating round by
//                                    round under the same settings (interval 1 ms)
//   versus OTHER [baud] [seconds] [rounds] [json]
//                                    polls per second and CPU of this orvi_acquire and of
//                                    OTHER (an earlier build), alternating round by round;
//                                    with "json" both also write the JSON stream
//   memory [seconds]                 resident memory of orvi_acquire after 1 s and at the end
//                                    of a long run (600 for the 10-minute run)
//   reconnect [times]                from the adapter coming back to the first poll on it
// The simulator answers as late as the 27 bytes of an exchange take on the wire.
#include "platform/Clock.h"
#include "tools/simulator/DeviceSimulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args, const std::string& portDir, const std::string& out,
            const std::string& err) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    env.push_back("ORVI_PORT_DIR=" + portDir);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

int Stop(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

size_t Lines(const std::string& path) {
    const std::string b = Bytes(path);
    size_t n = 0;
    for (char c : b)
        n += c == '\n';
    return n;
}

// User plus system CPU seconds of a running process.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

struct Folder {
    Folder() {
        path = std::filesystem::temp_directory_path() /
               ("orvi-bench-acquire-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string File(const char* name) const { return (path / name).string(); }
    std::filesystem::path path;
};

orvi::sim::Scenario LateBy(int baud) {
    orvi::sim::Scenario s;
    s.replyDelayMs = uint32_t(27 * 10 * 1000 / baud);
    return s;
}

struct Measured {
    double pollsPerSecond = 0;
    double cpuPercent = 0;
};

Measured AcquireRound(int baud, int seconds, const std::string& program = ORVI_ACQUIRE,
                      bool json = false) {
    Folder f;
    orvi::sim::DeviceSimulator device(LateBy(baud), orvi::sim::PortSetup{5, f.path.string()});
    std::vector<std::string> args{program,    "--port", "COM5", "--baud", std::to_string(baud),
                                  "--interval", "1",      "--log", f.File("log.txt")};
    if (json)
        args.push_back("--json");
    const pid_t pid = Spawn(args, f.path.string(), f.File("out"), f.File("err"));
    orvi::platform::SleepMs(1000); // settle
    const size_t lines0 = Lines(f.File("log.txt"));
    const double cpu0 = CpuSeconds(pid);
    const auto t0 = Clock::now();
    orvi::platform::SleepMs(uint32_t(seconds) * 1000);
    const size_t lines = Lines(f.File("log.txt")) - lines0;
    const double cpu = CpuSeconds(pid) - cpu0;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    Stop(pid);
    return {double(lines) / elapsed, 100 * cpu / elapsed};
}

// The console bench's own line: "... = 47.9 polls/s; console CPU 3.1% of one core".
Measured ConsoleRound(int baud, int seconds) {
    Folder f;
    const pid_t pid =
        Spawn({ORVI_CONSOLE_BENCH, "polls", std::to_string(baud), std::to_string(seconds)},
              f.path.string(), f.File("out"), f.File("err"));
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string out = Bytes(f.File("out"));
    Measured m;
    const size_t eq = out.rfind("= "), cpu = out.rfind("CPU ");
    if (eq != std::string::npos && cpu != std::string::npos) {
        m.pollsPerSecond = std::atof(out.c_str() + eq + 2);
        m.cpuPercent = std::atof(out.c_str() + cpu + 4);
    }
    return m;
}

int Polls(int baud, int seconds, int rounds) {
    double acquirePolls = 0, acquireCpu = 0, consolePolls = 0, consoleCpu = 0;
    for (int r = 0; r < rounds; ++r) {
        const Measured a = AcquireRound(baud, seconds);
        const Measured c = ConsoleRound(baud, seconds);
        std::printf("round %d: orvi_acquire %.1f polls/s, CPU %.2f%%; console %.1f polls/s, CPU "
                    "%.2f%%\n",
                    r + 1, a.pollsPerSecond, a.cpuPercent, c.pollsPerSecond, c.cpuPercent);
        acquirePolls += a.pollsPerSecond;
        acquireCpu += a.cpuPercent;
        consolePolls += c.pollsPerSecond;
        consoleCpu += c.cpuPercent;
    }
    std::printf("baud %d, interval 1 ms, %d rounds of %d s: orvi_acquire %.1f polls/s at %.2f%% "
                "CPU, console %.1f polls/s at %.2f%% CPU; polls ratio %.3f, CPU ratio %.3f\n",
                baud, rounds, seconds, acquirePolls / rounds, acquireCpu / rounds,
                consolePolls / rounds, consoleCpu / rounds, acquirePolls / consolePolls,
                consoleCpu > 0 ? acquireCpu / consoleCpu : 0.0);
    return 0;
}

int Versus(const std::string& other, int baud, int seconds, int rounds, bool json) {
    double polls[2] = {0, 0}, cpu[2] = {0, 0};
    for (int r = 0; r < rounds; ++r) {
        const Measured m[2] = {AcquireRound(baud, seconds, ORVI_ACQUIRE, json),
                               AcquireRound(baud, seconds, other, json)};
        std::printf("round %d: this %.1f polls/s, CPU %.2f%%; other %.1f polls/s, CPU %.2f%%\n",
                    r + 1, m[0].pollsPerSecond, m[0].cpuPercent, m[1].pollsPerSecond,
                    m[1].cpuPercent);
        for (int i = 0; i < 2; ++i) {
            polls[i] += m[i].pollsPerSecond;
            cpu[i] += m[i].cpuPercent;
        }
    }
    std::printf("baud %d, interval 1 ms%s, %d rounds of %d s: this %.1f polls/s at %.2f%% CPU, "
                "other %.1f polls/s at %.2f%% CPU; polls ratio %.3f, CPU ratio %.3f\n",
                baud, json ? ", --json" : "", rounds, seconds, polls[0] / rounds, cpu[0] / rounds, polls[1] / rounds,
                cpu[1] / rounds, polls[0] / polls[1], cpu[1] > 0 ? cpu[0] / cpu[1] : 0.0);
    return 0;
}

int Memory(int seconds) {
    Folder f;
    orvi::sim::DeviceSimulator device(LateBy(921600), orvi::sim::PortSetup{5, f.path.string()});
    const pid_t pid = Spawn(
        {ORVI_ACQUIRE, "--port", "COM5", "--baud", "921600", "--json", "--log", f.File("log.txt")},
        f.path.string(), "/dev/null", f.File("err"));
    orvi::platform::SleepMs(1000);
    const long start = ResidentKiB(pid);
    orvi::platform::SleepMs(uint32_t(seconds) * 1000);
    const long end = ResidentKiB(pid);
    const size_t lines = Lines(f.File("log.txt"));
    Stop(pid);
    std::printf("%d s, %zu polls: resident memory %ld KiB after 1 s, %ld KiB at the end\n", seconds,
                lines, start, end);
    return 0;
}

int Reconnect(int times) {
    Folder f;
    auto device = std::make_unique<orvi::sim::DeviceSimulator>(
        orvi::sim::SteadyScenario(), orvi::sim::PortSetup{5, f.path.string()});
    const pid_t pid =
        Spawn({ORVI_ACQUIRE, "--port", "COM5", "--reconnect", "--log", f.File("log.txt")},
              f.path.string(), "/dev/null", f.File("err"));
    double total = 0, worst = 0;
    for (int i = 0; i < times; ++i) {
        orvi::platform::SleepMs(500);
        device->Unplug();
        const std::string said = "waiting for the adapter";
        const auto count = [&] {
            const std::string e = Bytes(f.File("err"));
            size_t n = 0;
            for (size_t at = 0; (at = e.find(said, at)) != std::string::npos; at += said.size())
                ++n;
            return n;
        };
        while (count() < size_t(i + 1))
            orvi::platform::SleepMs(10);
        device.reset();
        orvi::platform::SleepMs(300); // away for a while
        const auto back = Clock::now();
        device = std::make_unique<orvi::sim::DeviceSimulator>(
            orvi::sim::SteadyScenario(), orvi::sim::PortSetup{5, f.path.string()});
        while (device->Counters().housingRequests == 0)
            orvi::platform::SleepMs(1);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - back).count();
        std::printf("reconnect %d: first poll %.0f ms after the adapter came back\n", i + 1, ms);
        total += ms;
        worst = std::max(worst, ms);
    }
    Stop(pid);
    std::printf("reconnect latency: mean %.0f ms, worst %.0f ms over %d\n", total / times, worst,
                times);
    return 0;
}

int Argument(int argc, char** argv, int i, int fallback) {
    return argc > i ? std::atoi(argv[i]) : fallback;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "polls")
        return Polls(Argument(argc, argv, 2, 921600), Argument(argc, argv, 3, 5),
                     Argument(argc, argv, 4, 3));
    if (mode == "versus" && argc > 2)
        return Versus(argv[2], Argument(argc, argv, 3, 921600), Argument(argc, argv, 4, 5),
                      Argument(argc, argv, 5, 3), argc > 6 && std::string(argv[6]) == "json");
    if (mode == "memory")
        return Memory(Argument(argc, argv, 2, 20));
    if (mode == "reconnect")
        return Reconnect(Argument(argc, argv, 2, 5));
    std::fprintf(stderr, "usage: orvi_acquire_bench polls [baud] [seconds] [rounds]\n"
                         "       orvi_acquire_bench versus OTHER [baud] [seconds] [rounds] [json]\n"
                         "       orvi_acquire_bench memory [seconds]\n"
                         "       orvi_acquire_bench reconnect [times]\n");
    return 2;
}
