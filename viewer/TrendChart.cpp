#include "viewer/TrendChart.h"

#include "viewer/IndexedLog.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orvi::viewer {

namespace {

constexpr int kMarginLeft = 64, kMarginRight = 12, kMarginBottom = 28;
constexpr double kPaneShare[TTrendChart::kPaneCount] = {0.55, 0.25, 0.20};
constexpr double kZoomStep = 0.8; // one wheel notch or key press
constexpr double kPanShare = 0.1; // of the view, one arrow key press
constexpr int kClickPixels = 3;   // a press that moves less is a click
constexpr int kEndPixels = 4;     // a zoom anchored this close to the end keeps following

const app::TRecordField& FieldOf(size_t channel) {
    return app::RecordFields()[channel + 1];
}

// The milliseconds from the minute of date name `a` to that of `b`.
double MsBetween(const TDateName& a, const TDateName& b) {
    using namespace std::chrono;
    const auto at = [](const TDateName& d) {
        return sys_days(year(d.Year) / month(unsigned(d.Month)) / day(unsigned(d.Day))) +
               hours(d.Hour) + minutes(d.Minute);
    };
    return double(duration_cast<milliseconds>(at(b) - at(a)).count());
}

const std::optional<TSample> kNoRecord;

} // namespace

TTrendChart::TTrendChart(QWidget* owner) : QWidget(owner) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
}

// Ten colours a reader tells apart on white (housing warm, sensors cool, the angles olive
// and black), and dashes for the sensors and pitch on top.
QPen TTrendChart::ChannelPen(size_t channel, size_t log) {
    static const QColor housing[] = {"#d62728", "#ff7f0e", "#8c564b", "#e377c2"};
    static const QColor sensor[] = {"#1f77b4", "#17becf", "#2ca02c", "#9467bd"};
    const app::TRecordField& field = FieldOf(channel);
    // One-pixel cosmetic pens: the raster engine draws them without stroking a path, which
    // is many times faster for curves of thousands of points.
    QPen pen(Qt::black, 0);
    pen.setCosmetic(true);
    switch (field.Group) {
    case app::TFieldGroup::Housing:
        pen.setColor(housing[field.Channel - 1]);
        break;
    case app::TFieldGroup::Sensor:
        pen.setColor(sensor[field.Channel - 1]);
        pen.setStyle(Qt::DashLine);
        break;
    case app::TFieldGroup::Attitude:
        pen.setColor(field.Key == "roll" ? QColor("#9e9d24") : QColor("#212121"));
        if (field.Key != "roll")
            pen.setStyle(Qt::DashLine);
        break;
    default:
        pen.setColor(QColor("#616161"));
        break;
    }
    if (log > 0) { // a further log: the same colour, darker and dotted
        pen.setColor(pen.color().darker(100 + 30 * int(std::min<size_t>(log, 4))));
        pen.setStyle(log % 2 ? Qt::DotLine : Qt::DashDotDotLine);
    }
    return pen;
}

int TTrendChart::PaneOf(size_t channel) {
    switch (FieldOf(channel).Group) {
    case app::TFieldGroup::Attitude:
        return 1;
    case app::TFieldGroup::ZeroCount:
        return 2;
    default:
        return 0;
    }
}

void TTrendChart::SetLog(const TIndexedLog* log, std::optional<TDateName> date) {
    logs_.clear();
    selection_.reset();
    if (log)
        AddLog(log, date);
    ShowAll();
    emit CursorMoved();
}

// On wall-clock time when every log has a date name, else on their starts.
size_t TTrendChart::AddLog(const TIndexedLog* log, std::optional<TDateName> date) {
    TShown shown;
    shown.Log = log;
    shown.Date = date;
    shown.Visible.fill(true);
    logs_.push_back(shown);
    const bool dated =
        std::all_of(logs_.begin(), logs_.end(), [](const TShown& s) { return s.Date.has_value(); });
    for (TShown& s : logs_)
        s.OffsetMs = dated ? MsBetween(*logs_[0].Date, *s.Date) : 0;
    ShowAll();
    return logs_.size() - 1;
}

const std::optional<TSample>& TTrendChart::CursorRecord(size_t log) const {
    return log < logs_.size() ? logs_[log].Cursor : kNoRecord;
}

const std::optional<TSample>& TTrendChart::PinnedRecord(size_t log) const {
    return log < logs_.size() ? logs_[log].Pinned : kNoRecord;
}

double TTrendChart::EndMs() const {
    double end = 0;
    for (const TShown& s : logs_)
        end = std::max(end, s.OffsetMs +
                                double(s.Log->Query([](const TLogIndex& index, const TByteReader&) {
                                    return index.LastMs();
                                })));
    return end;
}

double TTrendChart::StartMs() const {
    double start = 0;
    for (const TShown& s : logs_)
        start = std::min(start, s.OffsetMs);
    return start;
}

void TTrendChart::DataChanged() {
    const double end = EndMs();
    if (showingAll_) {
        fromMs_ = StartMs();
        toMs_ = std::max(end, fromMs_ + kMinSpanMs * 100);
    } else if (toMs_ >= lastEndMs_ && end > lastEndMs_) {
        const double shift = end - toMs_;
        fromMs_ += shift;
        toMs_ += shift;
    }
    lastEndMs_ = end;
    Invalidate();
}

void TTrendChart::ShowAll() {
    showingAll_ = true;
    manualRange_.fill(false);
    DataChanged();
    emit ViewChanged();
}

void TTrendChart::ShowEnd() {
    const double end = EndMs(), span = toMs_ - fromMs_;
    SetView(end - span, end);
}

// The logs span [start, start + max(end - start, 1 s)]; a view may reach kMarginShare of
// that beyond either side and no further, which also keeps every time the chart computes
// far from the limits of its arithmetic.
void TTrendChart::SetView(double fromMs, double toMs) {
    const double end = EndMs(), start = StartMs();
    const double whole = std::max(end - start, kMinSpanMs * 100);
    const double low = start - whole * kMarginShare, high = start + whole * (1 + kMarginShare);
    if (!std::isfinite(fromMs) || !std::isfinite(toMs))
        fromMs = low, toMs = high;
    const double span = std::clamp(toMs - fromMs, kMinSpanMs, high - low);
    fromMs_ = std::clamp(fromMs, low, high - span);
    toMs_ = fromMs_ + span;
    showingAll_ = false;
    lastEndMs_ = end;
    Invalidate();
    emit ViewChanged();
}

void TTrendChart::SetChannelVisible(size_t log, size_t channel, bool visible) {
    logs_[log].Visible[channel] = visible;
    Invalidate();
}

void TTrendChart::SetWallClock(bool on) {
    wallClock_ = on;
    Invalidate();
}

void TTrendChart::SetPlotLegend(bool on) {
    plotLegend_ = on;
    Invalidate();
}

int TTrendChart::HeaderHeight() const {
    return fontMetrics().height() + 4;
}

QRect TTrendChart::PlotRect() const {
    return rect().adjusted(kMarginLeft, HeaderHeight(), -kMarginRight, -kMarginBottom);
}

// Each pane has a header strip above it for its title (and the channels' names), so that
// nothing is written over the curves.
QRect TTrendChart::PaneRect(int pane) const {
    const QRect plot = PlotRect();
    const int gap = HeaderHeight() + 4;
    const int usable = plot.height() - gap * (kPaneCount - 1);
    int top = plot.top();
    for (int i = 0; i < pane; ++i)
        top += int(usable * kPaneShare[i]) + gap;
    const int height =
        pane == kPaneCount - 1 ? plot.bottom() - top + 1 : int(usable * kPaneShare[pane]);
    return QRect(plot.left(), top, plot.width(), height);
}

double TTrendChart::MsAt(int x) const {
    const QRect plot = PlotRect();
    return fromMs_ + (x - plot.left()) * (toMs_ - fromMs_) / std::max(plot.width(), 1);
}

double TTrendChart::XOf(double ms) const {
    const QRect plot = PlotRect();
    return plot.left() + (ms - fromMs_) * std::max(plot.width(), 1) / (toMs_ - fromMs_);
}

void TTrendChart::Invalidate() {
    cacheValid_ = false;
    update();
}

void TTrendChart::paintEvent(QPaintEvent*) {
    if (!cacheValid_ || cache_.size() != size() * devicePixelRatioF())
        RebuildCache();
    QPainter p(this);
    p.drawPixmap(0, 0, cache_);
    const QRect plot = PlotRect();
    if (selection_) {
        const double a = std::max(XOf(selection_->first), double(plot.left()));
        const double b = std::min(XOf(selection_->second), double(plot.right()));
        if (b >= a)
            p.fillRect(QRectF(a, plot.top(), b - a + 1, plot.height()), QColor(255, 193, 7, 50));
    }
    if (!logs_.empty() && logs_[0].Pinned) {
        const double x = XOf(double(logs_[0].Pinned->Ms) + logs_[0].OffsetMs);
        if (x >= plot.left() && x <= plot.right()) {
            p.setPen(QPen(QColor(0, 0, 0, 200), 1, Qt::SolidLine));
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
    }
    if (cursorX_ >= plot.left() && cursorX_ <= plot.right()) {
        p.setPen(QPen(QColor(0, 0, 0, 140), 1, Qt::DotLine));
        p.drawLine(cursorX_, plot.top(), cursorX_, plot.bottom());
    }
    if (drag_ == TDrag::Zoom) {
        p.setPen(QPen(QColor("#1565c0"), 1, Qt::DashLine));
        p.setBrush(QColor(21, 101, 192, 30));
        p.drawRect(QRect(pressAt_, dragAt_).normalized());
    }
}

void TTrendChart::resizeEvent(QResizeEvent*) {
    cacheValid_ = false;
}

// Zooms about `anchorMs`. A followed view zoomed about a point at (or past) the log's end
// keeps its right edge at the end, so that it goes on following.
void TTrendChart::Zoom(double anchorMs, double factor) {
    const double end = EndMs();
    const double pixelMs = (toMs_ - fromMs_) / std::max(PlotRect().width(), 1);
    const bool keepEnd = Following() && anchorMs >= end - kEndPixels * pixelMs;
    if (keepEnd)
        anchorMs = toMs_;
    const double span = (toMs_ - fromMs_) * factor;
    const double share = (anchorMs - fromMs_) / (toMs_ - fromMs_);
    SetView(anchorMs - share * span, anchorMs - share * span + span);
}

// The keys zoom about the middle of the view, or about its right edge while it follows.
double TTrendChart::KeyAnchor() const {
    return Following() ? toMs_ : (fromMs_ + toMs_) / 2;
}

void TTrendChart::Pan(double share) {
    const double shift = (toMs_ - fromMs_) * share;
    SetView(fromMs_ + shift, toMs_ + shift);
}

void TTrendChart::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        Zoom(MsAt(int(event->position().x())), std::pow(kZoomStep, notches));
    event->accept();
}

void TTrendChart::mousePressEvent(QMouseEvent* event) {
    pressAt_ = dragAt_ = event->pos();
    pressFromMs_ = fromMs_;
    pressToMs_ = toMs_;
    moved_ = false;
    const bool left = event->button() == Qt::LeftButton;
    if (event->button() == Qt::RightButton || (left && event->modifiers() & Qt::ShiftModifier))
        drag_ = TDrag::Zoom;
    else if (left && event->modifiers() & Qt::ControlModifier)
        drag_ = TDrag::Select;
    else
        drag_ = left ? TDrag::Pan : TDrag::None;
}

void TTrendChart::mouseMoveEvent(QMouseEvent* event) {
    dragAt_ = event->pos();
    moved_ = moved_ || (dragAt_ - pressAt_).manhattanLength() >= kClickPixels;
    if (drag_ == TDrag::Pan && moved_) {
        const double perPixel = (pressToMs_ - pressFromMs_) / std::max(PlotRect().width(), 1);
        const double shift = -(dragAt_.x() - pressAt_.x()) * perPixel;
        SetView(pressFromMs_ + shift, pressToMs_ + shift);
    } else if (drag_ == TDrag::Select && moved_) {
        SetSelection(MsAt(pressAt_.x()), MsAt(dragAt_.x()));
    }
    UpdateCursor(event->pos().x());
    update();
}

void TTrendChart::mouseReleaseEvent(QMouseEvent* event) {
    dragAt_ = event->pos();
    const QRect box = QRect(pressAt_, dragAt_).normalized();
    if (drag_ == TDrag::Zoom && box.width() > 3) {
        for (int pane = 0; pane < kPaneCount; ++pane) {
            const QRect r = PaneRect(pane);
            if (box.height() > 3 && r.contains(pressAt_)) {
                ranges_[pane] = TRange::Of(ranges_[pane].ValueAt(box.bottom(), r),
                                           ranges_[pane].ValueAt(box.top(), r));
                manualRange_[pane] = true;
            }
        }
        SetView(MsAt(box.left()), MsAt(box.right()));
    } else if (drag_ == TDrag::Pan && !moved_ && PlotRect().contains(pressAt_)) {
        PinAt(MsAt(pressAt_.x()));
    }
    drag_ = TDrag::None;
    update();
}

void TTrendChart::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Home:
        ShowAll();
        break;
    case Qt::Key_End:
        ShowEnd();
        break;
    case Qt::Key_Left:
        Pan(-kPanShare);
        break;
    case Qt::Key_Right:
        Pan(kPanShare);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        Zoom(KeyAnchor(), kZoomStep);
        break;
    case Qt::Key_Minus:
        Zoom(KeyAnchor(), 1 / kZoomStep);
        break;
    case Qt::Key_Escape:
        ClearMarks();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TTrendChart::leaveEvent(QEvent*) {
    cursorX_ = -1;
    for (TShown& s : logs_)
        s.Cursor.reset();
    emit CursorMoved();
    update();
}

// The record nearest `ms`, at the same cost at any view and any log length.
std::optional<TSample> TTrendChart::NearestRecord(size_t log, double ms) const {
    ms -= logs_[log].OffsetMs;
    if (!std::isfinite(ms))
        return std::nullopt;
    return logs_[log].Log->Query(
        [&](const TLogIndex& index, const TByteReader& read) { return index.Nearest(read, ms); });
}

void TTrendChart::MoveCursorTo(double ms) {
    UpdateCursor(int(std::lround(XOf(ms))));
}

void TTrendChart::UpdateCursor(int x) {
    cursorX_ = x;
    const QRect plot = PlotRect();
    const bool inside = x >= plot.left() && x <= plot.right();
    for (size_t k = 0; k < logs_.size(); ++k)
        logs_[k].Cursor = inside ? NearestRecord(k, MsAt(x)) : std::nullopt;
    emit CursorMoved();
}

void TTrendChart::PinAt(double ms) {
    for (size_t k = 0; k < logs_.size(); ++k)
        logs_[k].Pinned = NearestRecord(k, ms);
    update();
    emit CursorMoved();
}

void TTrendChart::SetSelection(double fromMs, double toMs) {
    selection_ = std::minmax(fromMs, toMs);
    update();
    emit SelectionChanged();
}

void TTrendChart::ClearMarks() {
    for (TShown& s : logs_)
        s.Pinned.reset();
    selection_.reset();
    update();
    emit CursorMoved();
    emit SelectionChanged();
}

bool TTrendChart::SaveImage(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size());
        svg.setViewBox(rect());
        svg.setTitle(windowTitle());
        QPainter p;
        if (!p.begin(&svg))
            return false;
        DrawPlot(p);
        return p.end();
    }
    if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(path);
        pdf.setResolution(72); // a pixel of the chart is a point of the page
        pdf.setPageSize(QPageSize(QSizeF(size()), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter p;
        if (!p.begin(&pdf))
            return false;
        DrawPlot(p);
        return p.end();
    }
    return grab().save(path, "PNG");
}

} // namespace orvi::viewer
