#pragma once

// PNG files out, for cells: the smallest lossless file the writer can
// find. Only the chunks a browser needs are written (IHDR, PLTE, tRNS,
// IDAT, IEND), never interlaced; each candidate layout is filtered and
// deflated several ways and the shortest result is kept.

#include "core/base/colors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sw {

struct TPngOptions {
    // Pixels of this colour (0x00BBGGRR, alpha ignored) are written fully
    // transparent.
    std::optional<TColor> TransparentColor;
};

// Truecolour PNG of the pixels, lossless: any PNG decoder gives back
// exactly the view's colours (and alpha for an RGBA view). The file may
// still be grey or paletted, with a tRNS entry or an alpha channel,
// whichever is smallest for these pixels. EInvalidGraphicOperation for an
// empty view.
std::vector<uint8_t> WritePng(const TPixelView& pixels, const TPngOptions& options = {});

// A paletted picture from its maker: Width x Height palette indices, rows
// top-down without padding, and the colour that is transparent, if any.
struct TIndexedPixels {
    std::span<const TRGBQuad> Palette; // 1 to 256 entries
    std::span<const uint8_t> Indices;
    int Width = 0;
    int Height = 0;
    std::optional<int> TransparentIndex;
};

// Paletted PNG with a tRNS entry for the transparent index: unused palette
// entries are dropped, the transparent entry goes first, and the bit depth
// is the smallest that holds the rest. EInvalidGraphicOperation when an
// index is outside the palette or the sizes do not agree.
std::vector<uint8_t> WritePng8(const TIndexedPixels& pixels);

} // namespace sw
