// Paint timing of the artificial horizon as the main window lays it out (193 pixels):
//   - one paint with the cached face against one paint that redraws the face every time,
//   - paints per second over a sweep of 10000 attitudes through the real repaint path.
// With --pictures DIR it instead writes PNGs of three attitudes into DIR.
// The main window's values and the expose helper are shared with the widget tests.
#include "tests/widgets/MainWindowHorizon.h"
#include "tests/widgets/ShowExposed.h"
#include "widgets/Gorizont.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace orvi::widgets;
using orvi::widgets::test::ApplyMainWindowValues;
using orvi::widgets::test::ShowExposed;
using Clock = std::chrono::steady_clock;

namespace {

// Counts the paints that really ran.
int gPaints = 0;

class BenchGorizont : public TGorizont {
public:
    bool rebuildEveryPaint = false;

    // One paint onto an off-screen image, as the widget's paint event does it.
    void PaintOnto(QImage& target) {
        QPainter canvas(&target);
        Paint(canvas);
    }

protected:
    void Paint(QPainter& canvas) override {
        ++gPaints;
        if (rebuildEveryPaint) {
            MarkTableChanged();
        }
        TGorizont::Paint(canvas);
    }
};

// Attitude i of a sweep: roll runs once over its range while pitch swings three times between
// -90 and 90.
void Attitude(int i, int count, double& kren, double& tangaj) {
    const double t = double(i) / count;
    kren = -180.0 + 360.0 * t;
    tangaj = 90.0 * std::sin(t * 6 * 3.141592653589793);
}

struct Stats {
    double minUs, medianUs, meanUs;
};

Stats Summarise(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us) {
        sum += v;
    }
    return {us.front(), us[us.size() / 2], sum / us.size()};
}

Stats TimePaints(BenchGorizont& g, bool rebuild, int count) {
    g.rebuildEveryPaint = rebuild;
    QImage target(g.size(), QImage::Format_ARGB32_Premultiplied);
    g.PaintOnto(target); // warm caches and the face
    std::vector<double> us;
    us.reserve(count);
    for (int i = 0; i < count; ++i) {
        double kren = 0, tangaj = 0;
        Attitude(i, count, kren, tangaj);
        g.SetKrenTangaj(kren, tangaj); // hidden: stores only
        const auto start = Clock::now();
        g.PaintOnto(target);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    g.rebuildEveryPaint = false;
    return Summarise(std::move(us));
}

// Sweeps attitudes through SetKrenTangaj on a shown widget: each call repaints synchronously.
double SweepPaintsPerSecond(BenchGorizont& g, bool rebuild, int count) {
    g.rebuildEveryPaint = rebuild;
    gPaints = 0;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        double kren = 0, tangaj = 0;
        Attitude(i, count, kren, tangaj);
        g.SetKrenTangaj(kren, tangaj);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    g.rebuildEveryPaint = false;
    return gPaints / seconds;
}

int RunBenchmark() {
    BenchGorizont g;
    ApplyMainWindowValues(g);
    const int paints = 5000;
    const Stats cached = TimePaints(g, false, paints);
    const Stats rebuilt = TimePaints(g, true, paints);
    std::printf("horizon 193 px, main window values, %d paints each (microseconds per paint)\n",
                paints);
    std::printf("  cached face : min %7.1f  median %7.1f  mean %7.1f\n", cached.minUs,
                cached.medianUs, cached.meanUs);
    std::printf("  face rebuilt: min %7.1f  median %7.1f  mean %7.1f\n", rebuilt.minUs,
                rebuilt.medianUs, rebuilt.meanUs);
    std::printf("  rebuild / cached: median %.1fx, min %.1fx\n", rebuilt.medianUs / cached.medianUs,
                rebuilt.minUs / cached.minUs);

    if (!ShowExposed(g)) {
        std::fprintf(stderr, "the window was not exposed; no sweep\n");
        return 1;
    }
    const int sweep = 10000;
    const double cachedRate = SweepPaintsPerSecond(g, false, sweep);
    const double rebuiltRate = SweepPaintsPerSecond(g, true, sweep);
    std::printf("sweep of %d attitudes through SetKrenTangaj (synchronous repaint):\n", sweep);
    std::printf("  cached face : %8.0f paints/s\n", cachedRate);
    std::printf("  face rebuilt: %8.0f paints/s\n", rebuiltRate);
    std::printf("  (each sweep painted %d times)\n", gPaints);
    return 0;
}

int WritePictures(const QString& dir) {
    BenchGorizont g;
    ApplyMainWindowValues(g);
    ShowExposed(g);
    const struct {
        double kren, tangaj;
        const char* name;
    } shots[] = {{0, 0, "gorizont-level.png"},
                 {30, 20, "gorizont-roll30-pitch20.png"},
                 {-45, -30, "gorizont-roll-45-pitch-30.png"}};
    for (const auto& s : shots) {
        g.SetKrenTangaj(s.kren, s.tangaj);
        const QString path = QDir(dir).filePath(QString::fromLatin1(s.name));
        if (!g.grab().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("wrote %s\n", qPrintable(path));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const qsizetype pictures = args.indexOf(QStringLiteral("--pictures"));
    if (pictures >= 0) {
        if (pictures + 1 >= args.size()) {
            std::fprintf(stderr, "usage: gorizont_bench [--pictures DIR]\n");
            return 2;
        }
        return WritePictures(args.at(pictures + 1));
    }
    return RunBenchmark();
}
