// The viewer's real window offscreen: it opens a log and names the skipped line, draws
// the curves, zooms with the wheel, shows the values under the cursor, follows a file the
// test appends to (moving with the end only when the view is at the end), exports CSV and
// saves a picture.
#include "viewer/ViewerWindow.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <fstream>

namespace orvi::viewer {
namespace {

std::string Lines(int from, int count) {
    std::string bytes;
    for (int i = from; i < from + count; ++i)
        bytes += std::to_string(10 * i) + " 25.5 " + std::to_string(300 + i % 50) +
                 " 25 300 25 300 25 300 1.5 -2 7\r\n";
    return bytes;
}

void Append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// Runs the event loop (the window's own timer included) until `done`, at most 10 s.
template <class F> bool Until(F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

uint64_t Records(const TViewerWindow& w) {
    return w.Log()->Query(
        [](const TLogIndex& index, const TByteReader&) { return index.Records(); });
}

int PixelsOf(const QImage& image, QColor color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == color;
    return count;
}

TEST(ViewerWindow, OpensZoomsFollowsAndExports) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("2024_3_7_9_5.txt");
    std::string bytes = Lines(0, 3000);
    bytes.insert(bytes.find("60 25.5"), "a torn 1 2\r\n"); // line 7
    Append(path, bytes);
    TViewerWindow w;
    w.resize(1200, 800);
    w.show();
    EXPECT_FALSE(w.OpenFile(QString::fromStdString(dir.FilePath("missing.txt"))));
    EXPECT_TRUE(w.StatusText().startsWith(QStringLiteral("Не удалось открыть")));
    ASSERT_TRUE(w.OpenFile(QString::fromStdString(path)));
    ASSERT_TRUE(Until([&] { return w.StatusText().contains(QStringLiteral("пропущено")); }));
    EXPECT_TRUE(w.StatusText().contains(QStringLiteral("пропущено строк: 1 (7)")))
        << w.StatusText().toStdString();
    TTrendChart* chart = w.Chart();
    EXPECT_EQ(chart->ToMs(), 29990);
    const QColor zeroCount = TTrendChart::ChannelPen(10).color();
    EXPECT_GT(PixelsOf(chart->grab().toImage(), zeroCount), 500);

    const QPointF middle(chart->width() / 2.0, chart->height() / 4.0);
    QWheelEvent wheel(middle, chart->mapToGlobal(middle), {}, {0, 240}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
    EXPECT_LT(chart->ToMs() - chart->FromMs(), 29990 * 0.7);
    EXPECT_LT(chart->ToMs(), 29990);
    QMouseEvent move(QEvent::MouseMove, middle, chart->mapToGlobal(middle), Qt::NoButton, {}, {});
    QApplication::sendEvent(chart, &move);
    ASSERT_TRUE(chart->CursorRecord().has_value());
    EXPECT_EQ(chart->CursorRecord()->Record.Values[0], 25.5);

    // A view that is not at the end stays put while the file grows.
    const double from = chart->FromMs();
    Append(path, Lines(3000, 500));
    ASSERT_TRUE(Until([&] { return Records(w) == 3500; }));
    QApplication::processEvents();
    EXPECT_EQ(chart->FromMs(), from);
    // Everything (Home), then the view follows the end.
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(chart, &home);
    Append(path, Lines(3500, 100) + "36000 25.5 3");
    ASSERT_TRUE(Until([&] { return chart->ToMs() == 35990; }));
    EXPECT_EQ(Records(w), 3600u); // the torn line waits

    chart->SetView(1000, 2000);
    const QString csv = QString::fromStdString(dir.FilePath("visible.csv"));
    ASSERT_TRUE(w.ExportCsv(csv, true));
    const std::string visible = testing::FileBytes(csv.toStdString());
    EXPECT_EQ(std::count(visible.begin(), visible.end(), '\n'), 1 + 101);
    EXPECT_NE(visible.find("\r\n1.000,2024-03-07T09:05:01.000,1000,25.5,"), std::string::npos);
    ASSERT_TRUE(w.ExportCsv(csv, false));
    const std::string all = testing::FileBytes(csv.toStdString());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1 + 3600);
    const QString png = QString::fromStdString(dir.FilePath("chart.png"));
    ASSERT_TRUE(w.SaveImage(png));
    EXPECT_EQ(QImage(png).size(), chart->size());
}

} // namespace
} // namespace orvi::viewer
