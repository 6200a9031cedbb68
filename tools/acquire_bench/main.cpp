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
//   line [baud] [seconds] [rounds] [react-us] [exchanges]
//                                    --pace console (interval 1 ms) and --pace line (interval
//                                    0), alternating round by round, against a simulator that
//                                    takes as long as the wire (--line-time, --react-us), with
//                                    the physical limit and a raw termios poller beside them;
//                                    then the round trip of one exchange at the line's pace
//                                    against raw termios, alternating
//   trips [exchanges]                that round trip alone
// The polls mode's simulator answers as late as the 27 bytes of an exchange take on the wire.
#include "app/DeviceExchange.h"
#include "platform/Clock.h"
#include "platform/Termios2_linux.h"
#include "serial/ComPort.h"
#include "tools/bench_support/BenchSupport.h"
#include "tools/simulator/DeviceSimulator.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <termios.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvi::bench;
using Clock = std::chrono::steady_clock;

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
    double switchesPerPoll = 0; // context switches of all the process's threads
};

// `program` (this orvi_acquire or another build of it) against `scenario` for `seconds` after
// a second to settle; `extra` options come after the port, speed and log.
Measured AcquireRound(const orvi::sim::Scenario& scenario, int baud, int seconds,
                      const std::vector<std::string>& extra,
                      const std::string& program = ORVI_ACQUIRE) {
    Folder f;
    orvi::sim::DeviceSimulator device(scenario, orvi::sim::PortSetup{5, f.path.string()});
    std::vector<std::string> args = {
        program, "--port", "COM5", "--baud", std::to_string(baud), "--log", f.File("log.txt")};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t pid = Spawn(args, f.path.string(), f.File("out"), f.File("err"));
    orvi::platform::SleepMs(1000); // settle
    const size_t lines0 = Lines(f.File("log.txt"));
    const double cpu0 = CpuSeconds(pid), switches0 = ContextSwitches(pid);
    const auto t0 = Clock::now();
    orvi::platform::SleepMs(uint32_t(seconds) * 1000);
    const size_t lines = Lines(f.File("log.txt")) - lines0;
    const double cpu = CpuSeconds(pid) - cpu0, switches = ContextSwitches(pid) - switches0;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    Stop(pid);
    return {double(lines) / elapsed, 100 * cpu / elapsed,
            lines > 0 ? switches / double(lines) : 0.0};
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
        const Measured a = AcquireRound(LateBy(baud), baud, seconds, {"--interval", "1"});
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
        const std::vector<std::string> extra =
            json ? std::vector<std::string>{"--interval", "1", "--json"}
                 : std::vector<std::string>{"--interval", "1"};
        const Measured m[2] = {AcquireRound(LateBy(baud), baud, seconds, extra),
                               AcquireRound(LateBy(baud), baud, seconds, extra, other)};
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
                baud, json ? ", --json" : "", rounds, seconds, polls[0] / rounds, cpu[0] / rounds,
                polls[1] / rounds, cpu[1] / rounds, polls[0] / polls[1],
                cpu[1] > 0 ? cpu[0] / cpu[1] : 0.0);
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

// ---- line: the two paces against a device that takes as long as the wire ----

// Polls per second that the line allows: two exchanges of 7 + 20 bytes at 10 bits a byte,
// and the device's reaction to each request.
double LineLimit(int baud, int reactUs) {
    return 1.0 / (2.0 * (7 + 20) * 10 / baud + 2e-6 * reactUs);
}

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Request queued to reply taken, through the exchange at the line's pace (a flash-record
// exchange: one request, one 20-byte reply), on a port of its own.
class ExchangePath {
public:
    ExchangePath(const orvi::sim::Scenario& scenario, int baud)
        : device_(scenario, orvi::sim::PortSetup{7, {}}),
          exchange_(Opened(port_, baud),
                    {{}, {}, {}, orvi::app::TStrayBytes::Discard, {}, orvi::app::TPace::Line, {}}) {
    }
    ~ExchangePath() { port_.SetOpen(false); }
    double RoundTripUs() {
        const auto t0 = Clock::now();
        const orvi::app::TFlashResult r = exchange_.ReadFlashRecord();
        return r == orvi::app::TFlashResult::Failure ? -1 : Us(Clock::now() - t0);
    }

private:
    static orvi::TOrvComPort& Opened(orvi::TOrvComPort& port, int baud) {
        port.SetAutoOpen(false);
        port.SetComNumber(7);
        port.SetBaud(baud);
        port.SetOpen(true);
        return port;
    }
    orvi::sim::DeviceSimulator device_;
    orvi::TOrvComPort port_;
    orvi::app::TDeviceExchange exchange_;
};

// A port opened for plain termios reads and writes at `baud`; -1 when it cannot be opened.
int OpenRawPort(const std::string& path, int baud) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return -1;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    orvi::platform::SetAnyBaudRate(fd, uint32_t(baud));
    return fd;
}

// One request and its 20-byte reply by raw termios calls, as tools/dispatch_bench does;
// false when the reply did not come.
bool RawExchange(int fd, const uint8_t* request, size_t length) {
    if (::write(fd, request, length) != ssize_t(length))
        return false;
    uint8_t reply[20];
    for (size_t got = 0; got < sizeof reply;) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 1000);
        const ssize_t r = ::read(fd, reply + got, sizeof reply - got);
        if (r > 0)
            got += size_t(r);
        else if (r == 0 || errno != EAGAIN)
            return false;
    }
    return true;
}

class RawPath {
public:
    RawPath(const orvi::sim::Scenario& scenario, int baud)
        : device_(scenario, orvi::sim::PortSetup{8, {}}),
          fd_(OpenRawPort(device_.SlavePath(), baud)) {}
    ~RawPath() { ::close(fd_); }
    double RoundTripUs() {
        const auto t0 = Clock::now();
        const auto& request = orvi::app::FlashRequest;
        return RawExchange(fd_, request.data(), request.size()) ? Us(Clock::now() - t0) : -1;
    }

private:
    orvi::sim::DeviceSimulator device_;
    int fd_ = -1;
};

// The raw-client mode, a process of its own as orvi_acquire is: polls (housing and sensor
// exchange) back to back by raw termios calls for a second to settle and `seconds` more;
// prints the polls per second of the second part and its CPU % of one core meanwhile.
int RawClient(const std::string& path, int baud, int seconds) {
    const int fd = OpenRawPort(path, baud);
    if (fd < 0)
        return 1;
    const auto poll = [fd] {
        const auto& h = orvi::app::HousingRequest;
        const auto& s = orvi::app::SensorRequest;
        return RawExchange(fd, h.data(), h.size()) && RawExchange(fd, s.data(), s.size());
    };
    const auto settled = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < settled && poll()) {
    }
    const double cpu0 = CpuSeconds(getpid());
    const auto t0 = Clock::now();
    const auto end = t0 + std::chrono::seconds(seconds);
    uint64_t polls = 0;
    while (Clock::now() < end && poll())
        ++polls;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("%.3f %.4f\n", double(polls) / elapsed,
                100 * (CpuSeconds(getpid()) - cpu0) / elapsed);
    ::close(fd);
    return 0;
}

// Polls per second and CPU % of a raw-client process against `scenario`.
Measured RawRound(const orvi::sim::Scenario& scenario, int baud, int seconds) {
    Folder f;
    orvi::sim::DeviceSimulator device(scenario, orvi::sim::PortSetup{5, f.path.string()});
    const pid_t pid = Spawn({"/proc/self/exe", "raw-client", device.SlavePath(),
                             std::to_string(baud), std::to_string(seconds)},
                            f.path.string(), f.File("out"), f.File("err"));
    int status = 0;
    waitpid(pid, &status, 0);
    Measured m;
    std::istringstream(Bytes(f.File("out"))) >> m.pollsPerSecond >> m.cpuPercent;
    return m;
}

// Against a device that answers at once (as tools/dispatch_bench's responder does), and
// against one that takes as long as the wire at 921600 baud.
void RoundTrips(int exchanges) {
    for (const bool lineTime : {false, true}) {
        orvi::sim::Scenario s = orvi::sim::SteadyScenario();
        s.lineTime = lineTime;
        ExchangePath viaExchange(s, 921600); // the simulator's pty in a temporary port folder
        RawPath raw(s, 921600);
        std::vector<double> exchange, termios;
        for (int i = 0; i < exchanges; ++i) {
            exchange.push_back(viaExchange.RoundTripUs());
            termios.push_back(raw.RoundTripUs());
        }
        const double e50 = Median(exchange), r50 = Median(termios);
        std::printf("round trip, 6 out / 20 back, device %s, %d of each alternating: exchange at "
                    "--pace line median %.1f us, raw termios median %.1f us; ratio %.2f\n",
                    lineTime ? "on the wire's time at 921600 baud (282 us)" : "answering at once",
                    exchanges, e50, r50, e50 / r50);
    }
}

int Line(int baud, int seconds, int rounds, int reactUs) {
    orvi::sim::Scenario s = orvi::sim::SteadyScenario();
    s.lineTime = true;
    s.reactUs = uint32_t(reactUs);
    const double limit = LineLimit(baud, reactUs);
    std::vector<double> consolePolls, consoleCpu, linePolls, lineCpu, rawPolls, rawCpu,
        consoleSwitches, lineSwitches;
    for (int r = 0; r < rounds; ++r) {
        const Measured c = AcquireRound(s, baud, seconds, {"--pace", "console", "--interval", "1"});
        const Measured l = AcquireRound(s, baud, seconds, {"--pace", "line", "--interval", "0"});
        const Measured raw = RawRound(s, baud, seconds);
        rawPolls.push_back(raw.pollsPerSecond);
        rawCpu.push_back(raw.cpuPercent);
        std::printf("round %d: --pace console %.1f polls/s (%.1f%% of the limit), CPU %.2f%%; "
                    "--pace line %.1f polls/s (%.1f%%), CPU %.2f%%; raw termios %.1f polls/s "
                    "(%.1f%%), CPU %.2f%%\n",
                    r + 1, c.pollsPerSecond, 100 * c.pollsPerSecond / limit, c.cpuPercent,
                    l.pollsPerSecond, 100 * l.pollsPerSecond / limit, l.cpuPercent,
                    raw.pollsPerSecond, 100 * raw.pollsPerSecond / limit, raw.cpuPercent);
        consolePolls.push_back(c.pollsPerSecond);
        consoleCpu.push_back(c.cpuPercent);
        linePolls.push_back(l.pollsPerSecond);
        lineCpu.push_back(l.cpuPercent);
        consoleSwitches.push_back(c.switchesPerPoll);
        lineSwitches.push_back(l.switchesPerPoll);
    }
    const double cp = Median(consolePolls), cc = Median(consoleCpu), lp = Median(linePolls),
                 lc = Median(lineCpu);
    // CPU per poll in microseconds.
    const auto perPoll = [](double cpuPercent, double polls) {
        return polls > 0 ? cpuPercent / 100 / polls * 1e6 : 0.0;
    };
    std::printf("baud %d, reaction %d us, physical limit %.1f polls/s; medians of %d rounds of "
                "%d s:\n  --pace console %.1f polls/s = %.1f%% of the limit, CPU %.2f%% of one "
                "core, %.0f us CPU per poll\n  --pace line    %.1f polls/s = %.1f%% of the limit, "
                "CPU %.2f%% of one core, %.0f us CPU per poll\n  line/console: polls %.2fx, CPU "
                "per poll %.2fx\n",
                baud, reactUs, limit, rounds, seconds, cp, 100 * cp / limit, cc, perPoll(cc, cp),
                lp, 100 * lp / limit, lc, perPoll(lc, lp), cp > 0 ? lp / cp : 0.0,
                perPoll(cc, cp) > 0 ? perPoll(lc, lp) / perPoll(cc, cp) : 0.0);
    std::printf("  context switches per poll (all threads): console %.1f, line %.1f\n",
                Median(consoleSwitches), Median(lineSwitches));
    const double rp = Median(rawPolls), rc = Median(rawCpu);
    std::printf("  raw termios, back to back: %.1f polls/s = %.1f%% of the limit (what this "
                "machine's load leaves), %.0f us CPU per poll; --pace line/raw: polls %.2f, "
                "CPU per poll %.2fx\n",
                rp, 100 * rp / limit, perPoll(rc, rp), rp > 0 ? lp / rp : 0.0,
                perPoll(rc, rp) > 0 ? perPoll(lc, lp) / perPoll(rc, rp) : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "polls")
        return Polls(Argument(argc, argv, 2, 921600), Argument(argc, argv, 3, 5),
                     Argument(argc, argv, 4, 3));
    if (mode == "line") {
        const int status = Line(Argument(argc, argv, 2, 921600), Argument(argc, argv, 3, 5),
                                Argument(argc, argv, 4, 3), Argument(argc, argv, 5, 0));
        RoundTrips(Argument(argc, argv, 6, 2000));
        return status;
    }
    if (mode == "trips") {
        RoundTrips(Argument(argc, argv, 2, 2000));
        return 0;
    }
    if (mode == "raw-client" && argc > 4)
        return RawClient(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "versus" && argc > 2)
        return Versus(argv[2], Argument(argc, argv, 3, 921600), Argument(argc, argv, 4, 5),
                      Argument(argc, argv, 5, 3), argc > 6 && std::string(argv[6]) == "json");
    if (mode == "memory")
        return Memory(Argument(argc, argv, 2, 20));
    if (mode == "reconnect")
        return Reconnect(Argument(argc, argv, 2, 5));
    std::fprintf(stderr, "usage: orvi_acquire_bench polls [baud] [seconds] [rounds]\n"
                         "       orvi_acquire_bench line [baud] [seconds] [rounds] [react-us] "
                         "[exchanges]\n"
                         "       orvi_acquire_bench trips [exchanges]\n"
                         "       orvi_acquire_bench versus OTHER [baud] [seconds] [rounds] [json]\n"
                         "       orvi_acquire_bench memory [seconds]\n"
                         "       orvi_acquire_bench reconnect [times]\n");
    return 2;
}
