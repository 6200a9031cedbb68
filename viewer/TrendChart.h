#pragma once
// The trend chart of a data log: three panes over one time axis (the eight temperatures,
// roll and pitch, the zero count), drawn from the log's level-of-detail index. Every pixel
// column draws the minimum and maximum of the records it covers, so a one-sample spike
// always shows; a view deep enough to hold about one record per column draws the records
// themselves, read from the mapped file, from the last one before the view to the first
// one after it, so that a curve reaches both edges however deep the zoom. The drawing
// costs the chart's width, not the log's length.
//
// Values of any finite size are scaled without overflow: a pane's range is kept as its
// middle and half height, and a value is placed by (v/2 - middle/2) / half.
//
// The plot (axes, ticks, curves) is drawn into a cached pixmap, rebuilt only when the view,
// the data, the size or the channels change; paintEvent draws the cache, the cursor lines,
// the selection and the zoom rectangle over it. The same drawing goes to SVG and PDF.
//
// Mouse: the wheel zooms around the pointer (at the end of a followed log the right edge
// stays at the end), a left drag pans, a click pins the second cursor, a right drag (or a
// left drag with Shift) zooms to the rectangle, a left drag with Ctrl selects a time range.
// Keys: arrows pan, + and - zoom, Home shows everything, End goes to the end and follows,
// Esc drops the pinned cursor and the selection. The view never grows past the whole log
// and a margin.
//
// Several logs at once: each is placed on the time axis by an offset, from the wall-clock
// times of their date names when all have one, else from their starts; each has its own
// channels shown, its own pens (the channel's colour, dotted from the second log on) and
// its records under the cursors.
//
// Owned by its parent widget; GUI thread only. The logs are not owned and must outlive
// their use here (SetLog(nullptr) before they go); an index is read under its log's lock.
#include "viewer/DateName.h"
#include "viewer/LogIndex.h"

#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <optional>
#include <utility>

namespace orvi::viewer {

class TIndexedLog;

class TTrendChart : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPaneCount = 3;

    explicit TTrendChart(QWidget* owner = nullptr);

    // Shows this log alone (none for nullptr).
    void SetLog(const TIndexedLog* log, std::optional<TDateName> date);
    // Shows one more log beside those shown; returns its number.
    size_t AddLog(const TIndexedLog* log, std::optional<TDateName> date);
    size_t LogCount() const { return logs_.size(); }
    // Where a log's first record lies on the time axis (the first log's is 0).
    double OffsetMs(size_t log) const { return logs_[log].OffsetMs; }
    // New records were indexed: redraws; a view whose right edge is at the end of the log
    // moves with it, any other view stays put.
    void DataChanged();
    // Everything, every pane scaled to its data (the Home key).
    void ShowAll();
    // The end of the log at the present span, following it (the End key).
    void ShowEnd();
    // The visible time range in milliseconds from the first record.
    double FromMs() const { return fromMs_; }
    double ToMs() const { return toMs_; }
    // Shows [fromMs, toMs], kept within the whole log and a margin (and at least kMinSpanMs).
    void SetView(double fromMs, double toMs);
    // The view's right edge is at the end: it moves with new records.
    bool Following() const { return showingAll_ || toMs_ >= lastEndMs_; }
    static constexpr double kMinSpanMs = 10;
    // The share of the whole log allowed on either side of it.
    static constexpr double kMarginShare = 0.05;

    void SetChannelVisible(size_t log, size_t channel, bool visible);
    bool ChannelVisible(size_t log, size_t channel) const { return logs_[log].Visible[channel]; }
    // The time axis in wall-clock time (only when the file name tells the date).
    void SetWallClock(bool on);
    bool WallClock() const { return wallClock_ && !logs_.empty() && logs_[0].Date; }
    // Names the channels above the panes (for a picture standing alone; the window has its
    // own legend beside the chart).
    void SetPlotLegend(bool on);

    // How a channel is drawn: housing channels solid in warm colours, sensor channels dashed
    // in cool ones, ten colours told apart (the legend draws its samples with the same pens).
    static QPen ChannelPen(size_t channel, size_t log = 0);
    // The pane of a channel: 0 temperatures, 1 roll and pitch, 2 zero count.
    static int PaneOf(size_t channel);

    // A log's record nearest the cursor (its time is the log's own); none when the cursor
    // is off the plot.
    const std::optional<TSample>& CursorRecord(size_t log = 0) const;
    // The second cursor, pinned by a click: the record nearest the click.
    const std::optional<TSample>& PinnedRecord(size_t log = 0) const;
    void MoveCursorTo(double ms); // as the mouse at that time would
    void PinAt(double ms);
    // A selected time range (Ctrl and a drag), in milliseconds.
    const std::optional<std::pair<double, double>>& Selection() const { return selection_; }
    void SetSelection(double fromMs, double toMs);
    void ClearMarks(); // the pinned cursor and the selection (Esc)

    // Writes the chart as shown, by the name's suffix: .png, .svg or .pdf (vector drawings);
    // false when the file cannot be written.
    bool SaveImage(const QString& path);

signals:
    void CursorMoved(); // CursorRecord or PinnedRecord changed
    void ViewChanged();
    void SelectionChanged();
    void PlotDrawn(bool withRecords); // the cached plot was drawn anew

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
    // A value range kept as middle and half height, so that no arithmetic on the largest
    // finite values overflows.
    struct TRange {
        double Mid = 0.5, Half = 0.5;
        double Low() const;
        double High() const;
        double Y(double value, const QRect& pane) const;   // clamped just outside the pane
        double ValueAt(double y, const QRect& pane) const; // clamped to finite values
        static TRange Of(double low, double high);
    };
    QRect PlotRect() const;
    QRect PaneRect(int pane) const;
    int HeaderHeight() const;
    double MsAt(int x) const;
    double XOf(double ms) const;
    double EndMs() const;
    double StartMs() const;
    struct TLogData; // what DrawPlot reads of one log
    void Invalidate();
    void RebuildCache();
    bool DrawPlot(QPainter& p); // true when records were drawn
    template <class F> void ForEachCurve(QPainter& p, size_t log, F draw) const;
    void DrawColumns(QPainter& p, size_t log, const std::vector<TColumn>& columns);
    void DrawSamples(QPainter& p, size_t log, const std::vector<TSample>& samples);
    void DrawTimeAxis(QPainter& p);
    void DrawHeaders(QPainter& p);
    void DrawPaneAxes(QPainter& p, int pane);
    void UpdateRanges(const std::vector<TLogData>& logData);
    std::optional<TSample> NearestRecord(size_t log, double ms) const;
    void UpdateCursor(int x);
    void Zoom(double anchorMs, double factor);
    void Pan(double share);
    double KeyAnchor() const;

    struct TShown {
        const TIndexedLog* Log = nullptr;
        std::optional<TDateName> Date;
        double OffsetMs = 0;
        std::array<bool, kChannelCount> Visible;
        std::optional<TSample> Cursor, Pinned;
    };
    std::vector<TShown> logs_;
    bool wallClock_ = false;
    bool plotLegend_ = true;
    double fromMs_ = 0, toMs_ = 1000;
    bool showingAll_ = true;                     // the view grows with the log
    double lastEndMs_ = 0;                       // the log's end when last drawn
    std::array<TRange, kPaneCount> ranges_;      // the panes' value ranges
    std::array<bool, kPaneCount> manualRange_{}; // set by a rectangle zoom until Home
    QPixmap cache_;
    bool cacheValid_ = false;
    std::optional<std::pair<double, double>> selection_;
    int cursorX_ = -1;
    QPoint pressAt_, dragAt_;
    enum class TDrag { None, Pan, Zoom, Select } drag_ = TDrag::None;
    bool moved_ = false; // the pointer left the press point: a drag, not a click
    double pressFromMs_ = 0, pressToMs_ = 0;
};

} // namespace orvi::viewer
