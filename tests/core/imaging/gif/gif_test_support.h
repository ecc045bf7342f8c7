#pragma once

// Bitmaps built pixel by pixel for the GIF tests.

#include "imaging/bitmap.h"

#include <cstdint>
#include <vector>

namespace sw::test {

// A 24-bit bitmap of width x height from RGB colours given row by row.
inline TBitmap MakeBitmap24(int width, int height, const std::vector<TColor>& pixels)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const TColor color = pixels[static_cast<size_t>(y * width + x)];
            row[x * 3] = GetBValue(color);
            row[x * 3 + 1] = GetGValue(color);
            row[x * 3 + 2] = GetRValue(color);
        }
    }
    return bitmap;
}

// A cell as the slicing pipeline hands it over: transparent flag set and
// the transparent colour fixed.
inline TBitmap MakeCell(int width, int height, const std::vector<TColor>& pixels, TColor transparent)
{
    TBitmap bitmap = MakeBitmap24(width, height, pixels);
    bitmap.SetTransparent(true);
    bitmap.SetTransparentColor(transparent);
    return bitmap;
}

} // namespace sw::test
