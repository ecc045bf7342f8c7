#pragma once

// SVG designs in, drawn through librsvg at the render options' scale (the
// nominal size at 96 pixels to the inch, as browsers draw it) onto white.
// The nominal size is the root's width and height, or its viewBox when those
// are missing or relative. Nothing outside the file is loaded: references to
// other files and addresses are left undrawn.
//
// A file librsvg cannot read gives "SVG image is not valid (REASON)"; a
// drawing larger than the pixel limit, or wider or taller than 32767 pixels
// (cairo's bound), is refused before it is drawn.
// librsvg's own limits bound the work a hostile file can cause (elements
// loaded, references followed, the depth of nesting).

#include "core/imaging/bitmap.h"
#include "core/imaging/vector/vector_render.h"

#include <cstdint>
#include <span>

namespace sw {

// The nominal size, in pixels at scale 1, before rounding.
struct TSvgSize {
    double Width = 0;
    double Height = 0;
};
TSvgSize ReadSvgSize(std::span<const uint8_t> bytes);

// The drawing as a 24-bit bitmap. On failure the bitmap is left as it was.
void ReadSvgBitmap(std::span<const uint8_t> bytes, const TRenderOptions& render, TBitmap& bitmap);

} // namespace sw
