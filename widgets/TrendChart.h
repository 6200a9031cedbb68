#pragma once
// The trend chart of a data log: three panes over one time axis (the eight temperatures,
// roll and pitch, the zero count), drawn from the log's level-of-detail index. Every pixel
// column draws the minimum and maximum of the records it covers, so a one-sample spike
// always shows; a view deep enough to hold about one record per column draws the records
// themselves, read from the mapped file. The drawing costs the chart's width, not the log's
// length.
//
// The plot (axes, ticks, curves) is drawn into a cached pixmap, rebuilt only when the view,
// the data, the size or the channels change; paintEvent draws the cache, the cursor line
// and the zoom rectangle over it.
//
// Mouse: the wheel zooms around the pointer, a left drag pans, a right drag (or a left drag
// with Shift) zooms to the rectangle; Home shows everything.
//
// Owned by its parent widget; GUI thread only. The log is not owned and must outlive its
// use here (SetLog(nullptr) before it goes); its index is read under the log's own lock.
#include "viewer/DateName.h"
#include "viewer/LogIndex.h"

#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <optional>

namespace orvi::viewer {
class TIndexedLog;
}

namespace orvi::widgets {

class TTrendChart : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPaneCount = 3;

    explicit TTrendChart(QWidget* owner = nullptr);

    void SetLog(const viewer::TIndexedLog* log, std::optional<viewer::TDateName> date);
    // New records were indexed: redraws; a view whose right edge is at the end of the log
    // moves with it, any other view stays put.
    void DataChanged();
    // Everything, every pane scaled to its data (the Home key).
    void ShowAll();
    // The visible time range in milliseconds from the first record.
    double FromMs() const { return fromMs_; }
    double ToMs() const { return toMs_; }
    void SetView(double fromMs, double toMs);

    void SetChannelVisible(size_t channel, bool visible);
    bool ChannelVisible(size_t channel) const { return visible_[channel]; }
    // The time axis in wall-clock time (only when the file name tells the date).
    void SetWallClock(bool on);
    bool WallClock() const { return wallClock_ && date_.has_value(); }

    // How a channel is drawn: housing channels solid in warm colours, sensor channels dashed
    // in cool ones (the legend draws its samples with the same pens).
    static QPen ChannelPen(size_t channel);
    // The pane of a channel: 0 temperatures, 1 roll and pitch, 2 zero count.
    static int PaneOf(size_t channel);

    // The record nearest the cursor, and its time; none when the cursor is off the plot.
    const std::optional<viewer::TSample>& CursorRecord() const { return cursor_; }

signals:
    void CursorMoved(); // CursorRecord changed
    void ViewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct TRange {
        double Low = 0, High = 1;
    };
    QRect PlotRect() const;
    QRect PaneRect(int pane) const;
    double MsAt(int x) const;
    double XOf(double ms) const;
    double EndMs() const;
    void Invalidate();
    void RebuildCache();
    void DrawColumns(QPainter& p, const std::vector<viewer::TColumn>& columns);
    void DrawSamples(QPainter& p, const std::vector<viewer::TSample>& samples);
    void DrawTimeAxis(QPainter& p);
    void DrawLegend(QPainter& p);
    void DrawPaneAxes(QPainter& p, int pane);
    void UpdateRanges(const std::vector<viewer::TColumn>& columns,
                      const std::vector<viewer::TSample>& samples);
    void UpdateCursor(int x);
    void Zoom(double anchorMs, double factor);

    const viewer::TIndexedLog* log_ = nullptr;
    std::optional<viewer::TDateName> date_;
    bool wallClock_ = false;
    double fromMs_ = 0, toMs_ = 1000;
    bool showingAll_ = true;                     // the view grows with the log
    double lastEndMs_ = 0;                       // the log's end when last drawn
    std::array<TRange, kPaneCount> ranges_;      // the panes' value ranges
    std::array<bool, kPaneCount> manualRange_{}; // set by a rectangle zoom until Home
    std::array<bool, viewer::kChannelCount> visible_;
    QPixmap cache_;
    bool cacheValid_ = false;
    std::optional<viewer::TSample> cursor_;
    int cursorX_ = -1;
    QPoint pressAt_, dragAt_;
    enum class TDrag { None, Pan, Zoom } drag_ = TDrag::None;
    double pressFromMs_ = 0, pressToMs_ = 0;
};

} // namespace orvi::widgets
