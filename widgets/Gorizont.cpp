#include "widgets/Gorizont.h"

#include "widgets/HorizonGeometry.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>

namespace orvi::widgets {

namespace {

constexpr int kDefaultSectors = 4;
constexpr int kMinSectors = 2;
constexpr int kMaxSectors = 24;
constexpr double kDefaultRadius = 0.8;
constexpr double kMinRadius = 0.5;
constexpr double kMaxRadius = 1.0;

// Pens join and end round, like the wide pens of the original drawing.
QPen Pen(TColor color, int width) {
    return QPen(ToQColor(color), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Integer coordinates name pixels; a pixel's centre lies half a unit into it.
QPointF At(const Point& p) {
    return {p.x + 0.5, p.y + 0.5};
}

// A box whose right and bottom edges are exclusive, as the outline through the centres of its
// edge pixels.
QRectF Outline(const Box& b) {
    return {b.left + 0.5, b.top + 0.5, double(b.right - b.left - 1), double(b.bottom - b.top - 1)};
}

// Draws `text` with the top-left corner of its cell at `corner`.
void TextOut(QPainter& canvas, const QPointF& corner, const QString& text) {
    canvas.drawText(QPointF(corner.x(), corner.y() + canvas.fontMetrics().ascent()), text);
}

TextSize Measure(const QFontMetrics& metrics, const QString& text) {
    return {metrics.horizontalAdvance(text), metrics.height()};
}

} // namespace

TGorizont::TGorizont(QWidget* owner)
    : TBasePribor(owner), FIndColor(clYellow), FIndWidth(1), FAirColor(clBlue),
      FGroundColor(clYellow), FTangaj(0.0), FKren(0.0), FSectors(kDefaultSectors),
      FRadius(kDefaultRadius), FShowSign(true) {
    FIndFont.SetName(QStringLiteral("Verdana"));
}

TGorizont::~TGorizont() = default;

void TGorizont::SetIndicatorColor(TColor& field, TColor value) {
    if (value != field) {
        field = value;
        Repaint();
    }
}

void TGorizont::SetIndColor(TColor value) {
    SetIndicatorColor(FIndColor, value);
}
void TGorizont::SetAirColor(TColor value) {
    SetIndicatorColor(FAirColor, value);
}
void TGorizont::SetGroundColor(TColor value) {
    SetIndicatorColor(FGroundColor, value);
}

void TGorizont::SetIndWidth(int value) {
    if (value != FIndWidth) {
        FIndWidth = value;
        Repaint();
    }
}

void TGorizont::SetTangaj(double value) {
    if (!(value >= -90.0 && value <= 90.0) || value == FTangaj) {
        return;
    }
    FTangaj = value;
    Repaint();
}

void TGorizont::SetKren(double value) {
    if (!(value >= -180.0 && value <= 180.0) || value == FKren) {
        return;
    }
    FKren = value;
    Repaint();
}

void TGorizont::SetKrenTangaj(double kren, double tangaj) {
    if (!(kren >= -180.0 && kren <= 180.0) || !(tangaj >= -90.0 && tangaj <= 90.0)) {
        return;
    }
    if (kren == FKren && tangaj == FTangaj) {
        return;
    }
    FKren = kren;
    FTangaj = tangaj;
    Repaint();
}

void TGorizont::SetSectors(int value) {
    if (value < kMinSectors || value > kMaxSectors) {
        value = kDefaultSectors;
    }
    if (value == FSectors) {
        return;
    }
    FSectors = value;
    MarkTableChanged();
    Repaint();
}

void TGorizont::SetRadius(double value) {
    if (!(value >= kMinRadius && value <= kMaxRadius)) {
        value = kDefaultRadius;
    }
    if (value == FRadius) {
        return;
    }
    FRadius = value;
    MarkTableChanged();
    Repaint();
}

void TGorizont::SetShowSign(bool value) {
    if (value == FShowSign) {
        return;
    }
    FShowSign = value;
    MarkTableChanged();
    Repaint();
}

void TGorizont::SetIndFont(const TFont& value) {
    FIndFont = value;
    Repaint();
}

QString TGorizont::ReadoutText() const {
    return QString::fromStdString(FormatFixed(FTangaj, 1))
        .replace(QLatin1Char('.'), QLocale().decimalPoint());
}

void TGorizont::resizeEvent(QResizeEvent* event) {
    TBasePribor::resizeEvent(event);
    if (height() != width()) {
        resize(width(), width());
    }
}

bool TGorizont::PaintInputsChanged() const {
    return TBasePribor::PaintInputsChanged() || !(FIndFont == FPaintedIndFont) ||
           ReadoutText() != FPaintedReadout;
}

void TGorizont::Paint(QPainter& canvas) {
    TBasePribor::Paint(canvas);
    DrawHorizon(canvas);
}

void TGorizont::DrawTable(QPainter& canvas) {
    const int w = width();
    const int h = height();
    canvas.setRenderHint(QPainter::Antialiasing);
    canvas.setFont(Font().ToQFont());
    canvas.fillRect(QRect(0, 0, w, h), ToQColor(BackColor()));

    canvas.setPen(Pen(TableColor(), 5));
    canvas.setBrush(ToQColor(TableColor()));
    const double corner = (w / 4) / 2.0;
    canvas.drawRoundedRect(Outline({0, 0, w, h}), corner, corner);

    canvas.setPen(Pen(RoundColor(), 15));
    canvas.setBrush(ToQColor(RoundColor()));
    canvas.drawEllipse(Outline({0, 0, w, h}));

    const QFontMetrics metrics = canvas.fontMetrics();
    const auto measure = [&metrics](const std::string& s) {
        return Measure(metrics, QString::fromStdString(s));
    };
    const ScaleLayout scale = LayoutScale(w, h, FRadius, FSectors, GridWidth(), FShowSign, measure);
    const QPen grid = Pen(GridColor(), GridWidth());
    const QColor textColor = ToQColor(Font().Color());
    canvas.setBrush(Qt::NoBrush);
    for (const ScaleMark& mark : scale.marks) {
        canvas.setPen(grid);
        canvas.drawLine(At(mark.tick.from), At(mark.tick.to));
        canvas.setPen(textColor);
        TextOut(canvas, QPointF(mark.textCorner.x, mark.textCorner.y),
                QString::fromStdString(mark.text));
    }

    DrawBezelOverlay(canvas.device()->devicePixelRatio());
}

void TGorizont::DrawHorizon(QPainter& canvas) {
    canvas.setCompositionMode(QPainter::CompositionMode_Source);
    canvas.drawImage(0, 0, TableBitmap());
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    canvas.setRenderHint(QPainter::Antialiasing);

    const HorizonLayout hz = LayoutHorizon(width(), FRadius, FKren, FTangaj);
    DrawSkyAndGround(canvas, hz);
    DrawReadout(canvas, hz);

    // The bezel ring, from the overlay drawn with the face: only its box is composited.
    const qreal ratio = FBezelBitmap.devicePixelRatio();
    const Box& b = hz.bezel;
    const QRect box = QRect(b.left - 2, b.top - 2, b.right - b.left + 4, b.bottom - b.top + 4)
                          .intersected(rect());
    const QRect source(box.topLeft() * ratio, box.size() * ratio);
    canvas.drawImage(QRectF(box), FBezelBitmap, QRectF(source));
}

void TGorizont::DrawBezelOverlay(qreal ratio) {
    QImage overlay(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    overlay.setDevicePixelRatio(ratio);
    overlay.fill(Qt::transparent);
    QPainter ring(&overlay);
    ring.setRenderHint(QPainter::Antialiasing);
    ring.setPen(Pen(RoundColor(), 3));
    ring.setBrush(Qt::NoBrush);
    ring.drawEllipse(Outline(BezelBox(width(), FRadius)));
    ring.end();
    FBezelBitmap = std::move(overlay);
}

void TGorizont::DrawSkyAndGround(QPainter& canvas, const HorizonLayout& hz) {
    canvas.setPen(Pen(TableColor(), 1));
    canvas.setBrush(ToQColor(FGroundColor));
    canvas.drawEllipse(Outline(hz.groundDisc));
    if (!hz.sky) {
        return;
    }
    QPolygonF outline;
    outline.reserve(kSkyPoints);
    for (const Point& p : hz.sky->points) {
        outline << At(p);
    }
    canvas.setPen(Pen(FAirColor, 1));
    canvas.setBrush(ToQColor(FAirColor));
    canvas.drawPolygon(outline);
}

// The reference diameter, the roll pointer and the pitch read-out turned by the roll.
void TGorizont::DrawReadout(QPainter& canvas, const HorizonLayout& hz) {
    const QString text = ReadoutText();
    FPaintedIndFont = FIndFont;
    FPaintedReadout = text;
    canvas.setFont(FIndFont.ToQFont());
    const ReadoutLayout ro = LayoutReadout(hz, FKren, Measure(canvas.fontMetrics(), text));

    // The width is not range-checked; keep what reaches the stroker finite and non-negative.
    const int penWidth = std::clamp(FIndWidth, 0, std::max(1, 2 * width()));
    canvas.setBrush(Qt::NoBrush);
    canvas.setPen(Pen(FIndColor, penWidth));
    canvas.drawLine(At(hz.diameter.from), At(hz.diameter.to));
    canvas.drawLine(At(ro.pointer.from), At(ro.pointer.to));

    // The text turns clockwise by the roll about its top-left corner.
    canvas.save();
    canvas.translate(ro.cornerRounded.x, ro.cornerRounded.y);
    canvas.rotate(-ro.escapement / 10.0);
    canvas.setPen(ToQColor(FIndFont.Color()));
    TextOut(canvas, QPointF(0, 0), text);
    canvas.restore();
}

} // namespace orvi::widgets
