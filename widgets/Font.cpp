#include "widgets/Font.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace orvi::widgets {

namespace {

constexpr int kPixelsPerInch = 96;
constexpr int kDefaultHeight = -11;
// The cell height of a positive height is converted with the face's own proportions; this is
// the size the proportions are measured at.
constexpr int kProbePixelSize = 100;
// Keeps absurd heights from reaching the glyph rasteriser.
constexpr int kMaxPixelSize = 4096;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

int PixelSizeForCell(const QFont& font, int cellHeight) {
    QFont probe = font;
    probe.setPixelSize(kProbePixelSize);
    const int probeHeight = QFontMetrics(probe).height();
    if (probeHeight <= 0) {
        return cellHeight;
    }
    return std::max(1, MulDiv(cellHeight, kProbePixelSize, probeHeight));
}

// Windows face names the instruments and the console use, and faces of the same widths that
// free systems carry. Qt tries them only when the named face itself is missing.
void AddWindowsFaceSubstitutes() {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans")});
}

} // namespace

TFont::TFont()
    : FName(QStringLiteral("MS Sans Serif")), FHeight(kDefaultHeight), FStyle(0),
      FColor(clWindowText), FCharset(DEFAULT_CHARSET) {}

TFont::TFont(const TFont& other)
    : FName(other.FName), FHeight(other.FHeight), FStyle(other.FStyle), FColor(other.FColor),
      FCharset(other.FCharset) {}

TFont& TFont::operator=(const TFont& other) {
    if (this == &other || *this == other) {
        return *this;
    }
    FName = other.FName;
    FHeight = other.FHeight;
    FStyle = other.FStyle;
    FColor = other.FColor;
    FCharset = other.FCharset;
    Changed();
    return *this;
}

bool TFont::operator==(const TFont& other) const {
    return FName == other.FName && FHeight == other.FHeight && FStyle == other.FStyle &&
           FColor == other.FColor && FCharset == other.FCharset;
}

void TFont::SetName(const QString& name) {
    if (name != FName) {
        FName = name;
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (height != FHeight) {
        FHeight = height;
        Changed();
    }
}

int TFont::Size() const {
    return -MulDiv(FHeight, 72, kPixelsPerInch);
}

void TFont::SetSize(int points) {
    SetHeight(-MulDiv(points, kPixelsPerInch, 72));
}

void TFont::SetStyle(TFontStyles style) {
    if (style != FStyle) {
        FStyle = style;
        Changed();
    }
}

void TFont::SetColor(TColor color) {
    if (color != FColor) {
        FColor = color;
        Changed();
    }
}

void TFont::SetCharset(int charset) {
    if (charset != FCharset) {
        FCharset = charset;
        Changed();
    }
}

void TFont::Changed() {
    if (FOnChange) {
        FOnChange();
    }
}

QFont TFont::ToQFont() const {
    static const bool substitutesAdded = (AddWindowsFaceSubstitutes(), true);
    (void)substitutesAdded;
    QFont font(FName);
    font.setStyleHint(QFont::SansSerif);
    font.setBold(HasStyle(FStyle, TFontStyle::fsBold));
    font.setItalic(HasStyle(FStyle, TFontStyle::fsItalic));
    font.setUnderline(HasStyle(FStyle, TFontStyle::fsUnderline));
    font.setStrikeOut(HasStyle(FStyle, TFontStyle::fsStrikeOut));
    int pixels = -kDefaultHeight;
    if (FHeight < 0) {
        pixels = -static_cast<long long>(FHeight) > kMaxPixelSize ? kMaxPixelSize : -FHeight;
    } else if (FHeight > 0) {
        pixels = PixelSizeForCell(font, std::min(FHeight, kMaxPixelSize));
    }
    font.setPixelSize(pixels);
    return font;
}

} // namespace orvi::widgets
