#include "core/base/colors.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace sw {

namespace {

// Colours without a display, indexed like the classic system-colour numbers.
std::array<TColor, kSystemColorCount> g_systemColors = {
    RGB(200, 200, 200), // 0 scroll bar
    RGB(0, 0, 0), // 1 background
    RGB(0, 84, 227), // 2 active caption
    RGB(122, 150, 223), // 3 inactive caption
    RGB(240, 240, 240), // 4 menu
    RGB(255, 255, 255), // 5 window
    RGB(100, 100, 100), // 6 window frame
    RGB(0, 0, 0), // 7 menu text
    RGB(0, 0, 0), // 8 window text
    RGB(255, 255, 255), // 9 caption text
    RGB(212, 208, 200), // 10 active border
    RGB(212, 208, 200), // 11 inactive border
    RGB(128, 128, 128), // 12 application workspace
    RGB(49, 106, 197), // 13 highlight
    RGB(255, 255, 255), // 14 highlight text
    RGB(240, 240, 240), // 15 button face
    RGB(160, 160, 160), // 16 button shadow
    RGB(109, 109, 109), // 17 grey text
    RGB(0, 0, 0), // 18 button text
    RGB(0, 0, 0), // 19 inactive caption text
    RGB(255, 255, 255), // 20 button highlight
    RGB(105, 105, 105), // 21 3-D dark shadow
    RGB(227, 227, 227), // 22 3-D light
    RGB(0, 0, 0), // 23 info text
    RGB(255, 255, 225), // 24 info background
    RGB(0, 0, 0), // 25
    RGB(0, 102, 204), // 26 hot light
    RGB(185, 209, 234), // 27 gradient active caption
    RGB(215, 228, 242), // 28 gradient inactive caption
    RGB(51, 153, 255), // 29 menu highlight
    RGB(240, 240, 240), // 30 menu bar
};

} // namespace

TColor ColorToRGB(TColor color)
{
    if (!IsSystemColor(color))
        return color;
    const unsigned index = color & 0xFFu;
    return index < g_systemColors.size() ? g_systemColors[index] : 0;
}

void SetSystemColor(int index, TColor rgb)
{
    if (index >= 0 && index < kSystemColorCount)
        g_systemColors[static_cast<std::size_t>(index)] = rgb & 0xFFFFFFu;
}

std::string HexRgb(TColor color)
{
    char text[7];
    std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

} // namespace sw
