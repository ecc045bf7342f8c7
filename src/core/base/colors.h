#pragma once

// Colour values are 32 bits, 0x00BBGGRR with red in the low byte. A value
// with the top bit set refers to a system colour by the index in its low
// byte and is resolved through the system-colour table wherever a pixel
// colour is needed.

#include <cstdint>
#include <string>

namespace sw {

using TColor = uint32_t;

constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr int kSystemColorCount = 31;

constexpr TColor RGB(uint8_t red, uint8_t green, uint8_t blue)
{
    return static_cast<TColor>(red) | (static_cast<TColor>(green) << 8) | (static_cast<TColor>(blue) << 16);
}
constexpr uint8_t GetRValue(TColor color)
{
    return static_cast<uint8_t>(color);
}
constexpr uint8_t GetGValue(TColor color)
{
    return static_cast<uint8_t>(color >> 8);
}
constexpr uint8_t GetBValue(TColor color)
{
    return static_cast<uint8_t>(color >> 16);
}
constexpr bool IsSystemColor(TColor color)
{
    return (color & 0x80000000u) != 0;
}

// RGB of a colour value; system colour references are looked up. The table
// starts with fixed values (button face 240, 240, 240) and the desktop
// program replaces them with its palette's colours.
TColor ColorToRGB(TColor color);
// "RRGGBB" in upper-case hex digits, as projects and pages write colours.
std::string HexRgb(TColor color);
void SetSystemColor(int index, TColor rgb);

} // namespace sw
