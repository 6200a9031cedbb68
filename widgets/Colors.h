#pragma once
// Colour values at the widgets' property boundary: 32 bits, 0x00BBGGRR (red in the lowest byte),
// as layouts and callers give them (20123 is brown, RGB 155, 78, 0). A value whose high byte is
// 0xFF names a system colour by its index in the low byte and is resolved through the
// application's palette. Inside the widgets colours are QColor.
#include <QColor>
#include <cstdint>

namespace orvi::widgets {

using TColor = std::uint32_t;

constexpr TColor RGBColor(int r, int g, int b) {
    return TColor(r & 0xFF) | TColor(g & 0xFF) << 8 | TColor(b & 0xFF) << 16;
}

constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clGray = RGBColor(128, 128, 128);
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clLime = RGBColor(0, 255, 0);
constexpr TColor clYellow = RGBColor(255, 255, 0);
constexpr TColor clBlue = RGBColor(0, 0, 255);
constexpr TColor clWhite = RGBColor(255, 255, 255);
constexpr TColor clMaroon = RGBColor(128, 0, 0);

constexpr TColor clSystemColor = 0xFF000000;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBtnFace = clSystemColor | 15;

// An RGB value (high byte 0) as it reads; a system colour from the palette. Other high bytes
// (palette indices and palette-relative values of the original platform) keep only their
// RGB part.
QColor ToQColor(TColor color);

// The RGB value of an opaque colour; alpha is dropped.
TColor FromQColor(const QColor& color);

} // namespace orvi::widgets
