// orvi_mqtt_bench: orvi_acquire --mqtt against the device simulator and a private mosquitto
// on 127.0.0.1 (persistence on, in a temporary folder).
//   drain [outage-s] [earlier-records]  the broker away for outage-s while orvi_acquire polls
//                                       (and, to stand in for a longer outage, an earlier log
//                                       of that many records in the folder); from the broker's
//                                       return to every record logged until then being
//                                       acknowledged: records/s, and the polls/s meanwhile
//   cpu [seconds] [rounds]              polls/s and CPU with --mqtt (broker up) and without,
//                                       alternating round by round; the ratios
//   memory [outage-s] [step-s]          resident memory over an outage, with a data log and
//                                       with the memory queue only (2000 records), sampled
//                                       every step-s
// The simulator answers as late as the 27 bytes of an exchange take at 921600 baud.
#include "acquire/LogQueue.h"
#include "app/DataLog.h"
#include "platform/Clock.h"
#include "tools/bench_support/BenchSupport.h"
#include "tools/simulator/DeviceSimulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvi::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

pid_t Spawn(std::vector<std::string> args, const std::string& portDir, const std::string& err) {
    return orvi::bench::Spawn(std::move(args), portDir, "/dev/null", err);
}

// The logs (*.txt) of a folder: their lines (when asked) and what the broker has
// acknowledged of them (from the small position files alone).
void Count(const std::string& dir, uint64_t* lines, uint64_t& acked) {
    acked = 0;
    if (lines)
        *lines = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".txt")
            continue;
        if (lines)
            *lines += Lines(path);
        if (const auto clock = orvi::acquire::ReadClock(path))
            acked += orvi::acquire::ReadPosition(path, *clock).Seq;
    }
}

struct Bench {
    Bench() : root(fs::temp_directory_path() / ("orvi-bench-mqtt-" + std::to_string(getpid()))),
              port(FreePort()) {
        fs::create_directories(root / "logs");
        fs::create_directories(root / "broker");
        fs::permissions(root / "broker", fs::perms::all); // the broker's own user writes there
        std::ofstream(File("broker/mq.conf"))
            << "listener " << port << " 127.0.0.1\nallow_anonymous true\npersistence true\n"
            << "persistence_location " << File("broker") << "/\nautosave_interval 1\n";
        device = std::make_unique<orvi::sim::DeviceSimulator>(
            Late(), orvi::sim::PortSetup{5, root.string()});
    }
    ~Bench() {
        if (broker > 0)
            Stop(broker);
        device.reset();
        fs::remove_all(root);
    }
    static orvi::sim::Scenario Late() {
        orvi::sim::Scenario s;
        s.replyDelayMs = uint32_t(27 * 10 * 1000 / 921600);
        return s;
    }
    std::string File(const std::string& name) const { return (root / name).string(); }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port) + "/bench/1"; }
    void StartBroker() {
        broker = Spawn({"/usr/sbin/mosquitto", "-c", File("broker/mq.conf")}, root.string(),
                       File("broker/err"));
        while (!Listening(port))
            orvi::platform::SleepMs(5);
    }
    pid_t Acquire(std::vector<std::string> more) {
        std::vector<std::string> args = {ORVI_ACQUIRE, "--port", "COM5", "--baud", "921600"};
        args.insert(args.end(), more.begin(), more.end());
        return Spawn(args, root.string(), File("acquire.err"));
    }

    fs::path root;
    int port;
    pid_t broker = -1;
    std::unique_ptr<orvi::sim::DeviceSimulator> device;
};

// An earlier log of `records` lines, as a run killed during an outage leaves it.
void EarlierLog(const std::string& dir, int records) {
    const std::string log = dir + "/2000_1_1_0_0.txt";
    std::string bytes;
    orvi::app::TMeasurementRecord r;
    for (int k = 0; k < records; ++k) {
        r.Tick = 1000 + 22 * k;
        r.Housing[0] = 25 + 0.01 * (k % 100);
        bytes += orvi::app::LogLine(r);
    }
    std::ofstream(log, std::ios::binary) << bytes;
    std::string reason;
    orvi::acquire::WriteClock(log, orvi::acquire::TLogClock{1000, 946684800000}, reason);
}

int Drain(int outage, int earlier) {
    Bench b;
    if (earlier > 0)
        EarlierLog(b.File("logs"), earlier);
    const pid_t run = b.Acquire({"--log-dir", b.File("logs"), "--mqtt", b.Url()});
    const auto started = Clock::now();
    orvi::platform::SleepMs(uint32_t(outage) * 1000);
    uint64_t lines = 0, acked = 0;
    Count(b.File("logs"), &lines, acked);
    const uint64_t backlog = lines - acked;
    const double before = double(lines - uint64_t(earlier)) /
                          std::chrono::duration<double>(Clock::now() - started).count();
    b.StartBroker();
    const auto back = Clock::now();
    while (acked < lines && Clock::now() - back < std::chrono::minutes(5)) {
        orvi::platform::SleepMs(20);
        Count(b.File("logs"), nullptr, acked);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - back).count();
    uint64_t nowLines = 0;
    Count(b.File("logs"), &nowLines, acked);
    Stop(run);
    std::printf("outage %d s (+ an earlier log of %d records): backlog %llu records "
                "acknowledged %.2f s after the broker came back: %.0f records/s; polls meanwhile "
                "%.1f/s (%.1f/s during the outage)\n",
                outage, earlier, static_cast<unsigned long long>(backlog), seconds,
                double(backlog) / seconds, double(nowLines - lines) / seconds, before);
    return 0;
}

struct Round {
    double polls = 0;
    double cpu = 0;
};

Round Measure(Bench& b, bool mqtt, int seconds, int index) {
    const std::string log = b.File("logs/cpu" + std::to_string(index) + ".txt");
    std::vector<std::string> args = {"--log", log};
    if (mqtt)
        args.insert(args.end(), {"--mqtt", b.Url()});
    const pid_t pid = b.Acquire(args);
    orvi::platform::SleepMs(1000);
    const uint64_t lines0 = Lines(log);
    const double cpu0 = CpuSeconds(pid);
    const auto t0 = Clock::now();
    orvi::platform::SleepMs(uint32_t(seconds) * 1000);
    const uint64_t lines = Lines(log) - lines0;
    const double cpu = CpuSeconds(pid) - cpu0;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    Stop(pid);
    return {double(lines) / elapsed, 100 * cpu / elapsed};
}

int Cpu(int seconds, int rounds) {
    Bench b;
    b.StartBroker();
    Round with, without;
    for (int r = 0; r < rounds; ++r) {
        const Round m = Measure(b, true, seconds, 2 * r);
        const Round p = Measure(b, false, seconds, 2 * r + 1);
        std::printf("round %d: --mqtt %.1f polls/s, CPU %.2f%%; without %.1f polls/s, CPU %.2f%%\n",
                    r + 1, m.polls, m.cpu, p.polls, p.cpu);
        with.polls += m.polls / rounds;
        with.cpu += m.cpu / rounds;
        without.polls += p.polls / rounds;
        without.cpu += p.cpu / rounds;
    }
    std::printf("%d rounds of %d s: --mqtt %.1f polls/s at %.2f%% CPU, without %.1f polls/s at "
                "%.2f%% CPU; polls ratio %.3f, CPU ratio %.2f\n",
                rounds, seconds, with.polls, with.cpu, without.polls, without.cpu,
                with.polls / without.polls, without.cpu > 0 ? with.cpu / without.cpu : 0.0);
    return 0;
}

int Memory(int outage, int step) {
    for (const bool logged : {true, false}) {
        Bench b;
        // The memory queue is held to 2000 records (45 s) here, so that its plateau shows.
        std::vector<std::string> args = {"--mqtt", b.Url(), "--mqtt-queue", "2000"};
        if (logged)
            args.insert(args.end(), {"--log-dir", b.File("logs")});
        const pid_t pid = b.Acquire(args);
        std::printf("%s, broker away for %d s: resident KiB", logged ? "data log" : "memory queue",
                    outage);
        long first = -1, last = -1;
        for (int t = 0; t <= outage; t += step) {
            orvi::platform::SleepMs(uint32_t(t == 0 ? 1000 : step * 1000));
            last = ResidentKiB(pid);
            if (first < 0)
                first = last;
            std::printf(" %ld", last);
            std::fflush(stdout);
        }
        Stop(pid);
        std::printf("; first %ld, last %ld (%+ld)\n", first, last, last - first);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (access("/usr/sbin/mosquitto", X_OK) != 0) {
        std::fprintf(stderr, "orvi_mqtt_bench: /usr/sbin/mosquitto is missing (apt-get install "
                             "mosquitto)\n");
        return 1;
    }
    if (mode == "drain")
        return Drain(Argument(argc, argv, 2, 600), Argument(argc, argv, 3, 0));
    if (mode == "cpu")
        return Cpu(Argument(argc, argv, 2, 10), Argument(argc, argv, 3, 3));
    if (mode == "memory")
        return Memory(Argument(argc, argv, 2, 1800), Argument(argc, argv, 3, 60));
    std::fprintf(stderr, "usage: orvi_mqtt_bench drain [outage-s] [earlier-records]\n"
                         "       orvi_mqtt_bench cpu [seconds] [rounds]\n"
                         "       orvi_mqtt_bench memory [outage-s] [step-s]\n");
    return 2;
}
