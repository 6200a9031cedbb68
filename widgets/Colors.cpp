#include "widgets/Colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace orvi::widgets {

namespace {

// System colour indices of the original platform mapped to the nearest palette role.
QPalette::ColorRole SystemRole(unsigned index) {
    switch (index) {
    case 5: // window
        return QPalette::Base;
    case 7: // menu text
    case 8: // window text
    case 9: // caption text
        return QPalette::WindowText;
    case 13: // highlight
        return QPalette::Highlight;
    case 14: // highlighted text
        return QPalette::HighlightedText;
    case 15: // button face
        return QPalette::Button;
    case 18: // button text
        return QPalette::ButtonText;
    case 23: // tooltip text
        return QPalette::ToolTipText;
    case 24: // tooltip background
        return QPalette::ToolTipBase;
    default:
        return QPalette::Window;
    }
}

} // namespace

QColor ToQColor(TColor color) {
    if ((color & 0xFF000000u) == clSystemColor) {
        return QGuiApplication::palette().color(SystemRole(color & 0xFFu));
    }
    return QColor(int(color & 0xFF), int(color >> 8 & 0xFF), int(color >> 16 & 0xFF));
}

TColor FromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return RGBColor(rgb.red(), rgb.green(), rgb.blue());
}

} // namespace orvi::widgets
