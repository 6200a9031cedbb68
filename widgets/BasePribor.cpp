#include "widgets/BasePribor.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace orvi::widgets {

namespace {

constexpr int kMinSide = 25;
constexpr int kDefaultSide = 100;
constexpr int kMinGridWidth = 1;
constexpr int kMaxGridWidth = 10;

// Changes whenever the application palette, and with it a system colour, changes.
qint64 PaletteKey() {
    return QGuiApplication::palette().cacheKey();
}

} // namespace

TBasePribor::TBasePribor(QWidget* owner)
    : QWidget(owner), FTableColor(clBlack), FBackColor(clGray), FRoundColor(clBlack),
      FGridColor(clGreen), FGridWidth(5), FTableChanged(true) {
    // Every pixel of the rectangle is painted, so Qt need not paint what lies beneath.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(kMinSide, kMinSide);
    FFont.SetColor(clWhite);
    FFont.SetSize(12);
    FFont.SetStyle(unsigned(TFontStyle::fsBold));
    FFont.SetOnChange([this] { FontChanged(); });
    resize(kDefaultSide, kDefaultSide);
}

TBasePribor::~TBasePribor() = default;

void TBasePribor::SetFaceColor(TColor& field, TColor value) {
    if (value == field) {
        return;
    }
    field = value;
    FTableChanged = true;
    Repaint();
}

void TBasePribor::SetTableColor(TColor value) {
    SetFaceColor(FTableColor, value);
}
void TBasePribor::SetBackColor(TColor value) {
    SetFaceColor(FBackColor, value);
}
void TBasePribor::SetRoundColor(TColor value) {
    SetFaceColor(FRoundColor, value);
}
void TBasePribor::SetGridColor(TColor value) {
    SetFaceColor(FGridColor, value);
}

void TBasePribor::SetGridWidth(int value) {
    if (value < kMinGridWidth || value > kMaxGridWidth || value == FGridWidth) {
        return;
    }
    FGridWidth = value;
    FTableChanged = true;
    Repaint();
}

void TBasePribor::FontChanged() {
    FTableChanged = true;
    Repaint();
}

bool TBasePribor::TableOutdated() const {
    return FTableChanged || FTableSize != size() || FTableRatio != devicePixelRatioF() ||
           FTablePalette != PaletteKey();
}

void TBasePribor::UpdateTable() {
    if (!TableOutdated()) {
        return;
    }
    // Marked current and sized first, so that DrawTable sees a current face of the widget's
    // size, and a mark it sets itself asks for another rebuild.
    FTableChanged = false;
    const qreal ratio = devicePixelRatioF();
    FTableBitmap = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    FTableBitmap.setDevicePixelRatio(ratio);
    FTableSize = size();
    FTableRatio = ratio;
    FTablePalette = PaletteKey();
    FTableBitmap.fill(Qt::transparent);
    QPainter canvas(&FTableBitmap);
    DrawTable(canvas);
}

void TBasePribor::DrawTable(QPainter& /*canvas*/) {}

void TBasePribor::Paint(QPainter& /*canvas*/) {
    UpdateTable();
}

void TBasePribor::Repaint() {
    FSurfaceCurrent = false;
    if (!isVisible()) {
        return;
    }
    PaintSurface();
    update();
}

void TBasePribor::PaintSurface() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (FSurface.size() != pixels || FSurface.devicePixelRatio() != ratio) {
        FSurface = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        FSurface.setDevicePixelRatio(ratio);
        FSurface.fill(Qt::transparent);
    }
    FSurfacePalette = PaletteKey();
    QPainter canvas(&FSurface);
    Paint(canvas);
    FSurfaceCurrent = true;
}

bool TBasePribor::PaintInputsChanged() const {
    return FSurfacePalette != PaletteKey();
}

void TBasePribor::paintEvent(QPaintEvent* /*event*/) {
    if (!FSurfaceCurrent || FSurface.size() != size() * devicePixelRatioF() || TableOutdated() ||
        PaintInputsChanged()) {
        PaintSurface();
    }
    QPainter(this).drawImage(QPoint(0, 0), FSurface);
}

} // namespace orvi::widgets
