// Measures how long the viewer's window takes from the program's start to its first
// picture of a log: the bench starts itself again as a child (a new process, so loading
// Qt and the fonts counts, as for orvi_viewer), which builds the same window as
// orvi_viewer's main, opens the log and reports through a pipe when the window first drew
// (still empty) and when the chart first drew records; the parent times both from just
// before it started the child. Runs alternate between a 1 M-line log and an empty
// window's start, so that both figures come from one run under the same load.
//
//   viewer_start_bench [--lines 1000000] [--runs 7]
// Uses the offscreen platform unless QT_QPA_PLATFORM is set (DISPLAY with "xcb" for Xvfb).
#include "tools/bench_support/BenchSupport.h"
#include "viewer/TrendChart.h"
#include "viewer/ViewerWindow.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using orvi::bench::Median;

void Generate(const std::string& path, long lines) {
    std::ofstream out(path, std::ios::binary);
    std::string buffer;
    for (long i = 0; i < lines; ++i) {
        buffer += std::to_string(1000 + 10 * i) + " 25.5 " + std::to_string(300 + i % 97) +
                  " 25.25 301.5 24.75 299 26 302.25 " + std::to_string(i % 21 - 10) + ".5 -2.25 " +
                  std::to_string(i % 100) + "\r\n";
        if (buffer.size() > (1 << 20)) {
            out << buffer;
            buffer.clear();
        }
    }
    out << buffer;
}

// The child: the window as orvi_viewer makes it; writes 'w' at its first drawing and 'd'
// at the first drawing with records, then quits.
int Child(int argc, char** argv, int fd, const char* file) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    (void)argc;
    orvi::viewer::TViewerWindow::LoadQtTranslations();
    orvi::viewer::TViewerWindow window;
    bool first = true;
    QObject::connect(window.Chart(), &orvi::viewer::TTrendChart::PlotDrawn, &app,
                     [&](bool withRecords) {
                         if (first && write(fd, "w", 1) == 1)
                             first = false;
                         if (withRecords || !*file) {
                             [[maybe_unused]] const auto n = write(fd, "d", 1);
                             QTimer::singleShot(0, &app, &QApplication::quit);
                         }
                     });
    window.show();
    if (*file)
        window.OpenFile(QString::fromLocal8Bit(file));
    return app.exec();
}

struct TTimes {
    double Window = 0, Picture = 0; // ms from the start
};

TTimes Run(const char* self, const std::string& file) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        std::freopen("/dev/null", "w", stderr);
        const std::string fd = std::to_string(pipeFds[1]);
        execl(self, self, "--child", fd.c_str(), file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    TTimes times;
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        (c == 'w' ? times.Window : times.Picture) = ms;
        if (c == 'd')
            break;
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return times;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return Child(argc, argv, std::atoi(argv[2]), argv[3]);
    long lines = 1000000;
    int runs = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--lines") == 0)
            lines = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("viewer_start_bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string log = (dir / "2024_3_7_9_5.txt").string();
    Generate(log, lines);
    setenv("HOME", dir.c_str(), 1); // the recent files go there, not into the user's home
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::vector<double> window, picture, empty;
    for (int i = 0; i < runs; ++i) {
        const TTimes t = Run(argv[0], log);
        window.push_back(t.Window);
        picture.push_back(t.Picture);
        empty.push_back(Run(argv[0], "").Window);
    }
    std::printf("%ld lines, %d runs, medians (min..max):\n", lines, runs);
    const auto show = [](const char* what, std::vector<double> v) {
        std::printf("  %-44s %6.0f ms (%.0f..%.0f)\n", what, Median(v),
                    *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    show("start to the empty window's first drawing:", empty);
    show("start to the window's first drawing (log):", window);
    show("start to the first picture of records:", picture);
    std::filesystem::remove_all(dir);
    return 0;
}
