#pragma once

#include <cstdint>

class QColor;
class QPalette;

namespace kds {

// A colour as the window definitions store it: $00BBGGRR, red in the low
// byte. A value whose high byte is $FF names a system colour by its low byte;
// such codes are stored, compared and inverted as they are and become a real
// colour only when something is painted (ColorToQColor).
using TColor = std::uint32_t;

inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clHighlight = 0xFF00000D;
inline constexpr TColor clHighlightText = 0xFF00000E;
inline constexpr TColor clBtnFace = 0xFF00000F;
inline constexpr TColor clWindow = 0xFF000005;

// The bitwise complement of the three low bytes, high byte cleared. Works on
// the stored value, so a system colour is inverted as its code
// ($FF00000F gives $00FFFFF0). Pure; any thread.
constexpr TColor InvertColor(TColor Color) {
    return ~Color & 0x00FFFFFFu;
}

// True when Color names a system colour rather than giving red, green, blue.
constexpr bool IsSystemColor(TColor Color) {
    return (Color & 0xFF000000u) == 0xFF000000u;
}

// The colour to paint with: plain values give their red, green and blue; a
// system colour code is looked up in Palette (button face -> Button,
// highlight -> Highlight, window text -> WindowText, ...; unknown codes give
// Window). Any high byte other than $00 and $FF is ignored. Window thread.
QColor ColorToQColor(TColor Color, const QPalette& Palette);

// The $00BBGGRR value of a painted colour (alpha dropped).
TColor ColorFromQColor(const QColor& Color);

} // namespace kds
