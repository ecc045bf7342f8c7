#pragma once

// Pictures and graphics shared by the imaging tests.

#include "core/imaging/bitmap.h"

#include <cstdint>

namespace sw::test {

// A graphic kind that cannot turn itself into a bitmap, nor take one.
class TOtherGraphic : public TGraphic {
public:
    const char* ClassName() const override { return "TOtherGraphic"; }
    int Width() const override { return 3; }
    int Height() const override { return 2; }
    bool Empty() const override { return false; }
    void SetWidth(int) override { }
    void SetHeight(int) override { }
    void LoadFromStream(TStream&) override { }
    void SaveToStream(TStream&) override { }
    void Draw(TCanvas&, const TRect&) override { }
};

// A 24-bit bitmap of width x height whose pixel (x, y) is colorAt(x, y),
// an RGB colour.
template <typename ColorAt> TBitmap MakeBitmap24With(int width, int height, ColorAt colorAt)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const TColor color = colorAt(x, y);
            row[3 * x] = GetBValue(color);
            row[3 * x + 1] = GetGValue(color);
            row[3 * x + 2] = GetRValue(color);
        }
    }
    return bitmap;
}

} // namespace sw::test
