#include "widgets/TrendChart.h"

#include "viewer/IndexedLog.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orvi::widgets {

namespace {

constexpr double kMinSpanMs = 10;
constexpr int kMarginLeft = 64, kMarginTop = 8, kMarginRight = 12, kMarginBottom = 28;
constexpr int kPaneGap = 8;
constexpr double kPaneShare[TTrendChart::kPaneCount] = {0.55, 0.25, 0.20};

const app::TRecordField& FieldOf(size_t channel) {
    return app::RecordFields()[channel + 1];
}

} // namespace

TTrendChart::TTrendChart(QWidget* owner) : QWidget(owner) {
    visible_.fill(true);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
}

QPen TTrendChart::ChannelPen(size_t channel) {
    static const QColor housing[] = {"#c0392b", "#e67e22", "#8d6e63", "#d81b60"};
    static const QColor sensor[] = {"#1565c0", "#00897b", "#2e7d32", "#5e35b1"};
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
        pen.setColor(field.Key == "roll" ? QColor("#ef6c00") : QColor("#1565c0"));
        if (field.Key != "roll")
            pen.setStyle(Qt::DashLine);
        break;
    default:
        pen.setColor(QColor("#424242"));
        break;
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

void TTrendChart::SetLog(const viewer::TIndexedLog* log, std::optional<viewer::TDateName> date) {
    log_ = log;
    date_ = date;
    cursor_.reset();
    ShowAll();
}

double TTrendChart::EndMs() const {
    if (!log_)
        return 0;
    return double(log_->Query(
        [](const viewer::TLogIndex& index, const viewer::TByteReader&) { return index.LastMs(); }));
}

void TTrendChart::DataChanged() {
    const double end = EndMs();
    if (showingAll_) {
        fromMs_ = 0;
        toMs_ = std::max(end, kMinSpanMs * 100);
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

void TTrendChart::SetView(double fromMs, double toMs) {
    if (!(toMs - fromMs >= kMinSpanMs))
        toMs = fromMs + kMinSpanMs;
    fromMs_ = fromMs;
    toMs_ = toMs;
    showingAll_ = false;
    lastEndMs_ = EndMs();
    Invalidate();
    emit ViewChanged();
}

void TTrendChart::SetChannelVisible(size_t channel, bool visible) {
    visible_[channel] = visible;
    Invalidate();
}

void TTrendChart::SetWallClock(bool on) {
    wallClock_ = on;
    Invalidate();
}

QRect TTrendChart::PlotRect() const {
    return rect().adjusted(kMarginLeft, kMarginTop, -kMarginRight, -kMarginBottom);
}

QRect TTrendChart::PaneRect(int pane) const {
    const QRect plot = PlotRect();
    const int usable = plot.height() - kPaneGap * (kPaneCount - 1);
    int top = plot.top();
    for (int i = 0; i < pane; ++i)
        top += int(usable * kPaneShare[i]) + kPaneGap;
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

void TTrendChart::Zoom(double anchorMs, double factor) {
    double span = (toMs_ - fromMs_) * factor;
    span = std::max(span, kMinSpanMs);
    const double share = (anchorMs - fromMs_) / (toMs_ - fromMs_);
    SetView(anchorMs - share * span, anchorMs - share * span + span);
}

void TTrendChart::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        Zoom(MsAt(int(event->position().x())), std::pow(0.8, notches));
    event->accept();
}

void TTrendChart::mousePressEvent(QMouseEvent* event) {
    pressAt_ = dragAt_ = event->pos();
    pressFromMs_ = fromMs_;
    pressToMs_ = toMs_;
    const bool zoom = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier);
    drag_ = zoom ? TDrag::Zoom : event->button() == Qt::LeftButton ? TDrag::Pan : TDrag::None;
}

void TTrendChart::mouseMoveEvent(QMouseEvent* event) {
    dragAt_ = event->pos();
    if (drag_ == TDrag::Pan) {
        const double perPixel = (pressToMs_ - pressFromMs_) / std::max(PlotRect().width(), 1);
        const double shift = -(dragAt_.x() - pressAt_.x()) * perPixel;
        SetView(pressFromMs_ + shift, pressToMs_ + shift);
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
                const TRange old = ranges_[pane];
                const auto valueAt = [&](int y) {
                    return old.Low +
                           (r.bottom() - y) * (old.High - old.Low) / std::max(r.height(), 1);
                };
                ranges_[pane] = {valueAt(box.bottom()), valueAt(box.top())};
                manualRange_[pane] = true;
            }
        }
        SetView(MsAt(box.left()), MsAt(box.right()));
    }
    drag_ = TDrag::None;
    update();
}

void TTrendChart::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home)
        ShowAll();
    else
        QWidget::keyPressEvent(event);
}

void TTrendChart::leaveEvent(QEvent*) {
    cursorX_ = -1;
    cursor_.reset();
    emit CursorMoved();
    update();
}

void TTrendChart::UpdateCursor(int x) {
    cursorX_ = x;
    cursor_.reset();
    const QRect plot = PlotRect();
    if (log_ && x >= plot.left() && x <= plot.right()) {
        const double ms = MsAt(x);
        const double reach = std::max((toMs_ - fromMs_) / 50, 1.0);
        std::optional<viewer::TSample> best;
        log_->Query([&](const viewer::TLogIndex& index, const viewer::TByteReader& read) {
            return index.ForEach(read, int64_t(std::floor(ms - reach)),
                                 int64_t(std::ceil(ms + reach)), [&](const viewer::TSample& s) {
                                     if (!best || std::abs(double(s.Ms) - ms) <
                                                      std::abs(double(best->Ms) - ms))
                                         best = s;
                                     return double(s.Ms) <= ms;
                                 });
        });
        if (best) {
            best->Line = {};
            cursor_ = best;
        }
    }
    emit CursorMoved();
}

} // namespace orvi::widgets
