// orvi_console_bench: the real console window, offscreen, measured.
//   polls  <baud> [seconds]   a run against orvi_device_sim (a separate process, so that the
//                             CPU use measured is the console's alone); at speeds where a
//                             27-byte exchange takes a millisecond or more on the wire the
//                             device is told to answer that much later
//   replay [lines] [step-ms]  a data log of `lines` records `step-ms` apart played back at
//                             the recorded pace: resident memory and how late records show
//   screenshot <file.png>     a run against the simulator for a few seconds, then the whole
//                             screen saved (run it under xvfb-run for the documentation)
#include "app/Controls.h"
#include "app/DataLog.h"
#include "app/ErrorDisplay.h"
#include "app/Unit1.h"
#include "platform/Clock.h"
#include "platform/PortNames.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using orvi::app::TForm1;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

void PumpFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The simulator command, stopped when this goes.
class SimulatorProcess {
public:
    SimulatorProcess(const std::string& folder, uint32_t lateMs) {
        std::vector<std::string> args = {
            ORVI_DEVICE_SIM, "--port", "5", "--port-dir", folder, "--late", std::to_string(lateMs)};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        const std::string link = folder + "/COM5";
        for (int i = 0; i < 500 && access(link.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SimulatorProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

int Polls(int baud, int seconds) {
    QTemporaryDir folder;
    // Request and reply, 27 bytes of 10 bits each.
    const uint32_t wireMs = uint32_t(27 * 10 * 1000 / baud);
    SimulatorProcess device(folder.path().toStdString(), wireMs);
    if (!device.Running())
        return 1;
    orvi::platform::SetPortOverrideDir(folder.path().toStdString());
    TForm1 form;
    form.PortS->setCurrentText(QString::number(baud));
    form.DTE->setText("1");
    long polls = 0;
    form.AfterShowRecord = [&] { ++polls; };
    form.StartButton->click();
    if (!form.Running)
        return 1;
    PumpFor(1000); // settle
    const long polls0 = polls;
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    PumpFor(seconds * 1000);
    const double elapsed = double(wall.elapsed()) / 1000;
    const double cpu = CpuSeconds() - cpu0;
    const long counted = polls - polls0;
    form.StartButton->click();
    PumpFor(200);
    std::printf("baud %d, reply delay %u ms: %ld polls in %.1f s = %.1f polls/s; console CPU "
                "%.1f%% of one core\n",
                baud, wireMs, counted, elapsed, double(counted) / elapsed, 100 * cpu / elapsed);
    return 0;
}

int Replay(long lines, int stepMs) {
    QTemporaryDir folder;
    const std::string path = folder.filePath("replay.txt").toStdString();
    {
        orvi::app::TDataLog log(path);
        orvi::app::TMeasurementRecord r;
        std::string block;
        for (long i = 0; i < lines; ++i) {
            r.Tick = int32_t(1000 + i * stepMs);
            r.Housing.fill(20 + double(i % 300) / 10);
            r.Sensor.fill(30 - double(i % 200) / 10);
            r.Roll = double(i % 120) - 60;
            r.Pitch = double(i % 60) - 30;
            r.ZeroCount = int16_t(i % 1000);
            block += orvi::app::LogLine(r);
            if (block.size() > 1 << 20) {
                log.Write(block);
                block.clear();
            }
        }
        log.Write(block);
        log.Close();
    }
    TForm1 form;
    form.show();
    PumpFor(500); // the window's first paints are not part of the replay
    form.FName->setText(QString::fromStdString(path));
    long shownCount = 0;
    int32_t worst = 0;
    std::vector<int32_t> lateness;
    form.AfterShowRecord = [&] {
        if (form.Record.Tick == 0)
            return; // the all-zero record after the end
        const uint32_t now = orvi::platform::TickCount();
        const int32_t late = int32_t((now - form.ReplayStartTick) -
                                     uint32_t(form.Record.Tick - form.ReplayFirstTick));
        worst = std::max(worst, late);
        lateness.push_back(late);
        ++shownCount;
    };
    lateness.reserve(size_t(lines) + 1);
    const long rss0 = ResidentKiB();
    long rssMax = rss0;
    long rssSettled = -1; // after the first seconds, once the window has painted and caches filled
    form.FileButton->click();
    QElapsedTimer wall;
    wall.start();
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        rssMax = std::max(rssMax, ResidentKiB());
        if (rssSettled < 0 && wall.elapsed() >= 5000)
            rssSettled = ResidentKiB();
    });
    sampler.start(1000);
    while (form.file_timer->isActive())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const long rss1 = ResidentKiB();
    // Worst lateness in each tenth of the replay: a trend would show a cost that grows.
    std::string tenths;
    for (size_t part = 0; part < 10 && !lateness.empty(); ++part) {
        const auto begin = lateness.begin() + long(part * lateness.size() / 10);
        const auto end = lateness.begin() + long((part + 1) * lateness.size() / 10);
        tenths += ' ';
        tenths += std::to_string(begin == end ? 0 : *std::max_element(begin, end));
    }
    std::sort(lateness.begin(), lateness.end());
    const auto at = [&](double q) {
        return lateness.empty() ? 0 : lateness[size_t(q * double(lateness.size() - 1))];
    };
    std::printf("replay of %ld lines %d ms apart: %.1f s; %ld records shown; lateness after "
                "due: median %d ms, 99%% %d ms, worst %d ms (file_timer tick 10 ms); resident "
                "memory %ld KiB at start, %ld KiB after 5 s, %ld KiB at most, %ld KiB at the "
                "end\n",
                lines, stepMs, double(wall.elapsed()) / 1000, shownCount, at(0.5), at(0.99), worst,
                rss0, rssSettled, rssMax, rss1);
    std::printf("worst lateness in each tenth of the replay, ms:%s\n", tenths.c_str());
    return 0;
}

int Screenshot(const char* file) {
    QTemporaryDir folder;
    SimulatorProcess device(folder.path().toStdString(), 0);
    if (!device.Running())
        return 1;
    orvi::platform::SetPortOverrideDir(folder.path().toStdString());
    TForm1 form;
    form.show();
    form.DTE->setText("50");
    form.StartButton->click();
    if (!form.Running)
        return 1;
    PumpFor(3000);
    const QPixmap screen = form.screen()->grabWindow(0);
    const bool saved = screen.copy(form.frameGeometry()).save(QString::fromLocal8Bit(file));
    form.StartButton->click();
    PumpFor(200);
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orvi::app::SetMessageCapture([](const orvi::app::TShownMessage& m) {
        std::fprintf(stderr, "message: %s\n", m.Text.toUtf8().constData());
    });
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "polls" && argc > 2)
        return Polls(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 20);
    if (mode == "screenshot" && argc > 2)
        return Screenshot(argv[2]);
    if (mode == "replay")
        return Replay(argc > 2 ? std::atol(argv[2]) : 100000, argc > 3 ? std::atoi(argv[3]) : 1);
    std::fprintf(stderr, "usage: orvi_console_bench polls <baud> [seconds] | replay [lines] "
                         "[step-ms] | screenshot <file.png>\n");
    return 2;
}
