#include "ui/SorvColor.h"

#include <QColor>
#include <QPalette>

namespace kds {

namespace {

// System colour numbers as the stored codes use them, mapped to the nearest
// role of the toolkit's palette.
QPalette::ColorRole RoleOfSystemColor(unsigned Index, bool& Disabled) {
    Disabled = false;
    switch (Index) {
    case 0:
        return QPalette::Button; // scroll bar
    case 1:
        return QPalette::Window; // desktop
    case 2:
        return QPalette::Highlight; // active caption
    case 3:
        return QPalette::Button; // inactive caption
    case 4:
        return QPalette::Window; // menu
    case 5:
        return QPalette::Base; // window
    case 6:
        return QPalette::Shadow; // window frame
    case 7:
        return QPalette::WindowText; // menu text
    case 8:
        return QPalette::WindowText; // window text
    case 9:
        return QPalette::HighlightedText; // caption text
    case 13:
        return QPalette::Highlight; // highlight
    case 14:
        return QPalette::HighlightedText; // highlight text
    case 15:
        return QPalette::Button; // button face
    case 16:
        return QPalette::Dark; // button shadow
    case 17:
        Disabled = true;
        return QPalette::Text; // grey text
    case 18:
        return QPalette::ButtonText; // button text
    case 20:
        return QPalette::Light; // button highlight
    case 21:
        return QPalette::Shadow; // 3-D dark shadow
    case 22:
        return QPalette::Midlight; // 3-D light
    case 23:
        return QPalette::ToolTipText; // info text
    case 24:
        return QPalette::ToolTipBase; // info background
    default:
        return QPalette::Window;
    }
}

} // namespace

QColor ColorToQColor(TColor Color, const QPalette& Palette) {
    if (IsSystemColor(Color)) {
        bool Disabled = false;
        const QPalette::ColorRole Role = RoleOfSystemColor(Color & 0xFFu, Disabled);
        return Palette.color(Disabled ? QPalette::Disabled : QPalette::Active, Role);
    }
    return QColor(int(Color & 0xFFu), int((Color >> 8) & 0xFFu), int((Color >> 16) & 0xFFu));
}

TColor ColorFromQColor(const QColor& Color) {
    return TColor(Color.red()) | (TColor(Color.green()) << 8) | (TColor(Color.blue()) << 16);
}

} // namespace kds
