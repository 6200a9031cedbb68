// The viewer's real window offscreen: it opens a log and names the skipped line, draws
// the curves, zooms with the wheel, shows the values under the cursor, follows a file the
// test appends to (moving with the end only when the view is at the end), exports CSV and
// saves a picture.
#include "viewer/ViewerWindow.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

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

// Shows the window with the log, read for the first time.
bool OpenAndRead(TViewerWindow& w, const std::string& path) {
    w.show();
    return w.OpenFile(QString::fromStdString(path)) && Until([&] { return !w.FirstReading(); });
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
    ASSERT_TRUE(Until([&] { return w.CountText().contains(QStringLiteral("пропущено")); }));
    EXPECT_TRUE(w.CountText().contains(QStringLiteral("пропущено строк: 1 (7)")))
        << w.CountText().toStdString();
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
    ASSERT_TRUE(Until([&] { return !w.Exporting(); }));
    const std::string visible = testing::FileBytes(csv.toStdString());
    EXPECT_EQ(std::count(visible.begin(), visible.end(), '\n'), 1 + 101);
    EXPECT_NE(visible.find("\r\n1.000,2024-03-07T09:05:01.000,1000,25.5,"), std::string::npos);
    ASSERT_TRUE(w.ExportCsv(csv, false));
    ASSERT_TRUE(Until([&] { return !w.Exporting(); }));
    EXPECT_EQ(w.StatusText(), QStringLiteral("Файл %1 записан: 3600 записей").arg(csv));
    const std::string all = testing::FileBytes(csv.toStdString());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1 + 3600);
    // Statistics of the selection, else of the visible range, as the dialog copies them.
    chart->SetSelection(1000, 2000);
    EXPECT_TRUE(w.StatisticsText().contains(
        QStringLiteral("Темп 1, °C\t101\t0\t300\t1.000\t349\t1.490\t324.257425743\t")))
        << w.StatisticsText().toStdString();
    chart->ClearMarks();
    chart->SetView(0, 500);
    EXPECT_TRUE(
        w.StatisticsText().startsWith(QStringLiteral("Диапазон: 0.000 … 0.500 с, записей: 51")))
        << w.StatisticsText().toStdString();

    const QString png = QString::fromStdString(dir.FilePath("chart.png"));
    ASSERT_TRUE(w.SaveImage(png));
    EXPECT_EQ(QImage(png).size(), chart->size());
    ASSERT_TRUE(w.SaveImage(QString::fromStdString(dir.FilePath("chart.svg"))));
    EXPECT_NE(testing::FileBytes(dir.FilePath("chart.svg")).find("<svg"), std::string::npos);
    ASSERT_TRUE(w.SaveImage(QString::fromStdString(dir.FilePath("chart.pdf"))));
    EXPECT_EQ(testing::FileBytes(dir.FilePath("chart.pdf")).substr(0, 5), "%PDF-");
    EXPECT_EQ(w.RecentFiles().value(0), QFileInfo(QString::fromStdString(path)).absoluteFilePath());
}

// A large export runs in the background: the window's event loop goes on and the chart
// draws meanwhile; a cancelled export leaves the file written before as it was.
TEST(ViewerWindow, ExportsInTheBackground) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    Append(path, Lines(0, 200000));
    TViewerWindow w;
    ASSERT_TRUE(OpenAndRead(w, path));
    const QString csv = QString::fromStdString(dir.FilePath("all.csv"));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks += w.Exporting(); });
    timer.start(1);
    ASSERT_TRUE(w.ExportCsv(csv, false));
    EXPECT_TRUE(w.Exporting());
    EXPECT_FALSE(w.ExportCsv(csv, false)); // one at a time
    EXPECT_FALSE(w.Chart()->grab().isNull());
    ASSERT_TRUE(Until([&] { return !w.Exporting(); }));
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(w.StatusText(), QStringLiteral("Файл %1 записан: 200000 записей").arg(csv));
    const std::string all = testing::FileBytes(csv.toStdString());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1 + 200000);

    Append(path, Lines(200000, 10));
    ASSERT_TRUE(w.ExportCsv(csv, false));
    w.CancelExport();
    ASSERT_TRUE(Until([&] { return !w.Exporting(); }));
    EXPECT_TRUE(w.StatusText().contains(QStringLiteral("прервана")))
        << w.StatusText().toStdString();
    EXPECT_EQ(testing::FileBytes(csv.toStdString()), all);
}

// The status while a run writes the file: the count follows every new record (also a
// torn last line once completed), the progress bar belongs to the first reading only,
// and a file emptied and written anew by a new run is counted again, not called empty.
TEST(ViewerWindow, StatusFollowsTheData) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    Append(path, Lines(0, 100));
    TViewerWindow w;
    w.show();
    ASSERT_TRUE(w.OpenFile(QString::fromStdString(path)));
    auto* progress = w.findChild<QProgressBar*>();
    const auto counted = [&](int records) {
        return Until([&] { return w.CountText() == QStringLiteral("Записей: %1").arg(records); });
    };
    ASSERT_TRUE(counted(100)) << w.CountText().toStdString();
    for (int step = 1; step <= 4; ++step) {
        Append(path, Lines(100 * step, 100));
        EXPECT_TRUE(counted(100 * (step + 1))) << w.CountText().toStdString();
        EXPECT_FALSE(progress->isVisible());
    }
    const std::string torn = Lines(500, 1);
    Append(path, torn.substr(0, 10));
    QApplication::processEvents(QEventLoop::AllEvents, 100);
    Append(path, torn.substr(10));
    EXPECT_TRUE(counted(501)) << w.CountText().toStdString();

    std::filesystem::resize_file(path, 0);
    ASSERT_TRUE(Until([&] { return Records(w) == 0; }));
    Append(path, Lines(0, 3));
    EXPECT_TRUE(counted(3)) << w.CountText().toStdString();
    EXPECT_FALSE(progress->isVisible());
}

// Zooming out stops at the whole log and a margin; a wheel zoom about the end of a
// followed log keeps its right edge at the end; End goes back to the end and follows.
TEST(ViewerWindow, ZoomIsBoundedAndFollowsAtTheEnd) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    Append(path, Lines(0, 3000));
    TViewerWindow w;
    ASSERT_TRUE(OpenAndRead(w, path));
    TTrendChart* chart = w.Chart();
    const auto wheel = [&](double x, int notches) {
        const QPointF at(x, chart->height() / 4.0);
        QWheelEvent event(at, chart->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &event);
    };
    for (int i = 0; i < 15; ++i)
        wheel(chart->width() / 3.0, -10);
    const double whole = 29990, margin = whole * TTrendChart::kMarginShare;
    EXPECT_LE(chart->ToMs() - chart->FromMs(), whole + 2 * margin + 1e-6);
    EXPECT_GE(chart->FromMs(), -margin - 1e-6);
    EXPECT_LE(chart->ToMs(), whole + margin + 1e-6);

    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(chart, &home);
    wheel(chart->width() - 13, 3); // the plot's last pixel column
    EXPECT_EQ(chart->ToMs(), whole);
    EXPECT_LT(chart->ToMs() - chart->FromMs(), whole * 0.6);
    Append(path, Lines(3000, 100));
    EXPECT_TRUE(Until([&] { return chart->ToMs() == 30990; })) << chart->ToMs();

    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(chart, &left);
    EXPECT_LT(chart->ToMs(), 30990);
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(chart, &end);
    Append(path, Lines(3100, 100));
    EXPECT_TRUE(Until([&] { return chart->ToMs() == 31990; })) << chart->ToMs();
}

// Values of any finite size are drawn and scaled at every zoom; a 60 s jump of the tick is
// a gap at every zoom; zoomed in between two records the curves run from one to the other
// and the cursor shows the nearest record; a click pins the second cursor and the legend
// shows both and their difference.
TEST(ViewerWindow, DrawsEveryValueAtEveryZoomAndComparesTwoCursors) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    std::string bytes;
    for (int i = 0; i < 400; ++i) {
        const char* huge = i == 100   ? "1e308"
                           : i == 200 ? "-1e308"
                           : i == 300 ? "3.5e38"
                           : i == 50  ? "nan"
                                      : "25";
        bytes += std::to_string(1000 * i + (i >= 350 ? 60000 : 0)) + " " + huge + " " +
                 std::to_string(300 + i) + " 25 300 25 300 25 300 1.5 -2 " + std::to_string(i % 7) +
                 "\r\n";
    }
    Append(path, bytes);
    TViewerWindow w;
    w.resize(1200, 800);
    ASSERT_TRUE(OpenAndRead(w, path));
    EXPECT_EQ(w.CountText(), QStringLiteral("Записей: 400; значений не числом: 1 (строки 51)"));
    TTrendChart* chart = w.Chart();
    std::set<QRgb> colours;
    for (size_t c = 0; c < 10; ++c)
        colours.insert(TTrendChart::ChannelPen(c).color().rgb());
    EXPECT_EQ(colours.size(), 10u);
    const QColor first = TTrendChart::ChannelPen(0).color();
    const QColor zero = TTrendChart::ChannelPen(10).color();
    EXPECT_GT(PixelsOf(chart->grab().toImage(), first), 200); // the whole log
    chart->SetView(95000, 305000);
    EXPECT_GT(PixelsOf(chart->grab().toImage(), first), 200); // the records themselves

    const auto gapDrawn = [&](double from, double to) { // zero count pixels in the gap
        chart->SetView(from, to);
        const QImage image = chart->grab().toImage();
        const int x = int(64 + (380000 - from) * (chart->width() - 64 - 12) / (to - from));
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            count += image.pixelColor(x, y) == zero;
        return count;
    };
    EXPECT_EQ(gapDrawn(0, 409000), 0);
    EXPECT_EQ(gapDrawn(345000, 415000), 0);
    EXPECT_GT(PixelsOf(chart->grab().toImage(), zero), 100);

    chart->SetView(150200, 150800); // between the records at 150 s and 151 s
    const QImage deep = chart->grab().toImage();
    EXPECT_GT(PixelsOf(deep, zero), 200);
    chart->MoveCursorTo(150300);
    ASSERT_TRUE(chart->CursorRecord().has_value());
    EXPECT_EQ(chart->CursorRecord()->Ms, 150000);

    chart->SetView(0, 399000);
    const auto xOf = [&](double ms) { return 64 + ms * (chart->width() - 64 - 12) / 399000; };
    const QPointF click(xOf(100000), chart->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, click, chart->mapToGlobal(click), Qt::LeftButton,
                      Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, click, chart->mapToGlobal(click),
                        Qt::LeftButton, {}, {});
    QApplication::sendEvent(chart, &press);
    QApplication::sendEvent(chart, &release);
    ASSERT_TRUE(chart->PinnedRecord().has_value());
    const int64_t pinned = chart->PinnedRecord()->Ms;
    EXPECT_NEAR(double(pinned), 100000, 1000);
    chart->MoveCursorTo(250000);
    ASSERT_TRUE(chart->CursorRecord().has_value());
    const int64_t at = chart->CursorRecord()->Ms;
    const QString expected = QStringLiteral("Темп 1\t%1 °C\t%2 °C\t%3 °C")
                                 .arg(300 + at / 1000)
                                 .arg(300 + pinned / 1000)
                                 .arg((at - pinned) / 1000);
    EXPECT_TRUE(w.CursorText().contains(expected)) << w.CursorText().toStdString();
}

// Two logs at once: aligned on wall-clock time by their date names (else on their
// starts), each with its own legend, check boxes, cursor records and statistics.
TEST(ViewerWindow, ShowsSeveralLogs) {
    testing::TempDir dir;
    const std::string first = dir.FilePath("2024_3_7_9_5.txt"),
                      second = dir.FilePath("2024_3_7_9_6_2.txt");
    Append(first, Lines(0, 10000)); // 0 .. 99.99 s
    Append(second, Lines(0, 1000)); // a minute later: 60 .. 69.99 s
    TViewerWindow w;
    w.show();
    ASSERT_TRUE(w.OpenFile(QString::fromStdString(first)));
    ASSERT_TRUE(w.AddFile(QString::fromStdString(second)));
    ASSERT_TRUE(Until([&] { return !w.FirstReading(); }));
    TTrendChart* chart = w.Chart();
    ASSERT_EQ(chart->LogCount(), 2u);
    EXPECT_EQ(chart->OffsetMs(1), 60000);
    chart->SetView(59000, 71000);
    chart->MoveCursorTo(61000);
    ASSERT_TRUE(chart->CursorRecord(0) && chart->CursorRecord(1));
    EXPECT_NEAR(double(chart->CursorRecord(0)->Ms), 61000, 20);
    EXPECT_NEAR(double(chart->CursorRecord(1)->Ms), 1000, 20);
    EXPECT_EQ(w.CursorText().count(QStringLiteral("Файл: ")), 2);
    const QList<QCheckBox*> boxes = w.findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 22);
    boxes[11]->setChecked(false); // the second log's first channel
    EXPECT_FALSE(chart->ChannelVisible(1, 0));
    EXPECT_TRUE(chart->ChannelVisible(0, 0));
    const QString stats = w.StatisticsText();
    EXPECT_TRUE(stats.contains(QStringLiteral("записей: 1201"))) << stats.toStdString();
    EXPECT_TRUE(stats.contains(QStringLiteral("записей: 1000"))) << stats.toStdString();
    EXPECT_TRUE(w.CountText().contains(QStringLiteral("2024_3_7_9_6_2.txt: Записей: 1000")))
        << w.CountText().toStdString();

    const std::string plain = dir.FilePath("run.txt"); // no date: aligned on the starts
    Append(plain, Lines(0, 10));
    ASSERT_TRUE(w.AddFile(QString::fromStdString(plain)));
    EXPECT_EQ(chart->OffsetMs(1), 0);
    EXPECT_EQ(chart->OffsetMs(2), 0);
}

TEST(ViewerWindow, RussianTexts) {
    EXPECT_TRUE(TViewerWindow::LoadQtTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    const std::pair<uint64_t, const char*> counts[] = {
        {1, "1 запись"},      {2, "2 записи"},      {4, "4 записи"},      {5, "5 записей"},
        {11, "11 записей"},   {12, "12 записей"},   {21, "21 запись"},    {22, "22 записи"},
        {111, "111 записей"}, {507, "507 записей"}, {1001, "1001 запись"}};
    for (const auto& [n, text] : counts)
        EXPECT_EQ(TViewerWindow::RecordCount(n), QString::fromUtf8(text));
    EXPECT_EQ(TViewerWindow::WithSuffix(QStringLiteral("/d/out"), QStringLiteral("csv")),
              QStringLiteral("/d/out.csv"));
    EXPECT_EQ(TViewerWindow::WithSuffix(QStringLiteral("/d/out.txt"), QStringLiteral("csv")),
              QStringLiteral("/d/out.txt"));
}

} // namespace
} // namespace orvi::viewer
