#pragma once

// Bitmaps built pixel by pixel for the GIF tests.

#include "core/imaging/bitmap.h"
#include "support/imaging_fixtures.h"

#include <vector>

namespace sw::test {

// A 24-bit bitmap of width x height from RGB colours given row by row.
inline TBitmap MakeBitmap24(int width, int height, const std::vector<TColor>& pixels)
{
    return MakeBitmap24With(
        width, height, [&](int x, int y) { return pixels[static_cast<size_t>(y * width + x)]; });
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
