#pragma once

// A read-only window on pixels that belong to the caller, as the cell
// writers take them: a bitmap's 24-bit rows as they are, or RGBA when a
// picture's own alpha is kept.

#include <cstddef>
#include <cstdint>

namespace sw {

enum class TPixelLayout {
    // Blue, green, red per pixel: the byte order of a pf24bit TBitmap row.
    Bgr24,
    // Red, green, blue, alpha per pixel; alpha is straight (not premultiplied).
    Rgba32,
};

struct TPixelView {
    const uint8_t* Data = nullptr; // the top row
    int Width = 0;
    int Height = 0;
    // Bytes from the start of one row to the start of the next.
    ptrdiff_t Stride = 0;
    TPixelLayout Layout = TPixelLayout::Bgr24;

    int BytesPerPixel() const { return Layout == TPixelLayout::Bgr24 ? 3 : 4; }
    const uint8_t* Row(int y) const { return Data + Stride * y; }
};

} // namespace sw
