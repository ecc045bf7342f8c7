#pragma once

// Adaptive palettes: a palette of 2 to 256 colours made for one picture, and
// the mapping of its pixels to palette indices, plain or dithered. Works on
// plain rows, so any pixel store can hand its pixels over. Nothing here starts
// a thread: callers run one cell per thread.

#include "core/imaging/palette/palette_color.h"
#include "core/imaging/pixel_view.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sw {

enum class TDither {
    None,
    FloydSteinberg, // error diffusion, rows walked in serpentine order
    Ordered, // an 8 x 8 threshold pattern
};

constexpr int kMinPaletteColors = 2;
constexpr int kMaxPaletteColors = 256;

struct TPalette {
    // The transparent colour's entry first, then the others by descending
    // pixel count (ties by red, green, blue).
    std::vector<TPaletteColor> Colors;
    // 0 when the picture has pixels of the transparent colour, else -1.
    int TransparentIndex = -1;
    // Every colour of the picture has an entry of its own: mapping is
    // lossless and ignores dithering.
    bool Exact = false;
};

// A palette of at most maxColors entries (2..256) for the view. When the view
// has at most that many colours, they are the palette (Exact). The
// transparent colour, when given and present, gets an entry of its own that
// no other pixel maps to; the others share the remaining entries. The same
// view always gives the same palette. An empty view gives an empty palette.
// Fails with EInvalidGraphicOperation for a count outside 2..256 or a
// malformed view, and with the readers' size message beyond their pixel limit.
TPalette MakePalette(
    const TPixelView& view, int maxColors, std::optional<TPaletteColor> transparent = std::nullopt);

// Writes the palette index of every pixel: row y of the indices starts at
// indices + y * indexStride, width bytes. Pixels of the palette's transparent
// colour get its entry and only they do; the others get their nearest entry
// (squared distance in red, green, blue), dithered as asked unless the palette
// is exact. Fails with EInvalidGraphicOperation for a palette of no or more
// than 256 entries, or with no entry a pixel may use.
void MapToPalette(
    const TPixelView& view, const TPalette& palette, TDither dither, uint8_t* indices, ptrdiff_t indexStride);

} // namespace sw
