// Measures orvi_viewer on generated data logs of 1 M and 10 M lines (in a temporary
// folder): the --png run against Kst's rendering of the same log, alternating run by run,
// time and peak private memory (RssAnon, sampled every 10 ms) with their ratios; then, with
// the real chart offscreen, the first picture after opening, a repaint at 1600 px at several
// zooms (also while indexing), the cursor's record lookup and the statistics of the whole
// log (each against the way without the index's help, alternating), `orvi_viewer --stats`
// from its start, and the follow lag of the real window.
//
//   viewer_bench [--lines 1000000,10000000] [--runs 3] [--previous PATH]
// --previous names an orvi_viewer of an earlier version to alternate with for --png.
// Kst (kst2) is skipped with a message when it is not installed.
#include "app/DataLog.h"
#include "tools/bench_support/BenchSupport.h"
#include "viewer/IndexedLog.h"
#include "viewer/RangeStats.h"
#include "viewer/TrendChart.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

using orvi::bench::Median;

// A log as the console writes it (its own line writer), with a spike now and then.
void Generate(const std::string& path, long lines) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 0.05);
    orvi::app::TMeasurementRecord r;
    std::string buffer;
    for (long i = 0; i < lines; ++i) {
        r.Tick = int32_t(uint32_t(2000000000u) + uint32_t(i * 10));
        for (int c = 0; c < 4; ++c) {
            r.Housing[c] = std::round((25 + 3 * std::sin(i / 4e4 + c) + noise(random)) * 100) / 100;
            r.Sensor[c] =
                std::round((300 + 80 * std::sin(i / 7e4 + c) + noise(random) * 20) * 100) / 100;
        }
        if (i % 777777 == 500000)
            r.Sensor[1] += 500;
        r.Roll = std::round(10 * std::sin(i / 3e4) * 100) / 100;
        r.Pitch = std::round(5 * std::cos(i / 2e4) * 100) / 100;
        r.ZeroCount = int16_t(100 * std::sin(i / 1e5));
        buffer += orvi::app::LogLine(r);
        if (buffer.size() > (1 << 20)) {
            out << buffer;
            buffer.clear();
        }
    }
    out << buffer;
}

struct TRun {
    double Seconds = 0;
    double RssAnonMb = 0, RssMb = 0;
    int Status = -1;
};

long StatusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return 0;
}

TRun Measure(std::vector<std::string> args, const std::string& home) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout); // or the child's stdout takes a copy of what is not yet written
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    TRun run;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        run.RssAnonMb = std::max(run.RssAnonMb, StatusKb(pid, "RssAnon:") / 1024.0);
        run.RssMb = std::max(run.RssMb, StatusKb(pid, "VmRSS:") / 1024.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.Seconds = Ms(Clock::now() - start) / 1000;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool HaveKst() {
    return std::system("command -v kst2 >/dev/null 2>&1") == 0;
}

std::string previous; // --previous: an earlier orvi_viewer, alternating with this one

void ComparePrevious(const std::string& log, const std::string& dir, int runs) {
    if (previous.empty())
        return;
    std::vector<double> nt, nm, pt, pm;
    for (int i = 0; i < runs; ++i) {
        const TRun n = Measure({ORVI_VIEWER, "--png", dir + "/v.png", log}, dir);
        const TRun p = Measure({previous, "--png", dir + "/p.png", log}, dir);
        nt.push_back(n.Seconds), nm.push_back(n.RssAnonMb);
        pt.push_back(p.Seconds), pm.push_back(p.RssAnonMb);
    }
    std::printf("  --png, this version %.2f s %.0f MB; previous %.2f s %.0f MB (time ratio %.2f)\n",
                Median(nt), Median(nm), Median(pt), Median(pm), Median(nt) / Median(pt));
}

// `orvi_viewer --stats` of the whole log from the program's start (indexing included).
void StatsCommand(const std::string& log, const std::string& dir, int runs) {
    std::vector<double> t, m;
    for (int i = 0; i < runs; ++i) {
        const TRun run = Measure({ORVI_VIEWER, "--stats", log}, dir);
        t.push_back(run.Seconds), m.push_back(run.RssAnonMb);
    }
    std::printf("  orvi_viewer --stats (whole log, from start): %.2f s, RssAnon %.0f MB\n",
                Median(t), Median(m));
}

void CompareWithKst(const std::string& log, const std::string& dir, int runs, double fileMb) {
    const bool kst = HaveKst();
    if (!kst)
        std::printf("  kst2 not installed (apt-get install -y --no-install-recommends kst): "
                    "Kst skipped\n");
    std::vector<double> vt, vm, vr, kt, km, kr;
    for (int i = 0; i < runs; ++i) {
        const TRun v =
            Measure({ORVI_VIEWER, "--png", dir + "/v.png", "--size", "1600x900", log}, dir);
        vt.push_back(v.Seconds), vm.push_back(v.RssAnonMb), vr.push_back(v.RssMb);
        if (v.Status != 0)
            std::printf("  orvi_viewer exited with %d\n", v.Status);
        if (!kst)
            continue;
        // Eight curves against the tick, the reference command line of the comparison.
        std::vector<std::string> args{"kst2", log, "-x", "1"};
        for (int y = 2; y <= 9; ++y)
            args.insert(args.end(), {"-y", std::to_string(y)});
        args.insert(args.end(), {"--png", dir + "/k.png"});
        const TRun k = Measure(args, dir);
        kt.push_back(k.Seconds), km.push_back(k.RssAnonMb), kr.push_back(k.RssMb);
    }
    std::printf("  orvi_viewer --png: %.2f s, RssAnon %.0f MB (budget %.0f MB), RSS %.0f MB\n",
                Median(vt), Median(vm), 40 + 0.05 * fileMb, Median(vr));
    if (kst)
        std::printf("  kst2 --png:        %.2f s, RssAnon %.0f MB, RSS %.0f MB\n"
                    "  ratio Kst/viewer:  time %.1fx, RssAnon %.1fx\n",
                    Median(kt), Median(km), Median(kr), Median(kt) / Median(vt),
                    Median(km) / Median(vm));
}

// The cursor's records: the index's search to the block (Nearest) against the earlier
// window's way, a visit of the records within 1/50 of the view around the cursor, over the
// whole log, alternating at seven places.
void CursorLookup(const orvi::viewer::TIndexedLog& log) {
    using namespace orvi::viewer;
    const double span = double(
        log.Query([](const TLogIndex& index, const TByteReader&) { return index.LastMs(); }));
    std::vector<double> search, visit;
    for (int round = 0; round < 3; ++round) {
        for (int i = 1; i <= 7; ++i) {
            const double ms = span * i / 8 + 3.3;
            auto begin = Clock::now();
            const auto found = log.Query([&](const TLogIndex& index, const TByteReader& read) {
                return index.Nearest(read, ms);
            });
            search.push_back(Ms(Clock::now() - begin));
            begin = Clock::now();
            const double reach = span / 50;
            std::optional<int64_t> best;
            log.Query([&](const TLogIndex& index, const TByteReader& read) {
                return index.ForEach(
                    read, int64_t(ms - reach), int64_t(ms + reach), [&](const TSample& s) {
                        if (!best || std::abs(double(s.Ms) - ms) < std::abs(double(*best) - ms))
                            best = s.Ms;
                        return double(s.Ms) <= ms;
                    });
            });
            visit.push_back(Ms(Clock::now() - begin));
            if (!found || !best || found->Ms != *best)
                std::printf("  cursor: the two ways disagree at %.0f ms\n", ms);
        }
    }
    std::printf("  cursor lookup, whole view: search to the block %.3f ms (max %.3f), visit "
                "of the view's 1/50 (the previous way) %.2f ms: %.0fx\n",
                Median(search), *std::max_element(search.begin(), search.end()), Median(visit),
                Median(visit) / Median(search));
}

// The statistics of the whole log and of a tenth of it from the index (Summarize) against
// a visit of every record in the range, alternating.
void RangeStatistics(const orvi::viewer::TIndexedLog& log, int runs) {
    using namespace orvi::viewer;
    const int64_t end =
        log.Query([](const TLogIndex& index, const TByteReader&) { return index.LastMs(); });
    for (const TMsRange range : {TMsRange{0, end}, TMsRange{end / 3 + 7, end / 3 + end / 10}}) {
        std::vector<double> indexed, visited;
        for (int i = 0; i < std::max(runs, 3); ++i) {
            auto begin = Clock::now();
            const auto stats = ComputeRangeStats(log, range);
            indexed.push_back(Ms(Clock::now() - begin));
            begin = Clock::now();
            TStatsChunk sums;
            log.Query([&](const TLogIndex& index, const TByteReader& read) {
                return index.ForEach(read, range.From, range.To, [&](const TSample& s) {
                    for (size_t c = 0; c < kChannelCount; ++c)
                        sums[c].Add(s.Record.Values[c], s.Ms);
                    return true;
                });
            });
            visited.push_back(Ms(Clock::now() - begin));
            if (!stats || stats->Channels[3].Count != sums[3].Count ||
                stats->Channels[3].Min != sums[3].Min)
                std::printf("  statistics: the two ways disagree\n");
        }
        std::printf("  statistics of %s: from the index %.2f ms, visiting every record %.0f ms: "
                    "%.0fx\n",
                    range.From == 0 ? "the whole log" : "a tenth", Median(indexed), Median(visited),
                    Median(visited) / Median(indexed));
    }
}

double RenderMs(orvi::viewer::TTrendChart& chart, QImage& image, bool rebuild) {
    if (rebuild)
        chart.SetView(chart.FromMs(), chart.ToMs()); // drops the cached plot
    const auto start = Clock::now();
    chart.render(&image);
    return Ms(Clock::now() - start);
}

void InWindow(const std::string& log) {
    std::string error;
    const auto start = Clock::now();
    auto indexed = orvi::viewer::TIndexedLog::Open(log, error);
    indexed->Start();
    while (indexed->Generation() == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    orvi::viewer::TTrendChart chart;
    chart.resize(1600, 900);
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    chart.SetLog(indexed.get(), std::nullopt);
    chart.render(&image);
    std::printf("  first picture after open: %.1f ms\n", Ms(Clock::now() - start));
    std::vector<double> during;
    while (!indexed->Done()) {
        chart.DataChanged();
        during.push_back(RenderMs(chart, image, true));
    }
    std::printf("  indexing took %.2f s; repaint while indexing (whole view, rebuilt): median "
                "%.1f ms, max %.1f ms over %zu\n",
                Ms(Clock::now() - start) / 1000, Median(during),
                during.empty() ? 0 : *std::max_element(during.begin(), during.end()),
                during.size());
    CursorLookup(*indexed);
    RangeStatistics(*indexed, 3);
    chart.ShowAll();
    const double span = chart.ToMs();
    // 1/20 and 1/200 hold about one index block per column at 1 M and 10 M lines: the most
    // blocks straddle a column boundary there.
    for (const double part : {1.0, 0.1, 0.05, 0.01, 0.005, 1e-3, 1e-4, 1e-5}) {
        std::vector<double> rebuilt, cached, query;
        for (int i = 0; i < 7; ++i) {
            const double from = span * (1 - part) * (i + 1) / 9;
            chart.SetView(from, from + span * part);
            rebuilt.push_back(RenderMs(chart, image, false));
            cached.push_back(RenderMs(chart, image, false));
            const auto begin = Clock::now();
            indexed->Query(
                [&](const orvi::viewer::TLogIndex& index, const orvi::viewer::TByteReader& read) {
                    return index.Columns(read, from, span * part / 1524, 1524).size();
                });
            query.push_back(Ms(Clock::now() - begin));
        }
        std::printf("  repaint at 1/%-6.0f of the log: rebuilt %.2f ms (max %.2f; the index's "
                    "columns %.2f ms), from cache %.2f ms\n",
                    1 / part, Median(rebuilt), *std::max_element(rebuilt.begin(), rebuilt.end()),
                    Median(query), Median(cached));
    }
}

void FollowLag(const std::string& dir) {
    const std::string path = dir + "/follow.txt";
    Generate(path, 100000);
    orvi::viewer::TViewerWindow window;
    window.resize(1600, 900);
    window.show();
    window.OpenFile(QString::fromStdString(path));
    while (!window.Log() || !window.Log()->Done())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    orvi::app::TMeasurementRecord r;
    std::vector<double> lags;
    for (int i = 0; i < 20; ++i) {
        r.Tick = int32_t(uint32_t(2000000000u) + uint32_t((100000 + i) * 10));
        const double end = double(int64_t(100000 + i) * 10);
        const auto start = Clock::now();
        std::ofstream(path, std::ios::binary | std::ios::app) << orvi::app::LogLine(r);
        while (window.Chart()->ToMs() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        window.Chart()->repaint();
        lags.push_back(Ms(Clock::now() - start));
        std::this_thread::sleep_for(std::chrono::milliseconds(17));
    }
    std::printf("follow lag (line written -> drawn, window polling every %d ms): median %.0f ms, "
                "max %.0f ms\n",
                orvi::viewer::TViewerWindow::kFollowMs, Median(lags),
                *std::max_element(lags.begin(), lags.end()));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes{1000000, 10000000};
    int runs = 3;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 == argc ||
            (option != "--runs" && option != "--lines" && option != "--previous")) {
            std::fprintf(stderr,
                         "usage: viewer_bench [--lines N,N...] [--runs R] [--previous PATH]\n");
            return 2;
        }
        if (option == "--previous")
            previous = argv[i + 1];
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::string(argv[i]) == "--lines") {
            sizes.clear();
            for (const char* p = argv[i + 1]; *p;
                 p = std::strchr(p, ',') ? std::strchr(p, ',') + 1 : "")
                sizes.push_back(std::atol(p));
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char pattern[] = "/tmp/orvi-viewer-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    QApplication app(argc, argv);
    for (const long lines : sizes) {
        const std::string log = dir + "/log.txt";
        Generate(log, lines);
        const double mb = double(fs::file_size(log)) / 1e6;
        std::printf("%ld lines (%.0f MB), %d runs alternating:\n", lines, mb, runs);
        std::fflush(stdout);
        CompareWithKst(log, dir, runs, mb);
        ComparePrevious(log, dir, runs);
        StatsCommand(log, dir, runs);
        InWindow(log);
        std::fflush(stdout);
        fs::remove(log);
    }
    FollowLag(dir);
    fs::remove_all(dir);
    return 0;
}
