// The plot of the trend chart: axes with round ticks (clock ticks on the wall-clock axis),
// pane frames and headers, and the curves drawn from the index (per-column minima and
// maxima, or the records themselves).
#include "viewer/TrendChart.h"

#include "viewer/IndexedLog.h"

#include <QPainter>
#include <QPolygonF>

#include <cfloat>
#include <cmath>

namespace orvi::viewer {

namespace {

const char* const kPaneTitles[TTrendChart::kPaneCount] = {"Температура, °C", "Крен, тангаж, °",
                                                          "Нулевой К"};
constexpr int kMinValueLabels = 3; // per pane
constexpr int kMaxTicks = 200;     // a bound for every tick loop

double Finite(double v) {
    return std::clamp(v, -DBL_MAX, DBL_MAX);
}

// The round step (1, 2 or 5 times a power of ten) giving at most `ticks` ticks over
// 2 * `half` (half a span, so that the largest spans do not overflow).
double RoundStep(double half, double ticks) {
    const double raw = half / std::max(ticks / 2, 0.5);
    const double power = std::pow(10, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw && std::isfinite(m * power))
            return m * power;
    return DBL_MAX;
}

// Steps of a clock: 1, 2, 5 times powers of ten below a second, then 1, 2, 5, 10, 15,
// 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h, and whole days beyond.
double ClockStep(double rawMs) {
    static const double steps[] = {1,      2,      5,       10,      20,      50,     100,
                                   200,    500,    1e3,     2e3,     5e3,     10e3,   15e3,
                                   30e3,   60e3,   120e3,   300e3,   600e3,   900e3,  1800e3,
                                   3600e3, 7200e3, 10800e3, 21600e3, 43200e3, 86400e3};
    for (const double s : steps)
        if (s >= rawMs)
            return s;
    return 86400e3 * RoundStep(rawMs / 86400e3 / 2, 1);
}

// A label for a value on an axis with ticks `step` apart: fixed decimals for everyday
// numbers, the exponent form for very large or very small ones.
QString Number(double value, double step) {
    if (std::abs(value) < step * 1e-9)
        value = 0;
    const double largest = std::max(std::abs(value), step);
    if (largest >= 1e9 || step < 1e-6) {
        const int digits = std::clamp(int(std::ceil(std::log10(largest / step))) + 1, 1, 15);
        return QString::number(value, 'g', digits);
    }
    return QString::number(value, 'f', std::max(0, int(-std::floor(std::log10(step) + 1e-9))));
}

QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString Caption(size_t channel) {
    const std::string_view caption = app::RecordFields()[channel + 1].Caption;
    return QString::fromUtf8(caption.data(), int(caption.size()));
}

} // namespace

double TTrendChart::TRange::Low() const {
    return Finite(Mid - Half);
}

double TTrendChart::TRange::High() const {
    return Finite(Mid + Half);
}

double TTrendChart::TRange::Y(double value, const QRect& pane) const {
    const double t = (value * 0.5 - Mid * 0.5) / (Half * 0.5); // -1 .. 1 inside the pane
    const double middle = pane.top() + (pane.height() - 1) / 2.0;
    return std::clamp(middle - t * pane.height() / 2, pane.top() - 2.0, pane.bottom() + 2.0);
}

double TTrendChart::TRange::ValueAt(double y, const QRect& pane) const {
    const double middle = pane.top() + (pane.height() - 1) / 2.0;
    return Finite(Mid + (middle - y) / (pane.height() / 2.0) * Half);
}

TTrendChart::TRange TTrendChart::TRange::Of(double low, double high) {
    TRange r;
    r.Mid = low * 0.5 + high * 0.5;
    r.Half = std::max(high * 0.5 - low * 0.5, DBL_MIN);
    return r;
}

void TTrendChart::RebuildCache() {
    const qreal ratio = devicePixelRatioF();
    cache_ = QPixmap(size() * ratio);
    cache_.setDevicePixelRatio(ratio);
    cacheValid_ = true;
    QPainter p(&cache_);
    emit PlotDrawn(DrawPlot(p));
}

struct TTrendChart::TLogData {
    std::vector<TColumn> Columns;
    std::vector<TSample> Samples;
    bool Empty = true;
};

bool TTrendChart::DrawPlot(QPainter& p) {
    p.fillRect(rect(), Qt::white);
    const int width = std::max(PlotRect().width(), 1);
    std::vector<TLogData> logData(logs_.size());
    for (size_t k = 0; k < logs_.size(); ++k) {
        TLogData& d = logData[k];
        const double fromMs = fromMs_ - logs_[k].OffsetMs, toMs = toMs_ - logs_[k].OffsetMs;
        logs_[k].Log->Query([&](const TLogIndex& index, const TByteReader& read) {
            d.Empty = index.Empty();
            if (d.Empty)
                return;
            const int64_t from = int64_t(std::floor(fromMs)), to = int64_t(std::ceil(toMs));
            if (index.RecordsNear(from, to) > uint64_t(width) * 2) {
                d.Columns = index.Columns(read, fromMs, (toMs - fromMs) / width, width);
                return;
            }
            // The record before the view and the one after it too, so that the curves
            // reach both edges.
            if (std::optional<TSample> before = index.Around(read, double(from) - 0.5).Before)
                d.Samples.push_back(*before);
            index.ForEach(read, from, to, [&](const TSample& s) {
                d.Samples.push_back(s);
                d.Samples.back().Line = {};
                return true;
            });
            if (std::optional<TSample> after = index.Around(read, double(to)).After)
                d.Samples.push_back(*after);
        });
    }
    UpdateRanges(logData);
    for (int pane = 0; pane < kPaneCount; ++pane)
        DrawPaneAxes(p, pane);
    DrawTimeAxis(p);
    const bool empty =
        std::all_of(logData.begin(), logData.end(), [](const TLogData& d) { return d.Empty; });
    if (empty) {
        p.setPen(Qt::darkGray);
        p.drawText(PlotRect(), Qt::AlignCenter,
                   !logs_.empty()
                       ? QStringLiteral("Нет записей")
                       : QStringLiteral("Откройте журнал данных (Ctrl+O) или перетащите его сюда"));
    }
    for (size_t k = 0; k < logData.size(); ++k) {
        if (!logData[k].Samples.empty())
            DrawSamples(p, k, logData[k].Samples);
        else
            DrawColumns(p, k, logData[k].Columns);
    }
    DrawHeaders(p);
    return !empty;
}

// Each pane's title at the left of its header strip and, for a picture standing alone, a
// line sample and the name of each shown channel at the right.
void TTrendChart::DrawHeaders(QPainter& p) {
    const QFontMetrics metrics(p.font());
    for (int pane = 0; pane < kPaneCount; ++pane) {
        const QRect r = PaneRect(pane);
        const int y = r.top() - 4 - metrics.descent();
        p.setPen(Qt::black);
        p.drawText(r.left() + 2, y, Text(kPaneTitles[pane]));
        if (!plotLegend_)
            continue;
        int x = r.right() - 2;
        for (size_t c = kChannelCount; c-- > 0;) {
            if (PaneOf(c) != pane || logs_.empty() || !logs_[0].Visible[c])
                continue;
            const QString text = Caption(c);
            const int textWidth = metrics.horizontalAdvance(text);
            p.setPen(Qt::black);
            p.drawText(x - textWidth, y, text);
            p.setPen(ChannelPen(c));
            const int lineY = y - metrics.ascent() / 2 + 1;
            p.drawLine(x - textWidth - 26, lineY, x - textWidth - 4, lineY);
            x -= textWidth + 40;
        }
    }
}

// Finite values only: a column's float minimum or maximum beyond the float range is stored
// as an infinity, which stands here for the largest double of its sign.
void TTrendChart::UpdateRanges(const std::vector<TLogData>& logData) {
    std::array<double, kPaneCount> low, high;
    low.fill(HUGE_VAL);
    high.fill(-HUGE_VAL);
    for (size_t k = 0; k < logData.size(); ++k) {
        const auto widen = [&](size_t c, double min, double max) {
            if (!logs_[k].Visible[c] || std::isnan(min) || std::isnan(max) || min > max)
                return;
            low[PaneOf(c)] = std::min(low[PaneOf(c)], Finite(min));
            high[PaneOf(c)] = std::max(high[PaneOf(c)], Finite(max));
        };
        for (const TColumn& column : logData[k].Columns)
            for (size_t c = 0; column.HasData && c < kChannelCount; ++c)
                widen(c, column.Min[c], column.Max[c]);
        for (const TSample& s : logData[k].Samples)
            for (size_t c = 0; c < kChannelCount; ++c)
                if (std::isfinite(s.Record.Values[c]))
                    widen(c, s.Record.Values[c], s.Record.Values[c]);
    }
    for (int pane = 0; pane < kPaneCount; ++pane) {
        if (manualRange_[pane])
            continue;
        if (low[pane] > high[pane]) {
            ranges_[pane] = {};
            continue;
        }
        TRange r = TRange::Of(low[pane], high[pane]);
        r.Half = std::min(r.Half + std::max(r.Half * 0.1, 0.5), DBL_MAX);
        ranges_[pane] = r;
    }
}

// Ticks at round values, their labels wholly inside the pane (so that neighbouring panes'
// labels never meet), at least kMinValueLabels of them.
void TTrendChart::DrawPaneAxes(QPainter& p, int pane) {
    const QRect r = PaneRect(pane);
    const TRange range = ranges_[pane];
    const QFontMetrics metrics(p.font());
    const int half = metrics.height() / 2;
    p.setPen(QColor("#bdbdbd"));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const auto labelled = [&](double v) {
        const double y = range.Y(v, r);
        return y - half >= r.top() && y + half <= r.bottom();
    };
    const auto first = [&](double step) { return std::ceil(range.Low() / step) * step; };
    double step = DBL_MAX;
    for (double ticks = std::max(r.height() / 40.0, 2.0); ticks < kMaxTicks; ticks += 1) {
        step = RoundStep(range.Half, ticks);
        int count = 0;
        for (double v = first(step); v <= range.High() && count < kMaxTicks; v += step)
            count += labelled(v);
        if (count >= kMinValueLabels || step * r.height() / (2 * range.Half) < 2 * half)
            break;
    }
    int drawn = 0;
    for (double v = first(step); v <= range.High() && drawn < kMaxTicks; v += step, ++drawn) {
        const double y = range.Y(v, r);
        p.setPen(QColor("#eeeeee"));
        p.drawLine(QPointF(r.left() + 1, y), QPointF(r.right() - 1, y));
        p.setPen(Qt::black);
        p.drawLine(QPointF(r.left() - 4, y), QPointF(r.left(), y));
        if (labelled(v))
            p.drawText(QRectF(0, y - half, r.left() - 6, 2 * half),
                       Qt::AlignRight | Qt::AlignVCenter, Number(v, step));
    }
}

void TTrendChart::DrawTimeAxis(QPainter& p) {
    const QRect plot = PlotRect();
    const QFontMetrics metrics(p.font());
    const bool clock = WallClock();
    // Room for the widest label a step can have, and some air between labels.
    const int labelWidth = metrics.horizontalAdvance(clock ? QStringLiteral("00:00:00.000")
                                                           : Number(-toMs_ / 1000, 0.001)) +
                           24;
    const double raw = (toMs_ - fromMs_) / std::max(plot.width() / labelWidth, 2);
    const double step = clock ? ClockStep(raw) : RoundStep(raw / 2, 1);
    // Clock ticks fall on round times of day: the date name's minute is their origin.
    const std::optional<TDateName>& date = logs_.empty() ? std::nullopt : logs_[0].Date;
    const double origin = clock ? (date->Hour * 60.0 + date->Minute) * 60000 : 0;
    const QString unit = QStringLiteral("с");
    const int unitRight = plot.left() - 8;
    double ms = std::ceil((fromMs_ + origin) / step) * step - origin;
    for (int i = 0; ms <= toMs_ && i < kMaxTicks; ms += step, ++i) {
        const double x = XOf(ms);
        p.setPen(QColor("#eeeeee"));
        for (int pane = 0; pane < kPaneCount; ++pane)
            p.drawLine(QPointF(x, PaneRect(pane).top() + 1),
                       QPointF(x, PaneRect(pane).bottom() - 1));
        p.setPen(Qt::black);
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        const QString label =
            clock ? QString::fromStdString(step >= 86400e3
                                               ? LocalTimeText(*date, int64_t(ms)).substr(0, 10)
                                               : ClockText(*date, int64_t(ms), step < 1000))
                  : Number(ms / 1000, step / 1000);
        const int textWidth = metrics.horizontalAdvance(label);
        const QRectF box(x - textWidth / 2.0, plot.bottom() + 5, textWidth, metrics.height());
        if (box.left() > unitRight + 4 && box.right() < width())
            p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, label);
    }
    if (!clock) // the unit, left of the axis under the values' labels
        p.drawText(QRect(0, plot.bottom() + 5, unitRight, metrics.height()),
                   Qt::AlignRight | Qt::AlignTop, unit);
}

// Calls draw(channel, pane, range) for every channel of the log that is shown, with the
// painter clipped to the channel's pane and holding its pen.
template <class F> void TTrendChart::ForEachCurve(QPainter& p, size_t log, F draw) const {
    for (size_t c = 0; c < kChannelCount; ++c) {
        if (!logs_[log].Visible[c])
            continue;
        p.setClipRect(PaneRect(PaneOf(c)));
        p.setPen(ChannelPen(c, log));
        draw(c, PaneRect(PaneOf(c)), ranges_[PaneOf(c)]);
    }
    p.setClipping(false);
}

void TTrendChart::DrawColumns(QPainter& p, size_t log, const std::vector<TColumn>& columns) {
    const QRect plot = PlotRect();
    QPolygonF line;
    ForEachCurve(p, log, [&](size_t c, const QRect& r, const TRange& range) {
        line.clear();
        for (size_t i = 0; i < columns.size(); ++i) {
            const TColumn& col = columns[i];
            const bool has = col.HasData && !std::isnan(col.Min[c]) && col.Min[c] <= col.Max[c];
            if (!has || col.GapBefore) {
                if (line.size() > 1)
                    p.drawPolyline(line);
                line.clear();
                if (!has)
                    continue;
            }
            const double x = plot.left() + double(i) + 0.5;
            const double low = range.Y(Finite(col.Min[c]), r),
                         high = range.Y(Finite(col.Max[c]), r);
            const bool highFirst = !line.isEmpty() && std::abs(line.back().y() - high) <
                                                          std::abs(line.back().y() - low);
            line << QPointF(x, highFirst ? high : low) << QPointF(x, highFirst ? low : high);
        }
        if (line.size() > 1)
            p.drawPolyline(line);
    });
}

// A record left of the plot (the one before the view) or right of it (the one after) is
// replaced by the point where the line to its neighbour crosses the plot's edge, so that
// the line keeps its slope however far away the record lies.
void TTrendChart::DrawSamples(QPainter& p, size_t log, const std::vector<TSample>& samples) {
    const QRect plot = PlotRect();
    const double left = plot.left() - 1, right = plot.right() + 1;
    const auto xOf = [&](const TSample& s) { return XOf(double(s.Ms) + logs_[log].OffsetMs); };
    QPolygonF line;
    ForEachCurve(p, log, [&](size_t c, const QRect& r, const TRange& range) {
        line.clear();
        const auto flush = [&] {
            if (line.size() == 1)
                p.drawEllipse(line.front(), 1.5, 1.5);
            else if (line.size() > 1)
                p.drawPolyline(line);
            line.clear();
        };
        const auto joined = [&](size_t a, size_t b) { // b follows a on one line
            return !samples[b].GapBefore && std::isfinite(samples[a].Record.Values[c]) &&
                   std::isfinite(samples[b].Record.Values[c]);
        };
        const auto toward = [&](size_t i, size_t j, double edge) { // from i toward j
            const double xi = xOf(samples[i]), xj = xOf(samples[j]);
            const double f = (edge - xi) / (xj - xi);
            const double v =
                samples[i].Record.Values[c] * (1 - f) + samples[j].Record.Values[c] * f;
            return QPointF(edge, range.Y(v, r));
        };
        for (size_t i = 0; i < samples.size(); ++i) {
            const double v = samples[i].Record.Values[c];
            if (samples[i].GapBefore || !std::isfinite(v))
                flush();
            if (!std::isfinite(v))
                continue;
            const double x = xOf(samples[i]);
            if (x < left && i + 1 < samples.size() && joined(i, i + 1))
                line << toward(i, i + 1, left);
            else if (x > right && i > 0 && joined(i - 1, i))
                line << toward(i, i - 1, right);
            else
                line << QPointF(std::clamp(x, left - 1e6, right + 1e6), range.Y(v, r));
        }
        flush();
    });
}

} // namespace orvi::viewer
