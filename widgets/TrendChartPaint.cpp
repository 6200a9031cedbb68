// The cached plot of the trend chart: axes with round ticks, pane frames, and the curves
// drawn from the index (per-column minima and maxima, or the records themselves).
#include "widgets/TrendChart.h"

#include "viewer/IndexedLog.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace orvi::widgets {

namespace {

const char* const kPaneTitles[TTrendChart::kPaneCount] = {"Температура, °C", "Крен, тангаж, °",
                                                          "Нулевой К"};

// The round step (1, 2 or 5 times a power of ten) giving at most `ticks` ticks over `span`.
double RoundStep(double span, int ticks) {
    const double raw = span / std::max(ticks, 1);
    const double power = std::pow(10, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

int Decimals(double step) {
    return std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
}

QString Number(double value, int decimals) {
    if (std::abs(value) < 1e-12)
        value = 0;
    return QString::number(value, 'f', decimals);
}

} // namespace

void TTrendChart::RebuildCache() {
    const qreal ratio = devicePixelRatioF();
    cache_ = QPixmap(size() * ratio);
    cache_.setDevicePixelRatio(ratio);
    cache_.fill(Qt::white);
    cacheValid_ = true;
    QPainter p(&cache_);
    std::vector<viewer::TColumn> columns;
    std::vector<viewer::TSample> samples;
    const int width = std::max(PlotRect().width(), 1);
    bool empty = true;
    if (log_) {
        log_->Query([&](const viewer::TLogIndex& index, const viewer::TByteReader& read) {
            empty = index.Empty();
            if (empty)
                return true;
            const int64_t from = int64_t(std::floor(fromMs_)), to = int64_t(std::ceil(toMs_));
            if (index.RecordsNear(from, to) <= uint64_t(width) * 2)
                return index.ForEach(read, from, to, [&](const viewer::TSample& s) {
                    samples.push_back(s);
                    samples.back().Line = {};
                    return true;
                });
            columns = index.Columns(read, fromMs_, (toMs_ - fromMs_) / width, width);
            return true;
        });
    }
    UpdateRanges(columns, samples);
    for (int pane = 0; pane < kPaneCount; ++pane)
        DrawPaneAxes(p, pane);
    DrawTimeAxis(p);
    if (empty) {
        p.setPen(Qt::darkGray);
        p.drawText(PlotRect(), Qt::AlignCenter,
                   log_
                       ? QStringLiteral("Нет записей")
                       : QStringLiteral("Откройте журнал данных (Ctrl+O) или перетащите его сюда"));
        return;
    }
    if (samples.empty())
        DrawColumns(p, columns);
    else
        DrawSamples(p, samples);
    DrawLegend(p);
}

// A line sample and the name of each shown channel along the top of its pane, so that a
// saved picture explains itself.
void TTrendChart::DrawLegend(QPainter& p) {
    const QFontMetrics metrics(p.font());
    for (int pane = 0; pane < kPaneCount; ++pane) {
        const QRect r = PaneRect(pane);
        int x = r.right() - 6;
        for (size_t c = viewer::kChannelCount; c-- > 0;) {
            if (PaneOf(c) != pane || !visible_[c])
                continue;
            const std::string_view caption = app::RecordFields()[c + 1].Caption;
            const QString text = QString::fromUtf8(caption.data(), int(caption.size()));
            const int width = metrics.horizontalAdvance(text);
            const int y = r.top() + 4 + metrics.ascent();
            p.setPen(Qt::black);
            p.drawText(x - width, y, text);
            p.setPen(ChannelPen(c));
            p.drawLine(x - width - 26, y - metrics.ascent() / 2 + 1, x - width - 4,
                       y - metrics.ascent() / 2 + 1);
            x -= width + 40;
        }
    }
}

void TTrendChart::UpdateRanges(const std::vector<viewer::TColumn>& columns,
                               const std::vector<viewer::TSample>& samples) {
    std::array<double, kPaneCount> low, high;
    low.fill(HUGE_VAL);
    high.fill(-HUGE_VAL);
    const auto widen = [&](size_t c, double min, double max) {
        if (!visible_[c] || !std::isfinite(min) || !std::isfinite(max))
            return;
        low[PaneOf(c)] = std::min(low[PaneOf(c)], min);
        high[PaneOf(c)] = std::max(high[PaneOf(c)], max);
    };
    for (const viewer::TColumn& column : columns)
        for (size_t c = 0; column.HasData && c < viewer::kChannelCount; ++c)
            widen(c, column.Min[c], column.Max[c]);
    for (const viewer::TSample& s : samples)
        for (size_t c = 0; c < viewer::kChannelCount; ++c)
            widen(c, s.Record.Values[c], s.Record.Values[c]);
    for (int pane = 0; pane < kPaneCount; ++pane) {
        if (manualRange_[pane])
            continue;
        if (low[pane] > high[pane]) {
            ranges_[pane] = {0, 1};
            continue;
        }
        const double pad = std::max((high[pane] - low[pane]) * 0.05, 0.5);
        ranges_[pane] = {low[pane] - pad, high[pane] + pad};
    }
}

void TTrendChart::DrawPaneAxes(QPainter& p, int pane) {
    const QRect r = PaneRect(pane);
    const TRange range = ranges_[pane];
    p.setPen(QColor("#bdbdbd"));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const double step = RoundStep(range.High - range.Low, std::max(r.height() / 40, 2));
    const int decimals = Decimals(step);
    for (double v = std::ceil(range.Low / step) * step; v <= range.High; v += step) {
        const int y = int(r.bottom() - (v - range.Low) * r.height() / (range.High - range.Low));
        p.setPen(QColor("#eeeeee"));
        p.drawLine(r.left() + 1, y, r.right() - 1, y);
        p.setPen(Qt::black);
        p.drawLine(r.left() - 4, y, r.left(), y);
        p.drawText(QRect(0, y - 8, r.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                   Number(v, decimals));
    }
    p.setPen(Qt::darkGray);
    p.drawText(r.adjusted(6, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
               QString::fromUtf8(kPaneTitles[pane]));
}

void TTrendChart::DrawTimeAxis(QPainter& p) {
    const QRect plot = PlotRect();
    const double step = RoundStep(toMs_ - fromMs_, std::max(plot.width() / 90, 2));
    const bool clock = WallClock();
    for (double ms = std::ceil(fromMs_ / step) * step; ms <= toMs_; ms += step) {
        const int x = int(std::lround(XOf(ms)));
        p.setPen(QColor("#eeeeee"));
        for (int pane = 0; pane < kPaneCount; ++pane)
            p.drawLine(x, PaneRect(pane).top() + 1, x, PaneRect(pane).bottom() - 1);
        p.setPen(Qt::black);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 4);
        const QString label =
            clock ? QString::fromStdString(viewer::ClockText(*date_, int64_t(ms), step < 1000))
                  : Number(ms / 1000, Decimals(step / 1000));
        p.drawText(QRect(x - 60, plot.bottom() + 5, 120, 18), Qt::AlignHCenter | Qt::AlignTop,
                   label);
    }
    if (!clock) // the unit, left of the axis under the values' labels
        p.drawText(QRect(0, plot.bottom() + 5, plot.left() - 8, 18), Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("с"));
}

void TTrendChart::DrawColumns(QPainter& p, const std::vector<viewer::TColumn>& columns) {
    const QRect plot = PlotRect();
    QPolygonF line;
    for (size_t c = 0; c < viewer::kChannelCount; ++c) {
        if (!visible_[c])
            continue;
        const int pane = PaneOf(c);
        const QRect r = PaneRect(pane);
        const TRange range = ranges_[pane];
        const double scale = r.height() / (range.High - range.Low);
        const auto y = [&](double v) {
            return std::clamp(r.bottom() - (v - range.Low) * scale, r.top() - 2.0,
                              r.bottom() + 2.0);
        };
        p.setClipRect(r);
        p.setPen(ChannelPen(c));
        line.clear();
        for (size_t i = 0; i < columns.size(); ++i) {
            const viewer::TColumn& col = columns[i];
            const bool has = col.HasData && std::isfinite(col.Min[c]) && std::isfinite(col.Max[c]);
            if (!has || col.NewSegment) {
                if (line.size() > 1)
                    p.drawPolyline(line);
                line.clear();
                if (!has)
                    continue;
            }
            const double x = plot.left() + double(i) + 0.5;
            const double low = y(col.Min[c]), high = y(col.Max[c]);
            const bool highFirst = !line.isEmpty() && std::abs(line.back().y() - high) <
                                                          std::abs(line.back().y() - low);
            line << QPointF(x, highFirst ? high : low) << QPointF(x, highFirst ? low : high);
        }
        if (line.size() > 1)
            p.drawPolyline(line);
    }
    p.setClipping(false);
}

void TTrendChart::DrawSamples(QPainter& p, const std::vector<viewer::TSample>& samples) {
    QPolygonF line;
    for (size_t c = 0; c < viewer::kChannelCount; ++c) {
        if (!visible_[c])
            continue;
        const QRect r = PaneRect(PaneOf(c));
        const TRange range = ranges_[PaneOf(c)];
        const double scale = r.height() / (range.High - range.Low);
        p.setClipRect(r);
        p.setPen(ChannelPen(c));
        line.clear();
        const auto flush = [&] {
            if (line.size() == 1)
                p.drawEllipse(line.front(), 1.5, 1.5);
            else if (line.size() > 1)
                p.drawPolyline(line);
            line.clear();
        };
        for (const viewer::TSample& s : samples) {
            const double v = s.Record.Values[c];
            if (s.NewSegment || !std::isfinite(v))
                flush();
            if (!std::isfinite(v))
                continue;
            const double yv =
                std::clamp(r.bottom() - (v - range.Low) * scale, r.top() - 2.0, r.bottom() + 2.0);
            line << QPointF(XOf(double(s.Ms)), yv);
        }
        flush();
    }
    p.setClipping(false);
}

} // namespace orvi::widgets
