#pragma once
// The horizon as the main window lays it out: 193 x 193 with the window's property values.
#include "widgets/Gorizont.h"

namespace orvi::widgets::test {

inline constexpr int kMainWindowSide = 193;
inline constexpr TColor kMainWindowGround = 20123; // brown, RGB 155, 78, 0

inline void ApplyMainWindowValues(TGorizont& g) {
    g.resize(kMainWindowSide, kMainWindowSide);
    TFont font;
    font.SetName(QStringLiteral("MS Sans Serif"));
    font.SetHeight(-11);
    font.SetColor(clWhite);
    g.SetFont(font);
    g.SetTableColor(clBlack);
    g.SetBackColor(clGray);
    g.SetRoundColor(clBlack);
    g.SetGridColor(clLime);
    g.SetGridWidth(5);
    g.SetIndColor(clYellow);
    g.SetIndWidth(1);
    g.SetAirColor(clBlue);
    g.SetGroundColor(kMainWindowGround);
    g.SetSectors(9);
    g.SetRadius(0.67);
    g.SetShowSign(true);
    TFont ind;
    ind.SetName(QStringLiteral("Verdana"));
    ind.SetHeight(-19);
    ind.SetColor(clWhite);
    ind.SetCharset(RUSSIAN_CHARSET);
    g.SetIndFont(ind);
}

} // namespace orvi::widgets::test
