#pragma once

// The pixel layouts a bitmap's store can have and its colour-table entry:
// what the bitmap (bitmap.h) and its store (bitmap_image.h) both speak.

#include <cstdint>

namespace sw {

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

struct TRGBQuad {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    uint8_t Reserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

// The display here is true colour: device bitmaps are 24 bits per pixel,
// rows of blue, green, red.
constexpr int kDisplayBitsPerPixel = 24;

} // namespace sw
